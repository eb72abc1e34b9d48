// The values of the ASPI for Win32 interface: names, request codes, statuses and flags. They
// need no Windows header, so the virtual back end answers with the same statuses on any host.
#pragma once

#include <cstddef>
#include <cstdint>

#include "drive/scsi.h"

namespace veltran::aspi {

inline constexpr char kLibraryName[] = "WNASPI32.DLL";
inline constexpr char kSendCommandName[] = "SendASPI32Command";
inline constexpr char kSupportInfoName[] = "GetASPI32SupportInfo";

// Request codes.
inline constexpr std::uint8_t SC_EXEC_SCSI_CMD = 0x02;

// Request statuses.
inline constexpr std::uint8_t SS_PENDING = 0x00;
inline constexpr std::uint8_t SS_COMP = 0x01;
inline constexpr std::uint8_t SS_ABORTED = 0x02;
inline constexpr std::uint8_t SS_ERR = 0x04;
inline constexpr std::uint8_t SS_NO_DEVICE = 0x82;
inline constexpr std::uint8_t SS_INVALID_SRB = 0xE0;
inline constexpr std::uint8_t SS_FAILED_INIT = 0xE4;
inline constexpr std::uint8_t SS_NO_ADAPTERS = 0xE8;

// Request flags: direction of the data.
inline constexpr std::uint8_t SRB_DIR_IN = 0x08;
inline constexpr std::uint8_t SRB_DIR_OUT = 0x10;

// Host adapter statuses (SRB_HaStat) that say the command ran out of time: while it waited to
// be processed, and while the adapter processed it.
inline constexpr std::uint8_t HASTAT_TIMEOUT = 0x09;
inline constexpr std::uint8_t HASTAT_COMMAND_TIMEOUT = 0x0B;

// Target statuses.
inline constexpr std::uint8_t STATUS_CHKCOND = 0x02;
inline constexpr std::uint8_t STATUS_BUSY = 0x08;

inline constexpr std::size_t SENSE_LEN = 14;
// Targets a host adapter addresses; the program uses LUN 0 of each.
inline constexpr unsigned kTargetsPerAdapter = 8;
inline constexpr std::size_t kCdbRoom = 16;

// Whether a final request status, with the host adapter status beside it, says that the command
// timed out: the manager aborts a request whose time-out expires, and the program aborts none.
inline constexpr bool IsTimedOut(std::uint8_t srbStatus, std::uint8_t hostAdapterStatus) {
  return srbStatus == SS_ABORTED || hostAdapterStatus == HASTAT_TIMEOUT ||
         hostAdapterStatus == HASTAT_COMMAND_TIMEOUT;
}

}  // namespace veltran::aspi

namespace veltran {

// What the program makes of a request's final status: the status byte itself, the host adapter
// status beside it, and whether the command timed out. The manager counts a residual only when
// a request asks it to, and the program's requests do not.
inline CommandResult AspiCommandResult(std::uint8_t srbStatus, std::uint8_t hostAdapterStatus) {
  CommandResult result;
  result.status = srbStatus;
  result.os.hostStatus = hostAdapterStatus;
  result.timedOut = aspi::IsTimedOut(srbStatus, hostAdapterStatus);
  return result;
}

}  // namespace veltran
