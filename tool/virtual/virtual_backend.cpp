// The virtual machine seen through the same statuses as the real back ends: letters and the
// pass-through statuses on nt, the SG_IO statuses on linux, adapters, targets and ASPI request
// statuses on 9x.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "drive/aspi_codes.h"
#include "drive/sense.h"
#include "virtual/machine.h"

namespace veltran {
namespace {

// What the real back ends report for a command that timed out: the pass-through call fails
// with ERROR_SEM_TIMEOUT, SG_IO's host status is DID_TIME_OUT.
constexpr u32 kPassThroughTimedOut = 121;
constexpr u32 kSgIoHostTimedOut = 0x03;

class VirtualBackend final : public ScsiBackend {
 public:
  explicit VirtualBackend(VirtualMachine& machine) : machine_(machine) {}

  unsigned BeginScan() override {
    devices_.clear();
    return nt() ? kDriveLetters : machine_.HostAdapterCount() * aspi::kTargetsPerAdapter;
  }

  std::optional<CommandResult> Probe(unsigned candidate, const CommandRequest& request) override {
    VirtualDrive* drive = Candidate(candidate);
    // A letter without an optical drive is never opened; an ASPI target is always asked.
    if (nt() && drive == nullptr) return std::nullopt;
    return Send(drive, request);
  }

  void Accept(unsigned candidate) override { devices_.push_back(Candidate(candidate)); }

  unsigned MaxDevices() const override { return nt() ? kDriveLetters : kMaxDevices; }

  CommandResult Execute(u8 device, const CommandRequest& request) override {
    if (device >= devices_.size()) return CommandResult{};
    return Send(devices_[device], request);
  }

  // The virtual drives of letter machines take the lock as a pass-through drive would, unless
  // the scenario has another program hold it or the platform refuse it; ASPI offers none.
  std::optional<bool> SetExclusive(u8 device, bool on) override {
    if (!nt() || device >= devices_.size()) return std::nullopt;
    switch (devices_[device]->config().lock) {
      case ScenarioDrive::Lock::kFree:
        return true;
      case ScenarioDrive::Lock::kHeld:
        return !on;
      case ScenarioDrive::Lock::kUnsupported:
        break;
    }
    return std::nullopt;
  }

  TransferModeRead TransferMode(u8 device) override {
    if (!linuxHost() || device >= devices_.size()) return {};
    return {true, devices_[device]->config().transferMode};
  }

 private:
  bool nt() const { return machine_.scenario().nt; }
  bool linuxHost() const { return machine_.scenario().linuxHost; }

  VirtualDrive* Candidate(unsigned candidate) {
    if (nt()) return machine_.DriveAtLetter(static_cast<char>('a' + candidate));
    return machine_.DriveAt(candidate / aspi::kTargetsPerAdapter,
                            candidate % aspi::kTargetsPerAdapter, 0);
  }

  CommandResult Send(VirtualDrive* drive, const CommandRequest& request) {
    if (drive == nullptr) return AspiCommandResult(aspi::SS_NO_DEVICE, 0);
    const DriveReply reply = drive->Execute(request.cdb, request.cdbLength, request.data,
                                            request.dataLength, request.direction != kDataIn);
    if (reply.kind == DriveReply::Kind::kCheck || reply.kind == DriveReply::Kind::kBusy) {
      ReturnSense(reply.sense, request);
    }
    // A drive that is gone never answers: the host gives up as on a time-out.
    if (IsUnanswered(reply) && nt()) WaitOutTimeout(request);
    return nt() ? HostResult(reply, request) : AspiResult(reply);
  }

  // The host gives up on the command only once its time-out has passed.
  void WaitOutTimeout(const CommandRequest& request) {
    constexpr std::uint64_t kLongest = UINT32_MAX;
    machine_.clock().SleepMs(static_cast<std::uint32_t>(
        std::min<std::uint64_t>(std::uint64_t{request.timeoutSeconds} * 1000, kLongest)));
  }

  // As the pass-through (nt) or SG_IO (linux) reports the reply.
  CommandResult HostResult(const DriveReply& reply, const CommandRequest& request) const {
    CommandResult result;
    result.residual = std::min(reply.residual, request.dataLength);
    switch (reply.kind) {
      case DriveReply::Kind::kGood:
        result.status = kStatusGood;
        return result;
      case DriveReply::Kind::kCheck:
      case DriveReply::Kind::kBusy:
        result.status = kStatusCheck;
        return result;
      case DriveReply::Kind::kTimeout:
      case DriveReply::Kind::kGone:
        result.timedOut = true;
        result.os = linuxHost() ? OsError{0, kSgIoHostTimedOut, 0} : OsError{kPassThroughTimedOut};
        break;
      case DriveReply::Kind::kTransportFailure:
        break;
    }
    // A pass-through call that fails hands back no count of what was moved.
    if (!linuxHost()) result.residual = 0;
    return result;
  }

  // As the ASPI back end reports the manager's request statuses.
  static CommandResult AspiResult(const DriveReply& reply) {
    switch (reply.kind) {
      case DriveReply::Kind::kGood:
        return AspiCommandResult(aspi::SS_COMP, 0);
      case DriveReply::Kind::kCheck:
      case DriveReply::Kind::kBusy:
        return AspiCommandResult(aspi::SS_ERR, 0);
      case DriveReply::Kind::kTimeout:
      case DriveReply::Kind::kGone:
        return AspiCommandResult(aspi::SS_ABORTED, aspi::HASTAT_COMMAND_TIMEOUT);
      case DriveReply::Kind::kTransportFailure:
        break;
    }
    return AspiCommandResult(aspi::SS_ABORTED, 0);
  }

  VirtualMachine& machine_;
  std::vector<VirtualDrive*> devices_;
};

}  // namespace

std::unique_ptr<ScsiBackend> MakeVirtualBackend(VirtualMachine& machine) {
  return std::make_unique<VirtualBackend>(machine);
}

}  // namespace veltran
