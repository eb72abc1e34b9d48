#include "probe_json.h"

#include <nlohmann/json.hpp>

namespace veltran {
namespace {

using nlohmann::json;

json DriveJson(std::size_t position, const DriveReport& r) {
  const DriveIdentity& id = r.identity;
  return {
      {"position", position},
      {"device", r.device},
      {"list_entry", EscapeBytes(r.listEntry)},
      {"identity", EscapeBytes(id.DriveIdent.view())},
      {"revision", EscapeBytes(id.DriveRevision.view())},
      {"prefix", EscapeBytes(id.DrivePrefix.view())},
      {"prefix_source", id.DrivePrefixReported ? "vendor-identify" : "inquiry"},
      {"boot_mode", id.BootModeDrive},
      {"com_variant", id.ComVariantDrive},
      {"transfer_mode", r.transferMode ? json(EscapeBytes(*r.transferMode)) : json()},
  };
}

}  // namespace

std::string FormatJsonReport(const std::vector<DriveReport>& reports,
                             const std::vector<std::string>& notices) {
  json drives = json::array();
  for (std::size_t i = 0; i < reports.size(); ++i) drives.push_back(DriveJson(i, reports[i]));
  json escapedNotices = json::array();
  for (const std::string& notice : notices) escapedNotices.push_back(EscapeBytes(notice));
  const json document = {
      {"format", kProbeJsonFormat}, {"drives", drives}, {"notices", escapedNotices}};
  return document.dump(2) + "\n";
}

}  // namespace veltran
