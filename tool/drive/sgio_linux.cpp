// Linux back end: the optical devices through their SCSI generic nodes and the SG_IO request.
// /dev/sr* would filter vendor commands for a process without CAP_SYS_RAWIO; /dev/sgN does not.
#include "drive/sgio_linux.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "drive/ata_sysfs_linux.h"
#include "drive/backend.h"
#include "drive/sense.h"

namespace veltran {

sg_io_hdr_t MakeSgIoHeader(const CommandRequest& request, u8* sense, unsigned char senseLength) {
  sg_io_hdr_t hdr{};
  hdr.interface_id = 'S';
  hdr.dxfer_direction = request.dataLength == 0        ? SG_DXFER_NONE
                        : request.direction == kDataIn ? SG_DXFER_FROM_DEV
                                                       : SG_DXFER_TO_DEV;
  hdr.cmd_len = request.cdbLength;
  hdr.mx_sb_len = senseLength;
  hdr.dxfer_len = request.dataLength;
  hdr.dxferp = request.data;
  hdr.cmdp = const_cast<unsigned char*>(request.cdb);
  hdr.sbp = sense;
  constexpr std::uint64_t kLongest = std::numeric_limits<decltype(hdr.timeout)>::max();
  hdr.timeout = static_cast<decltype(hdr.timeout)>(
      std::min<std::uint64_t>(std::uint64_t{request.timeoutSeconds} * 1000, kLongest));
  return hdr;
}

namespace {

// Host adapter and driver statuses of the SG_IO header (the kernel's DID_ and DRIVER_ values).
// The header's info field has no time-out bit: SG_INFO_CHECK only says that one of the
// statuses is not zero.
constexpr unsigned kHostTimedOut = 0x03;    // DID_TIME_OUT
constexpr unsigned kDriverByte = 0x0F;      // the high nibble holds suggestions only
constexpr unsigned kDriverTimedOut = 0x06;  // DRIVER_TIMEOUT
constexpr unsigned kDriverSense = 0x08;     // sense data present: no failure of the call

u32 Residual(const sg_io_hdr_t& hdr) {
  if (hdr.resid <= 0) return 0;
  return std::min(static_cast<u32>(hdr.resid), hdr.dxfer_len);
}

}  // namespace

CommandResult SgIoResult(const sg_io_hdr_t& hdr, const CommandRequest& request) {
  CommandResult result;
  result.residual = Residual(hdr);
  const unsigned driver = hdr.driver_status & kDriverByte & ~kDriverSense;
  if (hdr.host_status != 0 || driver != 0) {
    result.os = OsError{0, hdr.host_status, hdr.driver_status};
    result.timedOut = hdr.host_status == kHostTimedOut || driver == kDriverTimedOut;
    return result;
  }
  if (hdr.status == 0) {
    result.status = kStatusGood;
    return result;
  }
  const std::size_t senseLength = std::min(hdr.sb_len_wr, hdr.mx_sb_len);
  ReturnSense(std::span<const u8>(hdr.sbp, senseLength), request);
  result.status = kStatusCheck;
  return result;
}

CommandResult SendSgIo(int fd, const CommandRequest& request) {
  std::array<u8, 32> sense{};
  sg_io_hdr_t hdr = MakeSgIoHeader(request, sense.data(), static_cast<unsigned char>(sense.size()));
  if (::ioctl(fd, SG_IO, &hdr) < 0) {
    CommandResult refused;
    refused.os.code = static_cast<u32>(errno);
    return refused;
  }
  return SgIoResult(hdr, request);
}

int DeviceOpenFlags(bool exclusive) {
  return O_RDWR | O_NONBLOCK | O_CLOEXEC | (exclusive ? O_EXCL : 0);
}

int OpenNode(const std::string& path, int flags) { return ::open(path.c_str(), flags); }

bool ReopenNode(FileDescriptor& fd, const std::string& path, bool exclusive,
                const NodeOpener& open) {
  // The sg driver refuses an exclusive open while any descriptor of the node is open, this
  // program's own included, and any open while an exclusive one is: the own one goes first.
  fd.Reset();
  fd = FileDescriptor(open(path, DeviceOpenFlags(exclusive)));
  if (fd) return true;
  if (exclusive) fd = FileDescriptor(open(path, DeviceOpenFlags(false)));
  return false;
}

bool WriteSetting(const std::filesystem::path& file, long value) {
  // Truncated as a shell's redirection does it: sysfs ignores that, a plain file needs it.
  const FileDescriptor fd(::open(file.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
  if (!fd) return false;
  const std::string text = std::to_string(value) + "\n";
  return ::write(fd.get(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

namespace {

namespace fs = std::filesystem;

bool IsGenericName(std::string_view name) {
  return name.size() > 2 && name.starts_with("sg") &&
         std::all_of(name.begin() + 2, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The polling setting of the one block device of a generic node; empty when there is none.
fs::path PollingSettingFile(const fs::path& root, const std::string& genericName) {
  // Only a node name: nothing may lead the look-up out of the class folder.
  if (!IsGenericName(genericName)) return {};
  std::error_code ec;
  std::vector<std::string> blocks;
  for (fs::directory_iterator it(root / "class/scsi_generic" / genericName / "device/block", ec);
       !ec && it != fs::directory_iterator(); it.increment(ec)) {
    blocks.push_back(it->path().filename().string());
  }
  if (ec || blocks.size() != 1) return {};
  fs::path file = root / "block" / blocks.front() / "events_poll_msecs";
  if (!fs::is_regular_file(file, ec)) return {};
  return file;
}

std::optional<long> ReadSetting(const fs::path& file) {
  std::ifstream in(file);
  std::string text;
  if (!std::getline(in, text)) return std::nullopt;
  long value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc{} || stop != end || text.empty()) return std::nullopt;
  return value;
}

}  // namespace

MediaPolling::MediaPolling(const fs::path& sysfsRoot, const std::string& genericName,
                           SettingWriter write)
    : file_(PollingSettingFile(sysfsRoot, genericName)), write_(std::move(write)) {}

MediaPolling::~MediaPolling() { Release(); }

std::optional<PollingChange> MediaPolling::Hold() {
  if (file_.empty() || held_) return std::nullopt;
  const std::optional<long> before = ReadSetting(file_);
  if (!before) return PollingChange{false, std::nullopt};
  if (*before != 0 && !write_(file_, 0)) return PollingChange{false, before};
  held_ = before;
  return PollingChange{true, before};
}

std::optional<PollingChange> MediaPolling::Release() {
  if (!held_) return std::nullopt;
  const long before = *std::exchange(held_, std::nullopt);
  return PollingChange{before == 0 || write_(file_, before), before};
}

namespace {

constexpr unsigned kMaxOpticalDevices = 26;
constexpr int kOpticalType = 5;
const std::filesystem::path kSysfsRoot = "/sys";

// The SCSI generic nodes of optical devices ("sg3"), in the order of their node numbers.
std::vector<std::string> OpticalGenericNodes() {
  std::vector<std::pair<unsigned long, std::string>> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(kSysfsRoot / "class/scsi_generic", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("sg", 0) != 0) continue;
    std::ifstream typeFile(entry.path() / "device" / "type");
    int type = -1;
    if (!(typeFile >> type) || type != kOpticalType) continue;
    found.emplace_back(std::stoul(name.substr(2)), name);
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> nodes;
  nodes.reserve(found.size());
  for (auto& [number, name] : found) nodes.push_back(std::move(name));
  return nodes;
}

std::string DevicePath(const std::string& node) { return "/dev/" + node; }

// Names a device that exists but may not be opened, with what would let the user in.
std::string NoAccessNotice(const std::string& path) {
  struct stat st {};
  std::string group;
  if (::stat(path.c_str(), &st) == 0) {
    if (const struct group* g = ::getgrgid(st.st_gid)) group = g->gr_name;
  }
  return path + " (an optical drive) cannot be opened: permission denied. Run as root" +
         (group.empty() ? "" : " or as a member of the group '" + group + "'") + ".";
}

class SgioBackend final : public ScsiBackend {
 public:
  unsigned BeginScan() override {
    devices_.clear();
    notices_.clear();
    nodes_ = OpticalGenericNodes();
    return static_cast<unsigned>(nodes_.size());
  }

  std::optional<CommandResult> Probe(unsigned candidate, const CommandRequest& request) override {
    probed_.Reset();
    const std::string path = DevicePath(nodes_.at(candidate));
    const int fd = OpenNode(path, DeviceOpenFlags(false));
    if (fd < 0) {
      if (errno == EACCES || errno == EPERM) notices_.push_back(NoAccessNotice(path));
      return std::nullopt;
    }
    probed_ = FileDescriptor(fd);
    return SendSgIo(probed_.get(), request);
  }

  void Accept(unsigned candidate) override {
    devices_.push_back({std::move(probed_), nodes_.at(candidate), nullptr});
  }

  unsigned MaxDevices() const override { return kMaxOpticalDevices; }

  CommandResult Execute(u8 device, const CommandRequest& request) override {
    if (device >= devices_.size()) return CommandResult{};
    return SendSgIo(devices_[device].fd.get(), request);
  }

  std::optional<bool> SetExclusive(u8 device, bool on) override {
    if (device >= devices_.size()) return false;
    Device& d = devices_[device];
    return ReopenNode(d.fd, DevicePath(d.node), on);
  }

  std::optional<PollingChange> HoldPolling(u8 device, bool hold) override {
    if (device >= devices_.size()) return std::nullopt;
    Device& d = devices_[device];
    if (!hold) return d.polling ? d.polling->Release() : std::nullopt;
    if (!d.polling) d.polling = std::make_unique<MediaPolling>(kSysfsRoot, d.node);
    return d.polling->Hold();
  }

  TransferModeRead TransferMode(u8 device) override {
    if (device >= devices_.size()) return {true, std::nullopt};
    return {true, AtaTransferMode(kSysfsRoot, devices_[device].node)};
  }

  std::vector<std::string> ScanNotices() const override { return notices_; }

 private:
  // A polling hold still taken is given back when the device is forgotten (a new scan, the
  // end of the back end).
  struct Device {
    FileDescriptor fd;
    std::string node;
    std::unique_ptr<MediaPolling> polling;
  };
  std::vector<std::string> nodes_;
  FileDescriptor probed_;
  std::vector<Device> devices_;
  std::vector<std::string> notices_;
};

}  // namespace

std::unique_ptr<ScsiBackend> MakeHostBackend(std::uint32_t /*platformId*/) {
  return std::make_unique<SgioBackend>();
}

}  // namespace veltran
