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

// Direction argument: 0 moves data from the drive, anything else to the drive.
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

// What a caller hands to ExecuteCommand besides the device index.
struct CommandRequest {
  const u8* cdb = nullptr;
  u8 cdbLength = 0;
  u8* data = nullptr;  // at least 14 bytes even without data: sense bytes may land here
  u32 dataLength = 0;
  u8 direction = kDataIn;
  u32 timeoutSeconds = kDefaultTimeoutSeconds;  // ASPI has no time-out of its own
  OsError* osError = nullptr;  // where the back end leaves what the OS said, when given
};

// Fills the caller's OsError of a request, when it gave one.
inline void ReportOsError(const CommandRequest& request, const OsError& error) {
  if (request.osError != nullptr) *request.osError = error;
}

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

// The three sense bytes a non-good status leaves in the caller's buffer, at the positions they
// have in fixed-format sense data.
inline void CopySenseBytes(const u8* sense, u8* data) {
  data[2] = sense[2];
  data[12] = sense[12];
  data[13] = sense[13];
}

}  // namespace veltran
