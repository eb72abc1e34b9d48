#include "drive/identify.h"

#include <algorithm>
#include <cstring>

#include "drive/catalogue.h"

namespace veltran {
namespace {

// INQUIRY bytes 8 to 35 of the drives whose firmware prefix is the start of their revision.
constexpr std::string_view kRevisionPrefixIdentities[] = {
    "PELCARO CDW/DVD MVX4410CPD00",
    "BRELMONTCDW/DVD GA-W837CNB01",
    "BRELMONTCDW/DVD NB-E615CKP00",
    "BRELMONTCDW/DVD GA-W837CNA00",
};

// An OEM drive that is the BRELMONT drive of the same model.
constexpr std::string_view kOemIdent = "TRUO    CD-ROM  GA-R837C";
constexpr std::string_view kOemRevision = "TR00";
constexpr std::string_view kOemAsIdent = "BRELMONTCD-ROM  GA-R837C";
constexpr std::string_view kOemAsRevision = "NB01";
constexpr std::string_view kOemAsPrefix = "NB ";

constexpr std::string_view kComVariantInquiry = "DARLOWE CDRW/DVD PT-771BR350COM";

constexpr std::size_t kSenseKeyOffset = 2;  // where a failed command leaves its sense key
constexpr u8 kUnitAttention = 0x06;

// A drive that has just reset (new firmware, a bus reset) answers the first command after it
// with UNIT ATTENTION and has not executed it: the identification asks once more, once.
// `send` prepares the buffer and sends the command.
template <typename SendOnce>
u8 SendAgainAfterUnitAttention(const CommandBuffer& buffer, SendOnce send) {
  const u8 status = send();
  if (status != kStatusCheck || buffer[kSenseKeyOffset] != kUnitAttention) return status;
  return send();
}

u8 SendForIdentity(DriveContext& ctx, u8 device, Command command) {
  return SendAgainAfterUnitAttention(ctx.buffer, [&] { return ctx.Send(device, command); });
}

// The reply is told from a rejection by its first two bytes, so they are cleared before each try.
void AskVendorIdentify(DriveContext& ctx, u8 device) {
  SendAgainAfterUnitAttention(ctx.buffer, [&] {
    ctx.buffer[0] = 0;
    ctx.buffer[1] = 0;
    return ctx.Send(device, Command::kVendorIdentify);
  });
}

}  // namespace

std::string DriveListEntry(const CommandBuffer& buffer) {
  return {reinterpret_cast<const char*>(&buffer[kInquiryVendorOffset]), kInquiryIdentityLength};
}

void TakeInquiryIdentity(const CommandBuffer& buffer, DriveIdentity& identity) {
  identity.DriveIdent.Assign(&buffer[kInquiryVendorOffset]);
  identity.DriveRevision.Assign(&buffer[kInquiryRevisionOffset]);
}

void ApplyIdentitySubstitution(DriveIdentity& identity) {
  if (identity.DriveIdent == kOemIdent && identity.DriveRevision == kOemRevision) {
    identity.DrivePrefix.Assign(kOemAsPrefix);
    identity.DriveIdent.Assign(kOemAsIdent);
    identity.DriveRevision.Assign(kOemAsRevision);
  }
}

u8 DriveContext::Send(u8 device, Command command) {
  const CommandSpec& entry = Catalogue(command);
  return transport.ExecuteCommand(
      device, CommandRequest{entry.cdb.data(), entry.cdbLength, buffer.data(), entry.dataLength,
                             entry.direction});
}

void IdentifyDrive(DriveContext& ctx, u8 device) {
  DriveIdentity& id = ctx.identity;
  SendForIdentity(ctx, device, Command::kInquiry);
  AskVendorIdentify(ctx, device);
  id.DrivePrefixReported = false;
  if (ctx.buffer[0] == 0x00 && ctx.buffer[1] == 0x06) {
    id.DrivePrefix.Assign(&ctx.buffer[4]);
    id.DrivePrefixReported = true;
  }
  ctx.clock.SleepMs(100);
  SendForIdentity(ctx, device, Command::kInquiry);
  // The fields come from the buffer as the commands left it, whether or not they succeeded.
  TakeInquiryIdentity(ctx.buffer, id);
  if (!id.DrivePrefixReported) id.DrivePrefix.Assign(&ctx.buffer[kInquiryPrefixOffset]);
  id.DrivePrefix.ToUpper();
  ApplyRevisionPrefixRule(ctx, device);
  ApplyIdentitySubstitution(id);
}

bool ApplyRevisionPrefixRule(DriveContext& ctx, u8 device) {
  DriveIdentity& id = ctx.identity;
  // After a failed INQUIRY the work copy stays empty and matches nothing; a NUL in the data
  // ends it early, as it ends a C string.
  std::array<char, kInquiryIdentityLength + 1> work{};
  if (SendForIdentity(ctx, device, Command::kInquiry) == kStatusGood) {
    TakeInquiryIdentity(ctx.buffer, id);
    std::memcpy(work.data(), &ctx.buffer[kInquiryVendorOffset], kInquiryIdentityLength);
  }
  id.DrivePrefix.ToUpper();
  const std::string_view text(work.data(), std::strlen(work.data()));
  const bool matched =
      std::find(std::begin(kRevisionPrefixIdentities), std::end(kRevisionPrefixIdentities), text) !=
      std::end(kRevisionPrefixIdentities);
  if (matched) {
    const std::string_view revision = id.DriveRevision.view();
    id.DrivePrefix.Assign(std::string(revision.substr(0, 2)) + " ");
  }
  return matched;
}

void ProbeDiagnosticPage(DriveContext& ctx, u8 device) {
  std::fill(ctx.buffer.begin(), ctx.buffer.end(), u8{0});
  std::copy(kDiagOpen.begin(), kDiagOpen.end(), ctx.buffer.begin());
  if (ctx.Send(device, Command::kSendDiagnostic) == kStatusGood) {
    ctx.Send(device, Command::kReceiveDiagnosticResults);
  }
}

bool IsBootModeRevision(std::string_view revision) {
  return revision == "BOOT" || revision == "B1.0" || revision == "0.99";
}

bool IsComVariantInquiry(const CommandBuffer& buffer) {
  return std::memcmp(&buffer[kInquiryVendorOffset], kComVariantInquiry.data(),
                     kComVariantInquiry.size()) == 0;
}

void TakeListEntryIdentity(DriveIdentity& identity, std::string_view listEntry) {
  constexpr std::size_t kIdentWidth = decltype(identity.DriveIdent)::width;
  identity.DriveIdent.Assign(listEntry.substr(0, kIdentWidth));
  identity.DriveRevision.Assign(listEntry.substr(std::min(kIdentWidth, listEntry.size()),
                                                 decltype(identity.DriveRevision)::width));
}

void IdentifySelectedDrive(DriveContext& ctx, u8 device) {
  DriveIdentity& id = ctx.identity;
  id.BootModeDrive = IsBootModeRevision(id.DriveRevision.view());
  IdentifyDrive(ctx, device);
  id.ComVariantDrive = IsComVariantInquiry(ctx.buffer);
}

}  // namespace veltran
