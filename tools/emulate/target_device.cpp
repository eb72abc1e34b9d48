#include "target_device.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace veltran {
namespace {

const std::string kTarget = "/sys/kernel/config/target";
const std::string kBackEnd = kTarget + "/core/user_1";

bool MakeFolder(const std::string& path, std::string& error) {
  if (::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) return true;
  error = "cannot make " + path + ": " + std::strerror(errno);
  return false;
}

bool WriteSetting(const std::string& path, const std::string& value, std::string& error) {
  std::ofstream out(path);
  out << value << '\n';
  out.flush();
  if (out) return true;
  error = "cannot write '" + value + "' to " + path;
  return false;
}

// A port address of the loopback fabric: the target's and the initiator's differ in one digit.
std::string PortName(unsigned index, unsigned role) {
  char name[32];
  std::snprintf(name, sizeof name, "naa.50014050000%02u%03u", index % 100, role);
  return name;
}

}  // namespace

TargetDevice::TargetDevice(std::string name, unsigned index)
    : name_(std::move(name)), index_(index) {}

std::string TargetDevice::UioNamePrefix() const { return "tcm-user/1/" + name_ + "/"; }

bool TargetDevice::Create(std::string& error) {
  const std::string device = kBackEnd + "/" + name_;
  if (!MakeFolder(kBackEnd, error) || !MakeFolder(device, error)) return false;
  // A size, so that the kernel's own failures come with fixed-format sense; no time-out of the
  // kernel's own, so that the initiator's limits govern; notices of aborts in the ring.
  return WriteSetting(device + "/control", "dev_size=1048576,dev_config=veltran/" + name_, error) &&
         WriteSetting(device + "/attrib/cmd_time_out", "0", error) &&
         WriteSetting(device + "/attrib/tmr_notification", "1", error) &&
         WriteSetting(device + "/enable", "1", error);
}

bool TargetDevice::Link(std::string& error) {
  const std::string port = kTarget + "/loopback/" + PortName(index_, 1);
  const std::string group = port + "/tpgt_1";
  const std::string lun = group + "/lun/lun_0";
  if (!MakeFolder(kTarget + "/loopback", error) || !MakeFolder(port, error) ||
      !MakeFolder(group, error) || !MakeFolder(lun, error)) {
    return false;
  }
  if (!WriteSetting(group + "/nexus", PortName(index_, 2), error)) return false;
  if (::symlink((kBackEnd + "/" + name_).c_str(), (lun + "/" + name_).c_str()) != 0) {
    error = "cannot link the device to " + lun + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void TargetDevice::Remove() {
  const std::string port = kTarget + "/loopback/" + PortName(index_, 1);
  ::unlink((port + "/tpgt_1/lun/lun_0/" + name_).c_str());
  // Each step undoes one of the above; what was never made is not there to remove.
  for (const std::string& folder :
       {port + "/tpgt_1/lun/lun_0", port + "/tpgt_1", port, kBackEnd + "/" + name_}) {
    ::rmdir(folder.c_str());
  }
}

}  // namespace veltran
