#include "drive_report.h"

#include <memory>

namespace veltran {
namespace {

std::string Quoted(std::string_view text) { return "\"" + EscapeBytes(text) + "\""; }

}  // namespace

std::vector<DriveReport> ScanAndIdentify(Platform& platform) {
  auto buffer = std::make_unique<CommandBuffer>();
  DriveIdentity identity;
  DriveContext ctx{platform.transport(), platform.system().clock(), *buffer, identity};

  std::vector<DriveReport> reports;
  const u8 count = platform.transport().ScanDrives();
  for (u8 device = 0; device < count; ++device) {
    if (ctx.Send(device, Command::kInquiryList) != kStatusGood) continue;
    reports.push_back({device, DriveListEntry(*buffer), {}, {}});
  }
  for (DriveReport& report : reports) {
    TakeListEntryIdentity(identity, report.listEntry);
    IdentifySelectedDrive(ctx, report.device);
    report.identity = identity;
    report.transferMode = platform.transport().TransferMode(report.device).mode;
  }
  return reports;
}

std::string FormatReport(const std::vector<DriveReport>& reports) {
  std::string out = std::to_string(reports.size()) + " drive(s) found\n";
  for (std::size_t i = 0; i < reports.size(); ++i) {
    const DriveReport& r = reports[i];
    const DriveIdentity& id = r.identity;
    out += "Drive " + std::to_string(i) + " (device " + std::to_string(r.device) +
           "): " + EscapeBytes(r.listEntry) + "\n";
    out += "  identity : " + Quoted(id.DriveIdent.view()) + "\n";
    out += "  revision : " + Quoted(id.DriveRevision.view()) + "\n";
    out += "  prefix   : " + Quoted(id.DrivePrefix.view()) +
           (id.DrivePrefixReported ? " (the drive answered VENDOR IDENTIFY)" : " (from INQUIRY)") +
           "\n";
    out += std::string("  boot mode: ") + (id.BootModeDrive ? "yes" : "no") + "\n";
    out += std::string("  COM variant: ") + (id.ComVariantDrive ? "yes" : "no") + "\n";
    if (r.transferMode) out += "  transfer mode: " + *r.transferMode + "\n";
  }
  return out;
}

}  // namespace veltran
