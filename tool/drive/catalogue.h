// Every SCSI command the program sends, byte for byte, and the download pages that travel
// inside SEND DIAGNOSTIC.
#pragma once

#include <array>
#include <string_view>

#include "drive/scsi.h"

namespace veltran {

enum class Command {
  kInquiryScan,
  kInquiry,
  kInquiryList,
  kVendorIdentify,
  kTestUnitReady,
  kStartStopUnit,
  kSendDiagnostic,
  kSendDiagnosticBlock,
  kReceiveDiagnosticResults,
  kVendorWrite,
};

struct CommandSpec {
  Command command;
  std::string_view name;
  std::array<u8, 12> cdb;
  u8 cdbLength;
  u32 dataLength;  // for VENDOR WRITE the length depends on the block and is set by the caller
  u8 direction;
};

const CommandSpec& Catalogue(Command command);

// Where INQUIRY data keeps the fields the program reads: vendor (8 bytes) and product (16)
// together form the identification, the revision (4) follows, and the firmware prefix (3)
// sits at byte 36 on the drives that report it there. The drive list shows identification and
// revision together.
inline constexpr std::size_t kInquiryVendorOffset = 8;
inline constexpr std::size_t kInquiryVendorLength = 8;
inline constexpr std::size_t kInquiryProductOffset = 16;
inline constexpr std::size_t kInquiryProductLength = 16;
inline constexpr std::size_t kInquiryRevisionOffset = 32;
inline constexpr std::size_t kInquiryRevisionLength = 4;
inline constexpr std::size_t kInquiryPrefixOffset = 36;
inline constexpr std::size_t kInquiryPrefixLength = 3;
inline constexpr std::size_t kInquiryIdentityLength =
    kInquiryRevisionOffset + kInquiryRevisionLength - kInquiryVendorOffset;

// VENDOR WRITE byte positions set just before sending.
inline constexpr std::size_t kVendorWriteBlockCode = 5;
inline constexpr std::size_t kVendorWriteFormCode = 9;
inline constexpr u8 kBlockCodeFirst = 0x00;
inline constexpr u8 kBlockCodeMiddle = 0xFF;
inline constexpr u8 kBlockCode64K = 0x01;
inline constexpr u8 kFormCode64K = 0xF0;

// Download pages: 8 bytes, then for DIAG BLOCK 32,768 image bytes.
inline constexpr std::size_t kDiagPageSize = 8;
inline constexpr std::size_t kDiagBlockDataSize = 32768;
inline constexpr std::size_t kDiagBlockNumberByte = 6;
inline constexpr std::array<u8, 8> kDiagOpen{0x88, 0x00, 0x00, 0x04, 0x00, 0x40, 0x00, 0x00};
inline constexpr std::array<u8, 8> kDiagPrepare{0x88, 0x00, 0x00, 0x04, 0x00, 0xF0, 0xFF, 0x00};
inline constexpr std::array<u8, 8> kDiagBlock{0x88, 0x00, 0x80, 0x04, 0x00, 0xC0, 0x00, 0x00};
inline constexpr std::array<u8, 8> kDiagFinish{0x88, 0x00, 0x00, 0x04, 0x00, 0xC0, 0x00, 0x02};

}  // namespace veltran
