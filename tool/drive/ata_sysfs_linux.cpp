#include "drive/ata_sysfs_linux.h"

#include <charconv>
#include <fstream>
#include <string_view>
#include <system_error>
#include <vector>

#include "drive/scsi.h"

namespace veltran {
namespace {

namespace fs = std::filesystem;

// Where libata put a SCSI device: its port's print id, and the channel and target of its SCSI
// address. A device on a port multiplier has the multiplier's link number as its channel.
struct AtaAddress {
  unsigned port = 0;
  unsigned channel = 0;
  unsigned target = 0;
};

std::optional<unsigned> Number(std::string_view text) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

// "ata3" → 3.
std::optional<unsigned> PortNumber(std::string_view component) {
  if (component.substr(0, 3) != "ata") return std::nullopt;
  return Number(component.substr(3));
}

// "2:0:1:0" (host, channel, target, LUN) → its four numbers.
std::optional<std::vector<unsigned>> ScsiAddress(std::string_view component) {
  std::vector<unsigned> numbers;
  for (std::size_t start = 0;;) {
    const std::size_t colon = component.find(':', start);
    const auto number = Number(component.substr(start, colon - start));
    if (!number) return std::nullopt;
    numbers.push_back(*number);
    if (colon == std::string_view::npos) break;
    start = colon + 1;
  }
  if (numbers.size() != 4) return std::nullopt;
  return numbers;
}

// The device folder resolves to ".../ataP/hostH/targetH:C:T/H:C:T:L"; nothing without an ATA
// port on the way.
std::optional<AtaAddress> FindAtaAddress(const fs::path& device) {
  const auto address = ScsiAddress(device.filename().string());
  if (!address) return std::nullopt;
  std::optional<unsigned> port;
  for (const fs::path& component : device.parent_path()) {
    if (const auto number = PortNumber(component.string())) port = number;
  }
  if (!port) return std::nullopt;
  return AtaAddress{*port, (*address)[1], (*address)[2]};
}

// libata names the device on a host link "devP.T" and one behind a port multiplier
// "devP.M.T"; the multiplier's links are "linkP.M" beside the host link "linkP".
fs::path AtaDeviceFolder(const fs::path& root, const AtaAddress& a) {
  const std::string port = std::to_string(a.port);
  const std::string link = port + "." + std::to_string(a.channel);
  std::error_code ec;
  if (fs::exists(root / "class/ata_link" / ("link" + link), ec)) {
    return root / "class/ata_device" / ("dev" + link + "." + std::to_string(a.target));
  }
  return root / "class/ata_device" / ("dev" + port + "." + std::to_string(a.target));
}

std::optional<std::string> ReadMode(const fs::path& file) {
  std::ifstream in(file);
  std::string mode;
  if (!std::getline(in, mode)) return std::nullopt;
  while (!mode.empty() && (mode.back() == ' ' || mode.back() == '\r')) mode.pop_back();
  if (!IsDmaTransferMode(mode)) return std::nullopt;
  return mode;
}

}  // namespace

std::optional<std::string> AtaTransferMode(const fs::path& sysfsRoot,
                                           const std::string& genericName) {
  // Only a node name: nothing may lead the look-up out of the class folder.
  if (genericName.rfind("sg", 0) != 0 || !Number(std::string_view(genericName).substr(2))) {
    return std::nullopt;
  }
  std::error_code ec;
  const fs::path device =
      fs::canonical(sysfsRoot / "class/scsi_generic" / genericName / "device", ec);
  if (ec) return std::nullopt;
  const auto address = FindAtaAddress(device);
  if (!address) return std::nullopt;
  return ReadMode(AtaDeviceFolder(sysfsRoot, *address) / "xfer_mode");
}

}  // namespace veltran
