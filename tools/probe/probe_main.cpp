// veltran-probe: lists the optical drives and what identification finds for each.
#include <cstdio>
#include <exception>
#include <string>

#include "drive_report.h"
#include "probe_json.h"

namespace {

constexpr const char* kUsage =
    "usage: veltran-probe [--json] [--virtual[=SCENARIO]] [--trace=FILE]\n"
    "Scans for optical drives, lists them and identifies each one.\n"
    "  --json                the report as one JSON document (messages go to standard error)\n"
    "  --virtual[=SCENARIO]  use a virtual machine (the built-in one, or a JSON scenario file)\n"
    "  --trace=FILE          append one line per drive command to FILE\n";

}  // namespace

int main(int argc, char** argv) {
  veltran::PlatformOptions options;
  bool asJson = false;
  try {
    for (int i = 1; i < argc; ++i) {
      const std::string argument = argv[i];
      if (argument == "--help" || argument == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
      }
      if (argument == "--json") {
        asJson = true;
        continue;
      }
      if (!veltran::ParsePlatformArgument(argument, options)) {
        std::fprintf(stderr, "veltran-probe: unknown argument %s\n%s", argument.c_str(), kUsage);
        return 2;
      }
    }
    veltran::Platform platform(options);
    const std::vector<veltran::DriveReport> reports = veltran::ScanAndIdentify(platform);
    const std::vector<std::string> notices = platform.transport().ScanNotices();
    const std::string report =
        asJson ? veltran::FormatJsonReport(reports, notices) : veltran::FormatReport(reports);
    for (const std::string& notice : notices) {
      std::fprintf(stderr, "veltran-probe: %s\n", notice.c_str());
    }
    if (std::fwrite(report.data(), 1, report.size(), stdout) != report.size() ||
        std::fflush(stdout) != 0) {
      std::fprintf(stderr, "veltran-probe: the report could not be written\n");
      return 2;
    }
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "veltran-probe: %s\n", e.what());
    return 2;
  }
}
