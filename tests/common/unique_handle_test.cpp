// The owner of OS handles, over a kind whose handles are plain numbers and whose closes are
// recorded: every handle it took is closed exactly once, unless it was handed back.
#include "common/unique_handle.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

namespace veltran {
namespace {

std::vector<int> closed;
std::function<void()> duringClose;

// The two empty values the OS kinds use: -1 (descriptors, file handles) and null.
template <int kEmpty>
struct RecordingTraits {
  using Handle = int;
  static Handle Empty() { return kEmpty; }
  static void Close(Handle h) {
    closed.push_back(h);
    if (duringClose) duringClose();
  }
};

template <class Traits>
class UniqueHandleKinds : public ::testing::Test {
 protected:
  void SetUp() override { closed.clear(); }
};
using Kinds = ::testing::Types<RecordingTraits<-1>, RecordingTraits<0>>;
TYPED_TEST_SUITE(UniqueHandleKinds, Kinds);

TYPED_TEST(UniqueHandleKinds, ClosesEveryOwnedHandleExactlyOnce) {
  using Owner = UniqueHandle<TypeParam>;
  const int empty = TypeParam::Empty();
  {
    Owner first(5);
    Owner second(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_EQ(first.get(), empty);
    Owner third(7);
    third = std::move(second);
    EXPECT_EQ(closed, std::vector<int>{7});
    Owner& same = third;  // moved onto itself: keeps what it holds
    third = std::move(same);
    EXPECT_EQ(third.get(), 5);
    third.Reset(9);
    EXPECT_EQ(closed, (std::vector<int>{7, 5}));
    EXPECT_EQ(third.Release(), 9);
    EXPECT_FALSE(third);
    third.Reset();
    Owner last(8);
  }
  // 9 was handed back; the moved-from and emptied owners closed nothing.
  EXPECT_EQ(closed, (std::vector<int>{7, 5, 8}));
}

TYPED_TEST(UniqueHandleKinds, OnlyTheKindsOwnEmptyValueOwnsNothing) {
  using Owner = UniqueHandle<TypeParam>;
  const int other = TypeParam::Empty() == 0 ? -1 : 0;
  {
    const Owner none(TypeParam::Empty());
    EXPECT_FALSE(none);
    // What another kind calls empty is a real handle here: descriptor 0 is standard input, and
    // -1 is also the current process's pseudo handle.
    const Owner real(other);
    EXPECT_TRUE(real);
  }
  EXPECT_EQ(closed, std::vector<int>{other});
}

// A window's WM_DESTROY handler looks its window up through the owner that is closing it.
TYPED_TEST(UniqueHandleKinds, StillHoldsTheHandleWhileItCloses) {
  UniqueHandle<TypeParam> owner(4);
  int seen = TypeParam::Empty();
  duringClose = [&] { seen = owner.get(); };
  owner.Reset(6);
  duringClose = nullptr;
  EXPECT_EQ(seen, 4);
  EXPECT_EQ(owner.get(), 6);
}

}  // namespace
}  // namespace veltran
