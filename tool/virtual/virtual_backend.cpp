// The virtual machine seen through the same statuses as the real back ends: letters and the
// pass-through statuses on nt, adapters, targets and ASPI request statuses on 9x.
#include <vector>

#include "drive/aspi_codes.h"
#include "virtual/machine.h"

namespace veltran {
namespace {

class VirtualBackend final : public ScsiBackend {
 public:
  explicit VirtualBackend(VirtualMachine& machine) : machine_(machine) {}

  unsigned BeginScan() override {
    devices_.clear();
    return nt() ? kDriveLetters : machine_.HostAdapterCount() * aspi::kTargetsPerAdapter;
  }

  std::optional<u8> Probe(unsigned candidate, const CommandRequest& request) override {
    VirtualDrive* drive = Candidate(candidate);
    // A letter without an optical drive is never opened; an ASPI target is always asked.
    if (nt() && drive == nullptr) return std::nullopt;
    return Send(drive, request);
  }

  void Accept(unsigned candidate) override { devices_.push_back(Candidate(candidate)); }

  unsigned MaxDevices() const override { return nt() ? kDriveLetters : kMaxDevices; }

  u8 Execute(u8 device, const CommandRequest& request) override {
    return Send(devices_.at(device), request);
  }

  // The virtual drives of letter machines take the lock as a pass-through drive would; ASPI
  // offers none.
  std::optional<bool> SetExclusive(u8 device, bool /*on*/) override {
    if (!nt() || device >= devices_.size()) return std::nullopt;
    return true;
  }

  TransferModeRead TransferMode(u8 device) override {
    if (!machine_.scenario().linuxHost || device >= devices_.size()) return {};
    return {true, devices_[device]->config().transferMode};
  }

 private:
  bool nt() const { return machine_.scenario().nt; }

  VirtualDrive* Candidate(unsigned candidate) {
    if (nt()) return machine_.DriveAtLetter(static_cast<char>('a' + candidate));
    return machine_.DriveAt(candidate / aspi::kTargetsPerAdapter,
                            candidate % aspi::kTargetsPerAdapter, 0);
  }

  u8 Send(VirtualDrive* drive, const CommandRequest& request) {
    if (drive == nullptr) return aspi::SS_NO_DEVICE;
    const DriveReply reply = drive->Execute(request.cdb, request.cdbLength, request.data,
                                            request.dataLength, request.direction != kDataIn);
    switch (reply.kind) {
      case DriveReply::Kind::kGood:
        return kStatusGood;
      case DriveReply::Kind::kCheck:
      case DriveReply::Kind::kBusy:
        CopySenseBytes(reply.sense.data(), request.data);
        return kStatusCheck;
      case DriveReply::Kind::kTransportFailure:
        break;
    }
    return nt() ? kStatusCallFailed : aspi::SS_ABORTED;
  }

  VirtualMachine& machine_;
  std::vector<VirtualDrive*> devices_;
};

}  // namespace

std::unique_ptr<ScsiBackend> MakeVirtualBackend(VirtualMachine& machine) {
  return std::make_unique<VirtualBackend>(machine);
}

}  // namespace veltran
