// The request block of the storage stack's direct pass-through: the OS structure, then the sense
// area that the structure names by its offset. The block goes to DeviceIoControl as both input
// and output buffer, so its layout is fixed by the OS for each target.
#pragma once

// clang-format off
#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>
// clang-format on

#include <cstddef>

namespace veltran {

struct PassThroughRequest {
  SCSI_PASS_THROUGH_DIRECT header;
  ULONG filler;  // keeps the sense area where the i686 layout has always had it
  UCHAR sense[32];
};

inline constexpr DWORD kIoctlScsiPassThroughDirect = 0x4D014;
inline constexpr UCHAR kPassThroughSenseLength = 24;
inline constexpr UCHAR kPassThroughTargetId = 1;
inline constexpr std::size_t kPassThroughCdbRoom = sizeof(SCSI_PASS_THROUGH_DIRECT::Cdb);

static_assert(IOCTL_SCSI_PASS_THROUGH_DIRECT == kIoctlScsiPassThroughDirect);
static_assert(kPassThroughCdbRoom == 16);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Length) == 0);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, ScsiStatus) == 2);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataIn) == 8);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataTransferLength) == 12);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, TimeOutValue) == 16);
static_assert(offsetof(PassThroughRequest, header) == 0);
static_assert(kPassThroughSenseLength <= sizeof(PassThroughRequest::sense));

#if defined(_WIN64)
static_assert(sizeof(void*) == 8);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == 24);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset) == 32);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == 36);
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 56);
static_assert(offsetof(PassThroughRequest, sense) == 60);
static_assert(sizeof(PassThroughRequest) == 96);
#else
static_assert(sizeof(void*) == 4);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == 20);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset) == 24);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == 28);
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 44);
static_assert(offsetof(PassThroughRequest, sense) == 48);
static_assert(sizeof(PassThroughRequest) == 80);
#endif

}  // namespace veltran
