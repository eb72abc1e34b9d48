// Types shared by every SCSI back end and by the callers of the transport.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace veltran {

using u8 = std::uint8_t;
using u32 = std::uint32_t;

// One-byte result of a command. Every value but kStatusGood is a failure; values other than
// these three are ASPI request statuses passed through unchanged.
inline constexpr u8 kStatusGood = 1;
inline constexpr u8 kStatusCheck = 4;
inline constexpr u8 kStatusCallFailed = 0xFF;

// Direction argument: 0 moves data from the drive, 1 to the drive. The transport sends no other
// value; a back end given one anyway treats it as to the drive.
inline constexpr u8 kDataIn = 0;
inline constexpr u8 kDataOut = 1;

inline constexpr std::size_t kCommandBufferSize = 65536;
// INQUIRY byte 0 of a drive the scan keeps: qualifier 0 (connected), type 5 (CD/DVD).
inline constexpr u8 kOpticalPeripheral = 0x05;
// Drive letters a to z: the candidates of the back ends that address drives by letter.
inline constexpr unsigned kDriveLetters = 26;
// Largest number of devices one scan keeps: a device index is one byte.
inline constexpr unsigned kMaxDevices = 255;

// How long the host lets a drive work on one command before it aborts it, unless the caller
// asks for longer.
inline constexpr u32 kDefaultTimeoutSeconds = 60;

// What the OS said about a command beside the one-byte status, so that a failure can say what
// happened: the error of the call (errno, GetLastError) and, where the OS reports them, the host
// adapter's and the driver's status. All zero when the OS reported nothing.
struct OsError {
  u32 code = 0;
  u32 hostStatus = 0;
  u32 driverStatus = 0;

  bool any() const { return code != 0 || hostStatus != 0 || driverStatus != 0; }
  // "os 5" / "os 5 host 7 driver 0": empty when nothing was reported.
  std::string Describe() const;
};

// What a caller hands to ExecuteCommand besides the device index. The transport sends only a
// request that IsSendable accepts.
struct CommandRequest {
  const u8* cdb = nullptr;
  u8 cdbLength = 0;
  u8* data = nullptr;  // at least 14 bytes even without data: sense bytes may land here
  u32 dataLength = 0;
  u8 direction = kDataIn;
  u32 timeoutSeconds = kDefaultTimeoutSeconds;  // ASPI has no time-out of its own
};

// The CDB lengths a request may have: the shortest command group and the room of every back
// end's request block.
inline constexpr u8 kMinCdbLength = 6;
inline constexpr u8 kMaxCdbLength = 16;

// Whether a request can go to a drive: a CDB of 6 to 16 bytes, a buffer whenever there is data
// to move, and one of the two directions.
inline bool IsSendable(const CommandRequest& request) {
  return request.cdb != nullptr && request.cdbLength >= kMinCdbLength &&
         request.cdbLength <= kMaxCdbLength &&
         (request.data != nullptr || request.dataLength == 0) &&
         (request.direction == kDataIn || request.direction == kDataOut);
}

// What became of one command: the status byte the callers test, and beside it what the OS said,
// whether the command ran out of time, and how many bytes of the data length were not moved
// (where the OS tells; 0 otherwise).
struct CommandResult {
  u8 status = kStatusCallFailed;
  OsError os;
  bool timedOut = false;
  u32 residual = 0;

  bool ok() const { return status == kStatusGood; }
};

// The transfer mode of a drive's ATA device where the platform tells it: `offered` is false
// where the platform has no such facility; `mode` is empty when it has but the mode cannot be
// read. Modes as sysfs names them ("XFER_PIO_4", "XFER_MW_DMA_2", "XFER_UDMA_5") or as the
// kernel's messages do ("PIO4", "MWDMA2", "UDMA/33").
struct TransferModeRead {
  bool offered = false;
  std::optional<std::string> mode;
};
// True for a DMA mode, false for PIO; nothing for a text that is neither.
std::optional<bool> IsDmaTransferMode(const std::string& mode);

}  // namespace veltran
