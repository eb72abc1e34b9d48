// The window's parts that need no window: the picture buttons' steps, the text conversions, the
// fitted font and the message loop's stand-in in the platform clock.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "button_states.h"
#include "clock_stand_in.h"
#include "wide_text.h"
#include "window_fonts.h"

namespace veltran::win32 {
namespace {

using B = ButtonId;

TEST(ButtonStates, RestoreOneButtonPerStepInTheFixedOrder) {
  ButtonStates s;
  EXPECT_EQ(s.RestoreStep(), B::kOpen);  // the step at the end of start-up
  EXPECT_EQ(s[B::kStart].shown, Picture::kNone);
  // Pointer outside the strip: one more button per Timer2 tick, four ticks at most.
  EXPECT_EQ(s.Timer2Tick(200, 100), B::kStart);
  EXPECT_EQ(s.Timer2Tick(7, 20), B::kAbout);
  EXPECT_EQ(s.Timer2Tick(100, 33), B::kExit);
  EXPECT_EQ(s.Timer2Tick(391, 8), std::nullopt);
  for (const B b : {B::kOpen, B::kStart, B::kAbout, B::kExit}) {
    EXPECT_EQ(s[b].shown, Picture::kNormal);
  }
}

TEST(ButtonStates, PointerInTheStripLeavesThePicturesAlone) {
  ButtonStates s;
  for (const auto& [dx, dy] : {std::pair{8, 8}, {390, 32}, {200, 20}}) {
    EXPECT_EQ(s.Timer2Tick(dx, dy), std::nullopt) << dx << "," << dy;
  }
  EXPECT_EQ(s[B::kOpen].shown, Picture::kNone);
}

TEST(ButtonStates, HoverAndLeaveAndAHeldButton) {
  ButtonStates s;
  s.RestoreStep();
  // Before its first restore a button holds no picture, and the pointer over it does not give
  // it one: the pending restore of the start button runs instead.
  auto steps = s.PointerOverButton(B::kAbout);
  EXPECT_EQ(steps[0], B::kStart);
  EXPECT_EQ(steps[1], std::nullopt);
  EXPECT_EQ(s[B::kAbout].shown, Picture::kNone);
  EXPECT_EQ(s.Timer2Tick(200, 100), B::kAbout);
  EXPECT_EQ(s.Timer2Tick(200, 100), B::kExit);

  steps = s.PointerOverButton(B::kAbout);
  EXPECT_EQ(steps[0], std::nullopt);
  EXPECT_EQ(steps[1], B::kAbout);
  EXPECT_EQ(s[B::kAbout].shown, Picture::kHover);
  // Held down, it keeps its hover picture while the pointer is elsewhere.
  s.SetPressed(B::kAbout, true);
  EXPECT_EQ(s.PointerOverBackground(), std::nullopt);
  EXPECT_EQ(s.Timer2Tick(200, 100), std::nullopt);
  EXPECT_EQ(s[B::kAbout].shown, Picture::kHover);
  // Released: the next restore step gives it back its normal picture.
  s.SetPressed(B::kAbout, false);
  EXPECT_EQ(s.Timer2Tick(200, 100), B::kAbout);
  EXPECT_EQ(s[B::kAbout].shown, Picture::kNormal);
  // Over a button that already shows its hover picture, nothing is repainted twice.
  s.PointerOverButton(B::kOpen);
  steps = s.PointerOverButton(B::kOpen);
  EXPECT_EQ(steps[0], std::nullopt);
  EXPECT_EQ(steps[1], std::nullopt);
}

TEST(WideText, ConvertsBothWaysAndNeverCutsAField) {
  const std::string path = "Z:\\Fr\xC3\xBChling\\neue Firmware \xF0\x9F\x92\xBE.bin";
  const std::wstring wide = WideFromUtf8(path);
  EXPECT_EQ(wide.substr(0, 6), L"Z:\\Fr\u00FC");
  EXPECT_EQ(Utf8FromWide(wide), path);
  // A byte outside valid UTF-8 stands for itself; controls cannot end the text early.
  EXPECT_EQ(WideFromUtf8(std::string("NA\xA9"
                                     "0",
                                     4)),
            L"NA\u00A90");
  EXPECT_EQ(WideFromUtf8(std::string("A\0B\nC", 5)), L"A\uFFFDB\uFFFDC");
  EXPECT_EQ(WideFromUtf8("one\ntwo", true), L"one\ntwo");
  EXPECT_EQ(Utf8FromWide(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
}

// Whatever face the system gives for Tahoma, a caption keeps the font's own size where it fits
// and otherwise gets the largest smaller size in which it does.
TEST(WindowFonts, FittedFontIsTheLargestSizeInWhichTheCaptionFits) {
  const UniqueMemoryDc dc(CreateCompatibleDC(nullptr));
  ASSERT_TRUE(dc);
  const FontChoice wanted{L"Tahoma", 11, false};
  const std::wstring_view caption = L"Nocheck Option";
  const int natural = TextWidth(dc.get(), MakeFont(wanted).get(), caption);
  ASSERT_GT(natural, 40);
  for (const int width : {natural + 20, natural, natural - 1, natural * 3 / 4, 1}) {
    const UniqueGdiObject font = FontFittingWidth(dc.get(), wanted, caption, width);
    LOGFONTW chosen{};
    ASSERT_EQ(GetObjectW(font.get(), sizeof chosen, &chosen), static_cast<int>(sizeof chosen));
    const int pixels = -chosen.lfHeight;
    EXPECT_EQ(chosen.lfWeight, FW_NORMAL);
    EXPECT_STREQ(chosen.lfFaceName, L"Tahoma");
    if (width >= natural) {
      EXPECT_EQ(pixels, wanted.pixels) << width;
      continue;
    }
    EXPECT_LT(pixels, wanted.pixels) << width;
    if (pixels > kSmallestFittedPixels) {
      EXPECT_LE(TextWidth(dc.get(), font.get(), caption), width) << width;
    } else {
      EXPECT_EQ(pixels, kSmallestFittedPixels) << width;
    }
    const UniqueGdiObject larger = MakeFont({wanted.face, pixels + 1, wanted.bold});
    EXPECT_GT(TextWidth(dc.get(), larger.get(), caption), width) << width;
  }
}

// The stand-in waits for the window thread's deadline; a worker's later wait cannot make time
// jump past it, and posted work ends a wait that has no deadline.
TEST(ClockStandIn, TimeStopsAtTheWindowDeadlineAndAtPostedWork) {
  VirtualClock clock;
  std::mutex mutex;
  std::condition_variable reported;
  int reports = 0;
  ClockStandIn standIn(clock, [&] {
    {
      std::lock_guard lock(mutex);
      ++reports;
    }
    reported.notify_all();
  });
  const auto waitForReports = [&](int n) {
    std::unique_lock lock(mutex);
    reported.wait(lock, [&] { return reports >= n; });
  };
  ClockParticipation worker(clock, ClockParticipation::Thread::kToBeStarted);
  std::thread sleeper([&clock, p = std::move(worker)]() mutable {
    p.Enter();
    clock.SleepMs(5000);
  });

  standIn.Release(1000);
  waitForReports(1);
  standIn.Hold();
  EXPECT_EQ(clock.NowMs(), 1000u);

  {
    // Another thread at work holds time still, so only the posted work can end a wait that
    // has no deadline: without this hold time could rightly run on to the worker's deadline
    // before the interruption arrives.
    ClockParticipation busy(clock);
    standIn.Release(std::nullopt);
    standIn.Interrupt();
    waitForReports(2);
    standIn.Hold();
    EXPECT_EQ(clock.NowMs(), 1000u);
  }

  standIn.Release(std::nullopt);
  sleeper.join();  // only now, with the window thread waiting, time reaches the worker's deadline
  EXPECT_EQ(clock.NowMs(), 5000u);
  standIn.Hold();
}

}  // namespace
}  // namespace veltran::win32
