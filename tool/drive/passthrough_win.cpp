#include "drive/passthrough_win.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "drive/sense.h"

namespace veltran {

DeviceHandle OpenCdromDevice(char letter) {
  const std::string root{letter, ':'};
  if (GetDriveTypeA(root.c_str()) != DRIVE_CDROM) return DeviceHandle{};
  const std::string path = "\\\\.\\" + root;
  return DeviceHandle{CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                  nullptr)};
}

PassThroughRequest MakePassThroughRequest(const CommandRequest& request) {
  PassThroughRequest block{};
  SCSI_PASS_THROUGH_DIRECT& h = block.header;
  h.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
  h.PathId = 0;
  h.TargetId = kPassThroughTargetId;
  h.Lun = 0;
  h.CdbLength = request.cdbLength;
  h.SenseInfoLength = kPassThroughSenseLength;
  h.DataIn = request.direction == kDataIn ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_OUT;
  h.DataTransferLength = request.dataLength;
  h.TimeOutValue = request.timeoutSeconds;
  h.DataBuffer = request.data;
  h.SenseInfoOffset = offsetof(PassThroughRequest, sense);
  std::memcpy(h.Cdb, request.cdb, std::min<std::size_t>(request.cdbLength, kPassThroughCdbRoom));
  return block;
}

bool IsPassThroughTimeout(DWORD error) {
  // STATUS_IO_TIMEOUT reaches the caller as ERROR_SEM_TIMEOUT; the other two are the system's
  // general time-out codes.
  return error == ERROR_SEM_TIMEOUT || error == ERROR_TIMEOUT || error == WAIT_TIMEOUT;
}

CommandResult PassThroughResult(bool callSucceeded, DWORD error, const PassThroughRequest& block,
                                const CommandRequest& request) {
  CommandResult result;
  if (!callSucceeded) {
    result.os.code = static_cast<u32>(error);
    result.timedOut = IsPassThroughTimeout(error);
    return result;
  }
  const ULONG moved = block.header.DataTransferLength;
  if (moved < request.dataLength) result.residual = request.dataLength - moved;
  if (block.header.ScsiStatus == 0) {
    result.status = kStatusGood;
    return result;
  }
  ReturnSense({block.sense, kPassThroughSenseLength}, request);
  result.status = kStatusCheck;
  return result;
}

CommandResult PassThroughExecute(HANDLE device, const CommandRequest& request) {
  // The transport sends only requests that fit; this keeps the block's CDB whole.
  if (request.cdb == nullptr || request.cdbLength > kPassThroughCdbRoom ||
      (request.data == nullptr && request.dataLength != 0)) {
    return CommandResult{};
  }
  PassThroughRequest block = MakePassThroughRequest(request);
  DWORD returned = 0;
  const BOOL ok = DeviceIoControl(device, kIoctlScsiPassThroughDirect, &block, sizeof block, &block,
                                  sizeof block, &returned, nullptr);
  return PassThroughResult(ok != FALSE, ok != FALSE ? 0 : GetLastError(), block, request);
}

cdrom::ExclusiveLock MakeExclusiveLockRequest(std::string_view callerName) {
  cdrom::ExclusiveLock lock{};
  lock.Access.RequestType = cdrom::kLockDevice;
  // A mounted file system must not keep a download from taking the drive.
  lock.Access.Flags = cdrom::kLockIgnoreVolume;
  const std::size_t length = std::min(callerName.size(), cdrom::kCallerNameLength - 1);
  std::memcpy(lock.CallerName, callerName.data(), length);
  return lock;
}

cdrom::ExclusiveAccess MakeExclusiveUnlockRequest() {
  return cdrom::ExclusiveAccess{cdrom::kUnlockDevice, 0};
}

bool SetCdromExclusive(HANDLE device, bool on) {
  DWORD returned = 0;
  BOOL ok = FALSE;
  if (on) {
    cdrom::ExclusiveLock lock = MakeExclusiveLockRequest(kExclusiveCallerName);
    ok = DeviceIoControl(device, cdrom::kIoctlExclusiveAccess, &lock, sizeof lock, nullptr, 0,
                         &returned, nullptr);
  } else {
    cdrom::ExclusiveAccess unlock = MakeExclusiveUnlockRequest();
    ok = DeviceIoControl(device, cdrom::kIoctlExclusiveAccess, &unlock, sizeof unlock, nullptr, 0,
                         &returned, nullptr);
  }
  return ok != FALSE;
}

unsigned PassThroughBackend::BeginScan() {
  devices_.clear();
  probed_.Reset();
  probedCandidate_.reset();
  return kDriveLetters;
}

std::optional<CommandResult> PassThroughBackend::Probe(unsigned candidate,
                                                       const CommandRequest& request) {
  // A candidate that was probed but not accepted gives its handle back here.
  probed_.Reset();
  probedCandidate_.reset();
  if (candidate >= kDriveLetters) return std::nullopt;
  DeviceHandle handle = OpenCdromDevice(static_cast<char>('a' + candidate));
  if (!handle) return std::nullopt;
  const CommandResult result = PassThroughExecute(handle.get(), request);
  probed_ = std::move(handle);
  probedCandidate_ = candidate;
  return result;
}

void PassThroughBackend::Accept(unsigned candidate) {
  if (probedCandidate_ != candidate || !probed_ || devices_.size() >= kDriveLetters) return;
  devices_.push_back(std::move(probed_));
  probedCandidate_.reset();
}

CommandResult PassThroughBackend::Execute(u8 device, const CommandRequest& request) {
  if (device >= devices_.size()) return CommandResult{};
  return PassThroughExecute(devices_[device].get(), request);
}

std::optional<bool> ExclusiveLockAnswer(bool succeeded, DWORD error) {
  if (succeeded) return true;
  switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_DRIVE_LOCKED:
    case ERROR_BUSY:
      return false;
    default:
      return std::nullopt;
  }
}

std::optional<bool> PassThroughBackend::SetExclusive(u8 device, bool on) {
  if (device >= devices_.size()) return false;
  const bool succeeded = SetCdromExclusive(devices_[device].get(), on);
  // Only taking the lock tells a holder from a platform without it; giving it back reports as is.
  if (!on) return succeeded;
  return ExclusiveLockAnswer(succeeded, succeeded ? ERROR_SUCCESS : GetLastError());
}

}  // namespace veltran
