// The replies of the drive model: good, or CHECK CONDITION with fixed-format sense data.
#pragma once

#include <array>
#include <cstdint>

#include "virtual/drive_model.h"

namespace veltran::replies {

inline constexpr std::uint8_t kKeyNotReady = 0x02;
inline constexpr std::uint8_t kKeyIllegalRequest = 0x05;
inline constexpr std::uint8_t kKeyUnitAttention = 0x06;
inline constexpr std::uint8_t kAscPowerOnOrReset = 0x29;
inline constexpr std::uint8_t kAscInvalidOpcode = 0x20;
inline constexpr std::uint8_t kAscInvalidFieldInCdb = 0x24;
inline constexpr std::uint8_t kAscInvalidFieldInParameters = 0x26;
inline constexpr std::uint8_t kAscParameterListLength = 0x1A;
inline constexpr std::uint8_t kAscSequenceError = 0x2C;
inline constexpr std::uint8_t kAscNoMedium = 0x3A;

// Fixed-format sense data with the given key, ASC and ASCQ.
inline std::array<std::uint8_t, 32> MakeSense(std::uint8_t key, std::uint8_t asc,
                                              std::uint8_t ascq) {
  std::array<std::uint8_t, 32> sense{};
  sense[0] = 0x70;
  sense[2] = key;
  sense[7] = 10;
  sense[12] = asc;
  sense[13] = ascq;
  return sense;
}

inline DriveReply Good() { return {}; }

inline DriveReply Check(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq = 0) {
  DriveReply r;
  r.kind = DriveReply::Kind::kCheck;
  r.sense = MakeSense(key, asc, ascq);
  return r;
}

inline DriveReply Refuse(std::uint8_t asc) { return Check(kKeyIllegalRequest, asc); }

}  // namespace veltran::replies
