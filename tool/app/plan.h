// A dry run of the download: everything a start would do up to the first write, then the exact
// commands the download would send. The checks before the first write run for real, sending the
// drive nothing but TEST UNIT READY; every other command is recorded instead of sent, and the
// drive is never ejected, locked or written.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "drive/transport.h"
#include "system/system.h"

namespace veltran {

struct PlannedCommand {
  u8 device = 0;
  std::string cdb;  // hex, as the trace writes it
  bool dataIn = false;
  u32 length = 0;
  // CRC-32 of the data the command carries to the drive; nothing for data the drive would send.
  std::optional<std::uint32_t> crc;

  // "scsi <device> <cdb> <in|out> <length> <crc32>", the trace's spelling without the status
  // ("-" for the CRC of data the drive would send).
  std::string Line() const;
};

struct DownloadPlan {
  bool wouldDownload = false;
  FlashState verdict = FlashState::kReady;
  std::string code;    // the log code that would follow a refusal or failure ("E4"); empty else
  std::string reason;  // in words: "would refuse: a disc is in the drive (...)"
  std::optional<u8> device;
  std::string image;                     // the image's path
  std::vector<PlannedCommand> commands;  // the last one is the final command
  std::uint32_t finalTimeoutSeconds = 0;
  std::int32_t progressSeconds = 0;  // the progress estimate
  bool restartAfter = false;         // else the tool closes (a test option)
  std::vector<std::string> boxes;    // boxes the checks showed ("caption: text")
};

// `state` is a copy: the plan changes nothing the tool knows.
DownloadPlan PlanDownload(AppState state, DriveTransport& transport, SystemInterface& system);

// The plan as lines of text, verdict first.
std::vector<std::string> PlanLines(const DownloadPlan& plan);

}  // namespace veltran
