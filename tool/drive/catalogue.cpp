#include "drive/catalogue.h"

namespace veltran {
namespace {

constexpr CommandSpec kCatalogue[] = {
    {Command::kInquiryScan,
     "INQUIRY, scan form",
     {0x12, 0x00, 0x00, 0x00, 0x24, 0x00},
     6,
     36,
     kDataIn},
    {Command::kInquiry, "INQUIRY", {0x12, 0x00, 0x00, 0x00, 0x60, 0x00}, 6, 96, kDataIn},
    {Command::kInquiryList,
     "INQUIRY, list form",
     {0x12, 0x00, 0x00, 0x00, 0x60, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
     12,
     96,
     kDataIn},
    {Command::kVendorIdentify,
     "VENDOR IDENTIFY",
     {0xFF, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xAA},
     12,
     8,
     kDataIn},
    {Command::kTestUnitReady,
     "TEST UNIT READY",
     {0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
     6,
     0,
     kDataIn},
    {Command::kStartStopUnit,
     "START STOP UNIT",
     {0x1B, 0x00, 0x00, 0x00, 0x02, 0x00},
     6,
     0,
     kDataIn},
    {Command::kSendDiagnostic,
     "SEND DIAGNOSTIC",
     {0x1D, 0x00, 0x00, 0x00, 0x08, 0x00},
     6,
     8,
     kDataOut},
    {Command::kSendDiagnosticBlock,
     "SEND DIAGNOSTIC, block form",
     {0x1D, 0x00, 0x00, 0x80, 0x08, 0x00},
     6,
     32776,
     kDataOut},
    {Command::kReceiveDiagnosticResults,
     "RECEIVE DIAGNOSTIC RESULTS",
     {0x1C, 0x00, 0x00, 0x00, 0x08, 0x00},
     6,
     8,
     kDataIn},
    {Command::kVendorWrite,
     "VENDOR WRITE",
     {0xFF, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
     12,
     0,
     kDataOut},
};

}  // namespace

const CommandSpec& Catalogue(Command command) {
  return kCatalogue[static_cast<std::size_t>(command)];
}

}  // namespace veltran

namespace veltran {
namespace {

constexpr bool TableFollowsEnum() {
  for (std::size_t i = 0; i < std::size(kCatalogue); ++i) {
    if (static_cast<std::size_t>(kCatalogue[i].command) != i) return false;
  }
  return true;
}
static_assert(TableFollowsEnum(), "Catalogue() indexes the table by Command");

}  // namespace
}  // namespace veltran
