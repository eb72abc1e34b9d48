// Types shared by every SCSI back end and by the callers of the transport.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

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
// Largest number of devices one scan keeps: a device index is one byte.
inline constexpr unsigned kMaxDevices = 255;

// What a caller hands to ExecuteCommand besides the device index.
struct CommandRequest {
  const u8* cdb = nullptr;
  u8 cdbLength = 0;
  u8* data = nullptr;  // at least 14 bytes even without data: sense bytes may land here
  u32 dataLength = 0;
  u8 direction = kDataIn;
};

// The three sense bytes a non-good status leaves in the caller's buffer, at the positions they
// have in fixed-format sense data.
inline void CopySenseBytes(const u8* sense, u8* data) {
  data[2] = sense[2];
  data[12] = sense[12];
  data[13] = sense[13];
}

}  // namespace veltran
