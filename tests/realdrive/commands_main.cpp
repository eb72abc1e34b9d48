// realdrive-commands: sends catalogue commands to every drive the scan finds and prints what each
// one answered, so that the drives of a test machine can be compared with the virtual drive model.
//
// usage: realdrive-commands [--virtual[=SCENARIO]] [--trace=FILE] COMMAND...
// COMMAND is one of: inquiry, identify (VENDOR IDENTIFY), tur (TEST UNIT READY), eject
// (START STOP UNIT). Every command goes to each drive in turn, drive by drive.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "drive/catalogue.h"
#include "platform/platform.h"

namespace {

struct Named {
  const char* name;
  veltran::Command command;
};

constexpr Named kCommands[] = {
    {"inquiry", veltran::Command::kInquiry},
    {"identify", veltran::Command::kVendorIdentify},
    {"tur", veltran::Command::kTestUnitReady},
    {"eject", veltran::Command::kStartStopUnit},
};

int Usage() {
  std::fputs(
      "usage: realdrive-commands [--virtual[=SCENARIO]] [--trace=FILE] COMMAND...\n"
      "COMMAND: inquiry, identify, tur, eject\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  veltran::PlatformOptions options;
  std::vector<Named> commands;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (veltran::ParsePlatformArgument(argument, options)) continue;
    bool known = false;
    for (const Named& named : kCommands) {
      if (argument == named.name) {
        commands.push_back(named);
        known = true;
      }
    }
    if (!known) return Usage();
  }
  if (commands.empty()) return Usage();
  try {
    veltran::Platform platform(options);
    veltran::DriveTransport& transport = platform.transport();
    const veltran::u8 count = transport.ScanDrives();
    std::printf("%u drive(s) found\n", unsigned{count});
    std::vector<veltran::u8> buffer(veltran::kCommandBufferSize);
    for (veltran::u8 device = 0; device < count; ++device) {
      for (const Named& named : commands) {
        const veltran::CommandSpec& entry = veltran::Catalogue(named.command);
        std::fill(buffer.begin(), buffer.end(), veltran::u8{0});
        const veltran::u8 status = transport.ExecuteCommand(
            device, veltran::CommandRequest{entry.cdb.data(), entry.cdbLength, buffer.data(),
                                            entry.dataLength, entry.direction});
        std::printf("device %u %s: status %02x", unsigned{device}, named.name, unsigned{status});
        if (status == veltran::kStatusCheck) {
          std::printf(" sense %02x/%02x/%02x", unsigned{buffer[2]}, unsigned{buffer[12]},
                      unsigned{buffer[13]});
        }
        if (entry.dataLength != 0 && status == veltran::kStatusGood) {
          std::printf(" data ");
          for (veltran::u32 i = 0; i < entry.dataLength; ++i)
            std::printf("%02x", unsigned{buffer[i]});
        }
        std::printf("\n");
      }
    }
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "realdrive-commands: %s\n", e.what());
    return 2;
  }
}
