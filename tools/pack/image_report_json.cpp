#include "image_report_json.h"

#include <nlohmann/json.hpp>

#include "app/image_refusal.h"
#include "drive/text.h"

namespace veltran::pack {
namespace {

using nlohmann::json;

std::string SizeCheck(const ImageInspection& inspection) {
  if (inspection.record.FixedHeaderImage || inspection.record.Image64K) return "not-applied";
  return inspection.sizeCheckPassed ? "passed" : "failed";
}

json Optional(const std::optional<std::string>& text) { return text ? json(*text) : json(); }

}  // namespace

std::string InspectionJson(const std::string& path, const ImageInspection& inspection) {
  const ImageRecord& r = inspection.record;
  // A file that could not be read has no form and no figures worth reporting.
  const bool read = !inspection.form.empty();
  json document = {
      {"format", kInspectJsonFormat},
      {"image", path},
      {"form", read ? json(inspection.form) : json()},
      {"size", r.ImageSize},
      {"identity", EscapeBytes(r.ImageIdent.view())},
      {"revision", EscapeBytes(r.ImageRevision.view())},
      {"prefix", EscapeBytes(r.ImagePrefix.view())},
      {"type", r.ImageType},
      {"fixed_header", r.FixedHeaderImage},
      {"image_64k", r.Image64K},
      {"block_size_kb", r.BlockSizeKB},
      {"command_count", r.CommandCount},
      {"last_block_kb", int{r.LastBlockKB}},
      {"layout", read ? json(inspection.layoutText) : json()},
      {"size_check", read ? json(SizeCheck(inspection)) : json()},
      {"verdict", inspection.refusal ? "refused" : "accepted"},
      {"rule", inspection.refusal ? json(std::string(ImageRefusalName(inspection.rule))) : json()},
      {"message", Optional(inspection.refusal)},
  };
  // A path is not always valid UTF-8; its stray bytes become U+FFFD rather than failing the dump.
  return document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace veltran::pack
