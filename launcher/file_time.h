// File times: 100-nanosecond units since 1601-01-01 UTC, the form Windows keeps file times in
// and the form the archive reader reports them in.
#pragma once

#include <cstdint>

namespace veltran {

inline constexpr std::uint64_t kFileTimeUnitsPerSecond = 10000000;
// 1970-01-01 00:00:00 UTC, where Unix times count from.
inline constexpr std::uint64_t kUnixEpochFileTime = 116444736000000000ULL;

// Seconds before 1970 come out below the epoch; a signed 32-bit Unix time never goes below 1601.
constexpr std::uint64_t UnixTimeToFileTime(std::int64_t seconds) {
  return static_cast<std::uint64_t>(seconds * static_cast<std::int64_t>(kFileTimeUnitsPerSecond) +
                                    static_cast<std::int64_t>(kUnixEpochFileTime));
}

}  // namespace veltran
