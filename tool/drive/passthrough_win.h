// The NT family's back end: one device handle per drive letter and the storage stack's direct
// pass-through request.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "drive/backend.h"
#include "drive/cdrom_lock_abi.h"
#include "drive/passthrough_abi.h"
#include "system/handles_win.h"

namespace veltran {

// A drive's device handle, closed when the owner goes.
using DeviceHandle = UniqueFileHandle;

class PassThroughBackend final : public ScsiBackend {
 public:
  unsigned BeginScan() override;
  std::optional<CommandResult> Probe(unsigned candidate, const CommandRequest& request) override;
  void Accept(unsigned candidate) override;
  unsigned MaxDevices() const override { return kDriveLetters; }
  CommandResult Execute(u8 device, const CommandRequest& request) override;
  // The CD-ROM class driver's exclusive-access lock, on the handle that sends the commands.
  std::optional<bool> SetExclusive(u8 device, bool on) override;

 private:
  std::vector<DeviceHandle> devices_;
  DeviceHandle probed_;
  std::optional<unsigned> probedCandidate_;
};

// What a lock request's outcome means: taken (true), refused because another program holds the
// drive (false: the error says the device is in use or access is denied), or not offered
// (nothing: any other error, such as the "not supported" or "invalid parameter" answer of a
// driver that does not know the request, as Wine's CD-ROM driver gives).
std::optional<bool> ExclusiveLockAnswer(bool succeeded, DWORD error);

// Opens "\\.\x:" for reading and writing when the system calls drive "x:" a CD-ROM drive; an
// invalid handle otherwise, and then nothing was opened.
DeviceHandle OpenCdromDevice(char letter);

// The request block for one command, the data buffer passed by pointer, with the request's
// time-out.
PassThroughRequest MakePassThroughRequest(const CommandRequest& request);
// Whether a system error code of the call says that the command ran out of time.
bool IsPassThroughTimeout(DWORD error);
// The result of a finished call: 0xFF with the system's error code when the call failed (timed
// out for the codes above), else 1 for good status or 4 with the sense code returned in the
// data buffer, and the bytes the driver did not move (it lowers DataTransferLength to the count
// it moved).
CommandResult PassThroughResult(bool callSucceeded, DWORD error, const PassThroughRequest& block,
                                const CommandRequest& request);
// Sends one command on an open device handle. A request the block cannot carry (a CDB longer
// than its room, or data without a buffer) is refused with 0xFF and nothing is sent.
CommandResult PassThroughExecute(HANDLE device, const CommandRequest& request);

// The name this program locks drives under, as other programs are told it.
inline constexpr std::string_view kExclusiveCallerName = "VELTRAN";
// The lock request under a caller name, cut to what the structure holds with its terminator.
cdrom::ExclusiveLock MakeExclusiveLockRequest(std::string_view callerName);
cdrom::ExclusiveAccess MakeExclusiveUnlockRequest();
// Takes (on) or gives back (off) exclusive use of the drive behind an open device handle;
// whether the driver agreed.
bool SetCdromExclusive(HANDLE device, bool on);

}  // namespace veltran
