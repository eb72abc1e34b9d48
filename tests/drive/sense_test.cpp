// The sense reader: both formats give the same key, ASC and ASCQ, and what is in neither format
// or too short to hold them gives zeros, never bytes from beyond what the OS returned.
#include "drive/sense.h"

#include <gtest/gtest.h>

#include <array>
#include <utility>
#include <vector>

namespace veltran {
namespace {

struct SenseCase {
  const char* name;
  std::vector<u8> sense;
  SenseCode expected;
};

void PrintTo(const SenseCase& c, std::ostream* os) { *os << c.name; }

class ReadSenseTable : public ::testing::TestWithParam<SenseCase> {};

TEST_P(ReadSenseTable, GivesKeyAscAndAscq) {
  const SenseCase& c = GetParam();
  EXPECT_EQ(ReadSense(c.sense), c.expected);
}

// MEDIUM ERROR, UNRECOVERED READ ERROR - RECOMMEND REASSIGNMENT (11h/04h) in each form.
const std::vector<u8> kFixed{0x70, 0, 0x03, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x11, 0x04, 0, 0, 0, 0};
const std::vector<u8> kDescriptor{0x72, 0x03, 0x11, 0x04, 0, 0, 0, 0};

INSTANTIATE_TEST_SUITE_P(
    Formats, ReadSenseTable,
    ::testing::Values(
        SenseCase{"FixedCurrent", kFixed, {3, 0x11, 0x04}},
        SenseCase{"FixedDeferred",
                  {0x71, 0, 0x03, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x11, 0x04},
                  {3, 0x11, 0x04}},
        SenseCase{"FixedWithValidBit",
                  {0xF0, 0, 0x03, 0, 0, 0x12, 0x34, 10, 0, 0, 0, 0, 0x11, 0x04},
                  {3, 0x11, 0x04}},
        // FILEMARK, EOM and ILI share the key's byte: the key is its low nibble.
        SenseCase{"FixedWithFlagsBesideTheKey",
                  {0x70, 0, 0xE5, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x00},
                  {5, 0x24, 0x00}},
        SenseCase{"DescriptorCurrent", kDescriptor, {3, 0x11, 0x04}},
        SenseCase{"DescriptorDeferred", {0x73, 0x03, 0x11, 0x04}, {3, 0x11, 0x04}},
        // The descriptor form's bytes 12 and 13 are descriptors, not ASC and ASCQ.
        SenseCase{"DescriptorWithDescriptors",
                  {0x72, 0x06, 0x29, 0x00, 0, 0, 0, 12, 0x00, 0x0A, 0x80, 0, 0x55, 0x66},
                  {6, 0x29, 0x00}},
        SenseCase{"FixedWithoutAscBytes", {0x70, 0, 0x02, 0, 0, 0, 0, 0}, {2, 0, 0}},
        SenseCase{
            "FixedWithoutAscq", {0x70, 0, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x3A}, {2, 0x3A, 0}},
        SenseCase{"DescriptorCutShort", {0x72, 0x05}, {5, 0, 0}},
        SenseCase{"ResponseCodeOnly", {0x70}, {}}, SenseCase{"Nothing", {}, {}},
        SenseCase{"NoSenseReturned", std::vector<u8>(32, 0), {}},
        SenseCase{"VendorFormat", {0x7F, 0x05, 0x24, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0x24, 0}, {}},
        SenseCase{
            "Garbage",
            {0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D},
            {}}),
    [](const ::testing::TestParamInfo<SenseCase>& c) { return std::string(c.param.name); });

// No sense data (all zeros) clears the three bytes; without a buffer nothing is written.
TEST(ReturnSense, WritesBytesTwoTwelveAndThirteenOnlyAndTheSameForBothFormats) {
  const std::array<u8, 6> cdb{};
  const std::vector<u8> none(32, 0);
  for (const auto& [sense, bytes] : {std::pair{&kFixed, std::array<u8, 3>{0x03, 0x11, 0x04}},
                                     std::pair{&kDescriptor, std::array<u8, 3>{0x03, 0x11, 0x04}},
                                     std::pair{&none, std::array<u8, 3>{0, 0, 0}}}) {
    std::array<u8, 20> data;
    data.fill(0xA5);
    ReturnSense(*sense, CommandRequest{cdb.data(), 6, data.data(), 0});
    for (std::size_t i = 0; i < data.size(); ++i) {
      const u8 expected = i == 2 ? bytes[0] : i == 12 ? bytes[1] : i == 13 ? bytes[2] : 0xA5;
      EXPECT_EQ(data[i], expected) << "format " << int{(*sense)[0]} << ", byte " << i;
    }
  }
  ReturnSense(kFixed, CommandRequest{cdb.data(), 6, nullptr, 0});
}

}  // namespace
}  // namespace veltran
