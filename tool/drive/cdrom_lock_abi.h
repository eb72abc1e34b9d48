// The CD-ROM class driver's exclusive-access request, which the cross compiler's headers do not
// carry: its control code and the two input structures, laid out as the driver reads them.
#pragma once

// clang-format off
#include <windows.h>
#include <winioctl.h>
// clang-format on

#include <cstddef>

namespace veltran::cdrom {

// Device type CD-ROM, function 0x17, buffered, read and write access.
inline constexpr DWORD kIoctlExclusiveAccess = 0x2C05C;
static_assert(kIoctlExclusiveAccess == CTL_CODE(FILE_DEVICE_CD_ROM, 0x17, METHOD_BUFFERED,
                                                FILE_READ_ACCESS | FILE_WRITE_ACCESS));

// The request types; the OS declares them as an enumeration, which is four bytes here.
inline constexpr ULONG kQueryState = 0;
inline constexpr ULONG kLockDevice = 1;
inline constexpr ULONG kUnlockDevice = 2;

// Lock even while a file system is mounted on the disc.
inline constexpr ULONG kLockIgnoreVolume = 1u << 0;

inline constexpr std::size_t kCallerNameLength = 64;

// The unlock request, and the head of the lock request.
struct ExclusiveAccess {
  ULONG RequestType;
  ULONG Flags;
};

// The lock request: a caller name of letters, digits and a few marks, zero-terminated.
struct ExclusiveLock {
  ExclusiveAccess Access;
  UCHAR CallerName[kCallerNameLength];
};

static_assert(sizeof(ULONG) == 4);
static_assert(offsetof(ExclusiveAccess, RequestType) == 0);
static_assert(offsetof(ExclusiveAccess, Flags) == 4);
static_assert(sizeof(ExclusiveAccess) == 8);
static_assert(offsetof(ExclusiveLock, Access) == 0);
static_assert(offsetof(ExclusiveLock, CallerName) == 8);
static_assert(sizeof(ExclusiveLock) == 72);

}  // namespace veltran::cdrom
