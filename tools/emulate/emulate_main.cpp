// veltran-emulate: one drive of a scenario served to the Linux kernel's SCSI stack as an emulated
// drive (the SCSI target's user-space back end and loopback fabric), so that /dev/srN and
// /dev/sgN lead through the real mid-layer to the drive model. Linux only, as root, with the
// modules configfs, uio, target_core_mod, target_core_user and tcm_loop loaded.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "command_ring.h"
#include "drive_server.h"
#include "system/clock.h"
#include "target_device.h"
#include "virtual/scenario.h"

namespace veltran {
namespace {

std::atomic<bool> g_stop{false};

void RequestStop(int) { g_stop.store(true); }

struct Options {
  std::string scenario;
  unsigned drive = 0;
  std::string name = "drive0";
  std::string out = ".";
  bool takeOver = false;
  // The device stays when the program ends, for another to take over; else it is removed,
  // whichever program made it.
  bool keep = false;
  std::uint32_t holdLimit = 300;
};

constexpr const char* kUsage =
    "usage: veltran-emulate SCENARIO [--drive N] [--name NAME] [--out DIR] [--take-over]\n"
    "                       [--keep] [--hold-limit SECONDS]\n";

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--drive" && hasValue) {
      o.drive = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
    } else if (arg == "--name" && hasValue) {
      o.name = argv[++i];
    } else if (arg == "--out" && hasValue) {
      o.out = argv[++i];
    } else if (arg == "--hold-limit" && hasValue) {
      o.holdLimit = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else if (arg == "--take-over") {
      o.takeOver = true;
    } else if (arg == "--keep") {
      o.keep = true;
    } else if (o.scenario.empty() && !arg.empty() && arg[0] != '-') {
      o.scenario = arg;
    } else {
      return false;
    }
  }
  const bool plainName = !o.name.empty() && o.name.find_first_of("/. ") == std::string::npos;
  return !o.scenario.empty() && plainName;
}

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = RequestStop;  // no SA_RESTART: the ring's wait ends at once
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
}

// A program taking over waits a moment for the one before it to let go of the ring.
std::optional<CommandRing> OpenRing(const std::string& prefix, bool takeOver) {
  std::string error;
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (auto ring = CommandRing::Open(prefix, error)) return ring;
    if (!takeOver) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::fprintf(stderr, "veltran-emulate: %s\n", error.c_str());
  return std::nullopt;
}

void RemoveWhileServing(TargetDevice& device, DriveServer& server) {
  std::atomic<bool> removed{false};
  std::thread remover([&] {
    device.Remove();
    removed.store(true);
  });
  server.Serve(removed);
  remover.join();
}

int Run(const Options& o, ScenarioDrive drive) {
  TargetDevice device(o.name, o.drive);
  std::string error;
  if (!o.takeOver && !device.Create(error)) {
    std::fprintf(stderr, "veltran-emulate: %s\n", error.c_str());
    return 1;
  }
  std::optional<CommandRing> ring = OpenRing(device.UioNamePrefix(), o.takeOver);
  if (!ring) return 1;
  SystemClock clock;
  const std::string base = o.out + "/" + o.name;
  DriveServer server(*ring, std::move(drive), clock,
                     ServerOptions{base + ".log", base + "-image", o.holdLimit, o.takeOver});
  std::thread linker;
  if (o.takeOver) {
    std::printf("veltran-emulate: %s serving\n", o.name.c_str());
    std::fflush(stdout);
  } else {
    linker = std::thread([&] {
      std::string linkError;
      if (!device.Link(linkError)) {
        std::fprintf(stderr, "veltran-emulate: %s\n", linkError.c_str());
        g_stop.store(true);
        return;
      }
      std::printf("veltran-emulate: %s attached\n", o.name.c_str());
      std::fflush(stdout);
    });
  }
  const int status = server.Serve(g_stop);
  if (status != 0) std::_Exit(status);  // gone: no answer, no clean-up, as firmware that stops
  if (linker.joinable()) linker.join();
  if (!o.keep) RemoveWhileServing(device, server);
  return 0;
}

}  // namespace
}  // namespace veltran

int main(int argc, char** argv) {
  using namespace veltran;
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  Scenario scenario;
  try {
    scenario = LoadScenarioFile(options.scenario);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "veltran-emulate: %s\n", e.what());
    return 2;
  }
  if (options.drive >= scenario.drives.size()) {
    std::fprintf(stderr, "veltran-emulate: %s has no drive %u\n", options.scenario.c_str(),
                 options.drive);
    return 2;
  }
  ScenarioDrive drive = scenario.drives[options.drive];
  drive.vendorCdbTailLost = true;  // the SCSI target copies 10 bytes of a vendor CDB
  CatchStopSignals();
  return Run(options, std::move(drive));
}
