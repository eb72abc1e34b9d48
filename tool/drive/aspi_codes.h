// The values of the ASPI for Win32 interface: names, request codes, statuses and flags. They
// need no Windows header, so the virtual back end answers with the same statuses on any host.
#pragma once

#include <cstddef>
#include <cstdint>

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

// Target statuses.
inline constexpr std::uint8_t STATUS_CHKCOND = 0x02;
inline constexpr std::uint8_t STATUS_BUSY = 0x08;

inline constexpr std::size_t SENSE_LEN = 14;
// Targets a host adapter addresses; the program uses LUN 0 of each.
inline constexpr unsigned kTargetsPerAdapter = 8;
inline constexpr std::size_t kCdbRoom = 16;

}  // namespace veltran::aspi
