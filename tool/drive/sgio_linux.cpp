// Linux back end: the optical devices through their SCSI generic nodes and the SG_IO request.
// /dev/sr* would filter vendor commands for a process without CAP_SYS_RAWIO; /dev/sgN does not.
#include <fcntl.h>
#include <grp.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <utility>
#include <string>
#include <vector>

#include "drive/backend.h"

namespace veltran {
namespace {

constexpr unsigned kMaxOpticalDevices = 26;
constexpr unsigned kTimeoutMs = 60000;
constexpr int kOpticalType = 5;

class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  ~FileDescriptor() { Reset(); }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

// The SCSI generic nodes of optical devices, in the order of their node numbers.
std::vector<std::string> OpticalGenericNodes() {
  namespace fs = std::filesystem;
  std::vector<std::pair<unsigned long, std::string>> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/sys/class/scsi_generic", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("sg", 0) != 0) continue;
    std::ifstream typeFile(entry.path() / "device" / "type");
    int type = -1;
    if (!(typeFile >> type) || type != kOpticalType) continue;
    found.emplace_back(std::stoul(name.substr(2)), "/dev/" + name);
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> nodes;
  for (auto& [number, path] : found) nodes.push_back(std::move(path));
  return nodes;
}

u8 SendSgIo(int fd, const CommandRequest& request) {
  std::array<u8, 32> sense{};
  sg_io_hdr_t hdr{};
  hdr.interface_id = 'S';
  hdr.dxfer_direction = request.dataLength == 0          ? SG_DXFER_NONE
                        : request.direction == kDataIn ? SG_DXFER_FROM_DEV
                                                       : SG_DXFER_TO_DEV;
  hdr.cmd_len = request.cdbLength;
  hdr.mx_sb_len = static_cast<unsigned char>(sense.size());
  hdr.dxfer_len = request.dataLength;
  hdr.dxferp = request.data;
  hdr.cmdp = const_cast<unsigned char*>(request.cdb);
  hdr.sbp = sense.data();
  hdr.timeout = kTimeoutMs;
  if (::ioctl(fd, SG_IO, &hdr) < 0) return kStatusCallFailed;
  constexpr unsigned kDriverSense = 0x08;
  if (hdr.host_status != 0 || (hdr.driver_status & ~kDriverSense & 0x0F) != 0) {
    return kStatusCallFailed;
  }
  if (hdr.status == 0) return kStatusGood;
  CopySenseBytes(sense.data(), request.data);
  return kStatusCheck;
}

// Names a device that exists but may not be opened, once, with what would let the user in.
void ReportNoAccess(const std::string& node) {
  static std::set<std::string> reported;
  if (!reported.insert(node).second) return;
  struct stat st {};
  std::string group;
  if (::stat(node.c_str(), &st) == 0) {
    if (const struct group* g = ::getgrgid(st.st_gid)) group = g->gr_name;
  }
  std::fprintf(stderr,
               "veltran: %s (an optical drive) cannot be opened: permission denied. Run as root%s.\n",
               node.c_str(),
               group.empty() ? "" : (" or as a member of the group '" + group + "'").c_str());
}

class SgioBackend final : public ScsiBackend {
 public:
  unsigned BeginScan() override {
    devices_.clear();
    nodes_ = OpticalGenericNodes();
    return static_cast<unsigned>(nodes_.size());
  }

  std::optional<u8> Probe(unsigned candidate, const CommandRequest& request) override {
    probed_ = FileDescriptor(::open(nodes_[candidate].c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!probed_.valid()) {
      if (errno == EACCES || errno == EPERM) ReportNoAccess(nodes_[candidate]);
      return std::nullopt;
    }
    return SendSgIo(probed_.get(), request);
  }

  void Accept(unsigned /*candidate*/) override { devices_.push_back(std::move(probed_)); }

  unsigned MaxDevices() const override { return kMaxOpticalDevices; }

  u8 Execute(u8 device, const CommandRequest& request) override {
    return SendSgIo(devices_.at(device).get(), request);
  }

 private:
  std::vector<std::string> nodes_;
  FileDescriptor probed_;
  std::vector<FileDescriptor> devices_;
};

}  // namespace

std::unique_ptr<ScsiBackend> MakeHostBackend(std::uint32_t /*platformId*/) {
  return std::make_unique<SgioBackend>();
}

}  // namespace veltran
