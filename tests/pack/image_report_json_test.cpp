// "veltran-pack inspect --json": every field of the document, for images of each form and for
// each load-time rule that refuses one.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "app/image_builder.h"
#include "pack_command.h"

namespace veltran::pack {
namespace {

using nlohmann::json;
using testing::HeaderFields;

struct InspectCase {
  const char* name;
  std::vector<std::uint8_t> image;
  int exitCode;
  json expected;  // every field but "format" and "image"

  friend void PrintTo(const InspectCase& c, std::ostream* out) { *out << c.name; }
};

json Fields(const char* form, int size, const char* ident, int type, bool fixed, bool k64,
            int blockKB, int count, int lastKB, const char* layout, const char* sizeCheck) {
  return {{"form", form},
          {"size", size},
          {"identity", ident},
          {"revision", "NB01"},
          {"prefix", "NB "},
          {"type", type},
          {"fixed_header", fixed},
          {"image_64k", k64},
          {"block_size_kb", blockKB},
          {"command_count", count},
          {"last_block_kb", lastKB},
          {"layout", layout},
          {"size_check", sizeCheck}};
}

json Accepted(json fields) {
  fields["verdict"] = "accepted";
  fields["rule"] = nullptr;
  fields["message"] = nullptr;
  return fields;
}

json Refused(json fields, const char* rule) {
  fields["verdict"] = "refused";
  fields["rule"] = rule;
  fields["message"] = "File Open Fail (No Flash File) !!\n" + fields["layout"].get<std::string>();
  return fields;
}

constexpr const char* kIdent = "BRELMONTCDW/DVD GA-W837C";

std::vector<InspectCase> Cases() {
  HeaderFields big;
  big.blockSizeKB = 128;
  big.blockCount = 1;
  HeaderFields noSize;
  noSize.blockSizeKB = 0;
  HeaderFields odd;
  odd.ident = "AB\x01\\CDEFGHIJKLMNOPQRSTUV";
  return {
      {"trailer", testing::TrailerImage(131072, {}), kExitOk,
       Accepted(Fields("trailer", 131072, kIdent, 1, false, false, 32, 4, 32, "32768b 32Kb 4Cmd",
                       "passed"))},
      {"fallback", testing::FallbackImage(131072, {}), kExitOk,
       Accepted(Fields("trailer, header 64 KB earlier", 131072, kIdent, 1, false, false, 32, 4, 32,
                       "32768b 32Kb 4Cmd", "passed"))},
      {"fixed", testing::FixedHeaderImage(65536 * 2, {}), kExitOk,
       Accepted({{"form", "fixed header"},
                 {"size", 131072},
                 {"identity", kIdent},
                 {"revision", "NB01"},
                 {"prefix", "NB "},
                 {"type", 4},
                 {"fixed_header", true},
                 {"image_64k", false},
                 {"block_size_kb", 32},
                 {"command_count", 4},
                 {"last_block_kb", 0},
                 {"layout", "32768b 0Kb 4Cmd"},
                 {"size_check", "not-applied"}})},
      {"64k", testing::TrailerImage(65536, big), kExitOk,
       Accepted(Fields("trailer", 65536, kIdent, 1, false, true, 128, 1, 0, "131072b 0Kb 1Cmd",
                       "not-applied"))},
      {"escaped", testing::TrailerImage(131072, {.ident = odd.ident}), kExitOk,
       Accepted(Fields("trailer", 131072, "AB\\x01\\x5cCDEFGHIJKLMNOPQRSTUV", 1, false, false, 32,
                       4, 32, "32768b 32Kb 4Cmd", "passed"))},
      {"size_mismatch", testing::TrailerImage(131072 + 100, {}), kExitRefused,
       Refused(Fields("trailer", 131172, kIdent, 1, false, false, 32, 4, 32, "32768b 32Kb 4Cmd",
                      "failed"),
               "size-mismatch")},
      {"block_too_large", testing::TrailerImage(131072, big), kExitRefused,
       Refused(Fields("trailer", 131072, kIdent, 1, false, false, 128, 1, 128, "131072b 128Kb 1Cmd",
                      "failed"),
               "block-too-large")},
      {"no_block_size", testing::TrailerImage(1024, {.blockSizeKB = 0, .blockCount = 2}),
       kExitRefused,
       Refused(Fields("trailer", 1024, kIdent, 1, false, false, 0, 2, 1, "0b 1Kb 2Cmd", "failed"),
               "no-block-size")},
  };
}

class InspectJsonTest : public ::testing::TestWithParam<InspectCase> {};

TEST_P(InspectJsonTest, EveryFieldMatchesTheDerivation) {
  const InspectCase& c = GetParam();
  testing::TempFile file("inspect.bin");
  {
    std::ofstream out(file.path(), std::ios::binary);
    out.write(reinterpret_cast<const char*>(c.image.data()),
              static_cast<std::streamsize>(c.image.size()));
  }
  CommandOutput output;
  EXPECT_EQ(RunPackCommand({"inspect", "--json", file.path().string()}, output), c.exitCode);
  EXPECT_EQ(output.err, "");
  const json document = json::parse(output.out);
  json expected = c.expected;
  expected["format"] = 1;
  expected["image"] = file.path().string();
  EXPECT_EQ(document, expected) << document.dump(2);
}

INSTANTIATE_TEST_SUITE_P(Images, InspectJsonTest, ::testing::ValuesIn(Cases()),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(InspectJson, AFileTooShortForAHeaderNamesThatRuleAndReportsNoFigures) {
  testing::TempFile file("short.bin");
  std::ofstream(file.path(), std::ios::binary) << "tiny";
  CommandOutput output;
  EXPECT_EQ(RunPackCommand({"inspect", file.path().string(), "--json"}, output), kExitRefused);
  const json document = json::parse(output.out);
  EXPECT_EQ(document["verdict"], "refused");
  EXPECT_EQ(document["rule"], "no-header");
  EXPECT_EQ(document["size"], 4);
  std::string cleared;  // the text form's spelling of the cleared field
  for (int i = 0; i < 24; ++i) cleared += "\\x00";
  EXPECT_EQ(document["identity"], cleared);
  EXPECT_EQ(document["command_count"], 0);
}

}  // namespace
}  // namespace veltran::pack
