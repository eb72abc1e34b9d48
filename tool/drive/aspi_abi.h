// The ASPI for Win32 interface as the manager DLL exports it: the execute request block and the
// two entry points. Shared by the ASPI back end and by the test manager DLL, so both sides
// agree on every byte.
#pragma once

#include <cstddef>
#include <cstdint>

#include "drive/aspi_codes.h"

namespace veltran::aspi {

#pragma pack(push, 1)
// The first bytes every request shares.
struct SRB_Header {
  std::uint8_t SRB_Status;
  std::uint8_t SRB_Cmd;
  std::uint8_t SRB_HaId;
  std::uint8_t SRB_Flags;
  std::uint32_t SRB_Hdr_Rsvd;
};

struct SRB_ExecSCSICmd {
  std::uint8_t SRB_Status;
  std::uint8_t SRB_Cmd;
  std::uint8_t SRB_HaId;
  std::uint8_t SRB_Flags;
  std::uint32_t SRB_Hdr_Rsvd;
  std::uint8_t SRB_Target;
  std::uint8_t SRB_Lun;
  std::uint16_t SRB_Rsvd1;
  std::uint32_t SRB_BufLen;
  std::uint8_t* SRB_BufPointer;
  std::uint8_t SRB_SenseLen;
  std::uint8_t SRB_CDBLen;
  std::uint8_t SRB_HaStat;
  std::uint8_t SRB_TargStat;
  void* SRB_PostProc;
  std::uint8_t* SRB_Rsvd2;
  std::uint8_t SRB_Rsvd3[16];
  std::uint8_t CDBByte[kCdbRoom];
  std::uint8_t SenseArea[SENSE_LEN + 2];
};
#pragma pack(pop)

static_assert(sizeof(SRB_Header) == 8);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Status) == 0);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Cmd) == 1);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_HaId) == 2);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Flags) == 3);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Target) == 8);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Lun) == 9);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufLen) == 12);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufPointer) == 16);

#if defined(_WIN64)
static_assert(sizeof(void*) == 8);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_SenseLen) == 24);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_CDBLen) == 25);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_TargStat) == 27);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_PostProc) == 28);
static_assert(offsetof(SRB_ExecSCSICmd, CDBByte) == 60);
static_assert(offsetof(SRB_ExecSCSICmd, SenseArea) == 76);
static_assert(sizeof(SRB_ExecSCSICmd) == 92);
#else
static_assert(sizeof(void*) == 4);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_SenseLen) == 20);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_CDBLen) == 21);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_TargStat) == 23);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_PostProc) == 24);
static_assert(offsetof(SRB_ExecSCSICmd, CDBByte) == 48);
static_assert(offsetof(SRB_ExecSCSICmd, SenseArea) == 64);
static_assert(sizeof(SRB_ExecSCSICmd) == 80);
#endif

// The two entry points, both __cdecl. The support info's low byte is the host adapter count, its
// second byte the status.
using SendASPI32CommandFn = std::uint32_t(__cdecl*)(void* srb);
using GetASPI32SupportInfoFn = std::uint32_t(__cdecl*)();

inline constexpr std::uint8_t SupportInfoCount(std::uint32_t info) {
  return static_cast<std::uint8_t>(info & 0xFF);
}
inline constexpr std::uint8_t SupportInfoStatus(std::uint32_t info) {
  return static_cast<std::uint8_t>((info >> 8) & 0xFF);
}
inline constexpr std::uint32_t MakeSupportInfo(std::uint8_t status, std::uint8_t count) {
  return static_cast<std::uint32_t>(status) << 8 | count;
}

}  // namespace veltran::aspi
