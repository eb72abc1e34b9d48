// "veltran-pack inspect --json": every field of the document, for images of each form and for
// each load-time rule that refuses one.
#include <gtest/gtest.h>

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
  json expected;          // every field but "format" and "image"
  bool jsonLast = false;  // the option after the file name

  friend void PrintTo(const InspectCase& c, std::ostream* out) { *out << c.name; }
};

constexpr const char* kIdent = "BRELMONTCDW/DVD GA-W837C";
constexpr const char* kTrailer = "trailer";

// The figures of the layout: header form, 64 KB image, block size, commands, last block.
struct Figures {
  bool fixed, k64;
  int blockKB, count, lastKB;
};

json Fields(const char* form, int size, int type, Figures f, const char* layout,
            const char* sizeCheck, const char* ident = kIdent) {
  const auto [fixed, k64, blockKB, count, lastKB] = f;
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

// The text form's spelling of a field of `bytes` zero bytes.
std::string Cleared(int bytes) {
  std::string text;
  for (int i = 0; i < bytes; ++i) text += "\\x00";
  return text;
}

// A file too short for a header reports no figures and its fields cleared.
json NoHeader() {
  json fields =
      Fields(kTrailer, 4, 1, {false, false, 0, 0, 0}, "0b 0Kb 0Cmd", "failed", Cleared(24).c_str());
  fields["revision"] = Cleared(4);
  fields["prefix"] = Cleared(3);
  return Refused(fields, "no-header");
}

std::vector<InspectCase> Cases() {
  const HeaderFields big{.blockSizeKB = 128, .blockCount = 1};
  const char* layout = "32768b 32Kb 4Cmd";
  return {
      {"trailer", testing::TrailerImage(131072, {}), kExitOk,
       Accepted(Fields(kTrailer, 131072, 1, {false, false, 32, 4, 32}, layout, "passed"))},
      {"fallback", testing::FallbackImage(131072, {}), kExitOk,
       Accepted(Fields("trailer, header 64 KB earlier", 131072, 1, {false, false, 32, 4, 32},
                       layout, "passed"))},
      {"fixed", testing::FixedHeaderImage(131072, {}), kExitOk,
       Accepted(Fields("fixed header", 131072, 4, {true, false, 32, 4, 0}, "32768b 0Kb 4Cmd",
                       "not-applied"))},
      {"64k", testing::TrailerImage(65536, big), kExitOk,
       Accepted(Fields(kTrailer, 65536, 1, {false, true, 128, 1, 0}, "131072b 0Kb 1Cmd",
                       "not-applied"))},
      {"escaped", testing::TrailerImage(131072, {.ident = "AB\x01\\CDEFGHIJKLMNOPQRSTUV"}), kExitOk,
       Accepted(Fields(kTrailer, 131072, 1, {false, false, 32, 4, 32}, layout, "passed",
                       "AB\\x01\\x5cCDEFGHIJKLMNOPQRSTUV"))},
      {"size_mismatch", testing::TrailerImage(131072 + 100, {}), kExitRefused,
       Refused(Fields(kTrailer, 131172, 1, {false, false, 32, 4, 32}, layout, "failed"),
               "size-mismatch")},
      {"block_too_large", testing::TrailerImage(131072, big), kExitRefused,
       Refused(
           Fields(kTrailer, 131072, 1, {false, false, 128, 1, 128}, "131072b 128Kb 1Cmd", "failed"),
           "block-too-large")},
      {"no_block_size", testing::TrailerImage(1024, {.blockSizeKB = 0, .blockCount = 2}),
       kExitRefused,
       Refused(Fields(kTrailer, 1024, 1, {false, false, 0, 2, 1}, "0b 1Kb 2Cmd", "failed"),
               "no-block-size")},
      {"no_header", {'t', 'i', 'n', 'y'}, kExitRefused, NoHeader(), true},
  };
}

class InspectJsonTest : public ::testing::TestWithParam<InspectCase> {};

TEST_P(InspectJsonTest, EveryFieldMatchesTheDerivation) {
  const InspectCase& c = GetParam();
  testing::TempFile file("inspect.bin");
  testing::WriteFile(file.path(), c.image);
  const std::string path = file.path().string();
  CommandOutput output;
  EXPECT_EQ(RunPackCommand(c.jsonLast ? std::vector<std::string>{"inspect", path, "--json"}
                                      : std::vector<std::string>{"inspect", "--json", path},
                           output),
            c.exitCode);
  EXPECT_EQ(output.err, "");
  json expected = c.expected;
  expected["format"] = 1;
  expected["image"] = path;
  EXPECT_EQ(json::parse(output.out), expected) << output.out;
}

INSTANTIATE_TEST_SUITE_P(Images, InspectJsonTest, ::testing::ValuesIn(Cases()),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace veltran::pack
