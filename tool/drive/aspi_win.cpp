#include "drive/aspi_win.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <utility>

#include "drive/sense.h"

namespace veltran {

u8 WaitForAspiStatus(const aspi::SRB_ExecSCSICmd& srb) {
  // The manager writes the status from outside this program's view: read it afresh each time.
  const volatile u8& status = srb.SRB_Status;
  // Most commands finish within a few time slices; giving the slice away costs nothing, and
  // after that a 1 ms sleep keeps a long command (a firmware block) from holding a core.
  constexpr unsigned kYieldsBeforeSleeping = 64;
  for (unsigned polls = 0;; ++polls) {
    const u8 value = status;
    if (value != aspi::SS_PENDING) {
      // The sense area and the data were written before the status: read them after it.
      std::atomic_thread_fence(std::memory_order_acquire);
      return value;
    }
    if (polls < kYieldsBeforeSleeping) {
      SwitchToThread();
    } else {
      Sleep(1);
    }
  }
}

CommandResult AspiExecute(aspi::SendASPI32CommandFn send, u8 hostAdapter, u8 target,
                          const CommandRequest& request) {
  // The transport sends only requests that fit; this keeps the copy below within the block.
  if (request.cdb == nullptr || request.cdbLength > aspi::kCdbRoom ||
      (request.data == nullptr && request.dataLength != 0)) {
    return AspiCommandResult(aspi::SS_INVALID_SRB, 0);
  }
  aspi::SRB_ExecSCSICmd srb;
  std::memset(&srb, 0, sizeof srb);
  srb.SRB_Cmd = aspi::SC_EXEC_SCSI_CMD;
  srb.SRB_HaId = hostAdapter;
  srb.SRB_Flags = request.direction == kDataIn ? aspi::SRB_DIR_IN : aspi::SRB_DIR_OUT;
  srb.SRB_Target = target;
  srb.SRB_Lun = 0;
  srb.SRB_BufLen = request.dataLength;
  srb.SRB_BufPointer = request.data;
  srb.SRB_SenseLen = aspi::SENSE_LEN;
  srb.SRB_CDBLen = request.cdbLength;
  srb.SRB_PostProc = nullptr;
  std::memcpy(srb.CDBByte, request.cdb, request.cdbLength);

  send(&srb);  // the return value repeats the status, which the wait reads anyway
  const u8 status = WaitForAspiStatus(srb);
  if (status == aspi::SS_ERR) ReturnSense({srb.SenseArea, aspi::SENSE_LEN}, request);
  return AspiCommandResult(status, srb.SRB_HaStat);
}

AspiBackend::AspiBackend(std::string libraryName) : libraryName_(std::move(libraryName)) {}

unsigned AspiBackend::LoadAspi() {
  if (!module_) {
    module_ = LibraryModule{LoadLibraryA(libraryName_.c_str())};
    send_ = module_.Entry<aspi::SendASPI32CommandFn>(aspi::kSendCommandName);
    supportInfo_ = module_.Entry<aspi::GetASPI32SupportInfoFn>(aspi::kSupportInfoName);
  }
  if (send_ == nullptr || supportInfo_ == nullptr) return 0;
  const std::uint32_t info = supportInfo_();
  if (aspi::SupportInfoStatus(info) != aspi::SS_COMP) return 0;
  return aspi::SupportInfoCount(info);
}

AspiBackend::Address AspiBackend::CandidateAddress(unsigned candidate) {
  return {static_cast<u8>(candidate / aspi::kTargetsPerAdapter),
          static_cast<u8>(candidate % aspi::kTargetsPerAdapter)};
}

unsigned AspiBackend::BeginScan() {
  devices_.clear();
  candidates_ = LoadAspi() * aspi::kTargetsPerAdapter;
  return candidates_;
}

std::optional<CommandResult> AspiBackend::Probe(unsigned candidate, const CommandRequest& request) {
  if (candidate >= candidates_) return std::nullopt;
  const Address address = CandidateAddress(candidate);
  return AspiExecute(send_, address.hostAdapter, address.target, request);
}

void AspiBackend::Accept(unsigned candidate) {
  if (candidate >= candidates_ || devices_.size() >= kMaxDevices) return;
  devices_.push_back(CandidateAddress(candidate));
}

CommandResult AspiBackend::Execute(u8 device, const CommandRequest& request) {
  if (device >= devices_.size() || send_ == nullptr) return CommandResult{};
  const Address address = devices_[device];
  return AspiExecute(send_, address.hostAdapter, address.target, request);
}

}  // namespace veltran
