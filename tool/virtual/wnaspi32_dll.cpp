// A test ASPI manager: the virtual machine's drives behind the two ASPI entry points, so that the
// ASPI back end runs for real under Wine. The scenario comes from the file named by
// VELTRAN_SCENARIO (the built-in one without it) and is read on the first call; with
// VELTRAN_TRACE set, every command is appended to that file exactly as the program's own trace
// writes it, device numbers included.
#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "drive/aspi_abi.h"
#include "drive/catalogue.h"
#include "drive/sense.h"
#include "drive/trace.h"
#include "virtual/machine.h"
#include "virtual/scenario.h"

namespace veltran {
namespace {

using aspi::SRB_ExecSCSICmd;

// Long enough that the caller is certainly waiting when the status arrives.
constexpr DWORD kCompletionDelayMs = 2;

// Finishes requests later, on one thread of its own and in the order they were sent, as a real
// manager's completion does. One thread for the life of the process: with a thread started
// and ended per request, a request now and then never finished on a loaded machine.
class Completions {
 public:
  void Post(std::function<void()> work) {
    {
      std::lock_guard lock(mutex_);
      if (!started_) {
        std::thread([this] { Run(); }).detach();
        started_ = true;
      }
      queue_.push_back(std::move(work));
    }
    ready_.notify_one();
  }

 private:
  [[noreturn]] void Run() {
    for (;;) {
      std::function<void()> work;
      {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [this] { return !queue_.empty(); });
        work = std::move(queue_.front());
        queue_.pop_front();
      }
      Sleep(kCompletionDelayMs);
      work();
    }
  }

  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> queue_;
  bool started_ = false;
};

// Mirrors the scan's numbering, so that a trace line names the device index the caller uses:
// a target accepted by a scan INQUIRY gets the next index, and a probe of any other target
// carries the number of targets accepted before it.
class DeviceNumbers {
 public:
  unsigned Number(std::uint8_t hostAdapter, std::uint8_t target) const {
    const auto found = assigned_.find({hostAdapter, target});
    return found != assigned_.end() ? found->second : count_;
  }
  // The scan always starts at host adapter 0, target 0: a new scan numbers afresh.
  void StartScanIfFirst(std::uint8_t hostAdapter, std::uint8_t target) {
    if (hostAdapter != 0 || target != 0) return;
    assigned_.clear();
    count_ = 0;
  }
  void Assign(std::uint8_t hostAdapter, std::uint8_t target) {
    if (assigned_.count({hostAdapter, target}) == 0) assigned_[{hostAdapter, target}] = count_++;
  }

 private:
  std::map<std::pair<std::uint8_t, std::uint8_t>, unsigned> assigned_;
  unsigned count_ = 0;
};

class Manager {
 public:
  Manager() {
    const char* scenarioPath = std::getenv("VELTRAN_SCENARIO");
    try {
      Scenario scenario =
          scenarioPath != nullptr ? LoadScenarioFile(scenarioPath) : BuiltInScenario();
      machine_ = std::make_unique<VirtualMachine>(std::move(scenario));
    } catch (const std::exception& error) {
      error_ = error.what();
      std::fprintf(stderr, "WNASPI32: %s\n", error_.c_str());
    }
    if (const char* tracePath = std::getenv("VELTRAN_TRACE")) {
      trace_ = std::make_unique<Trace>(tracePath);
    }
  }

  // Why the scenario could not be used; empty when it could.
  const std::string& error() const { return error_; }

  std::uint32_t SupportInfo() const {
    if (!machine_) return aspi::MakeSupportInfo(aspi::SS_FAILED_INIT, 0);
    const unsigned adapters = std::min(machine_->HostAdapterCount(), 255u);
    if (adapters == 0) return aspi::MakeSupportInfo(aspi::SS_NO_ADAPTERS, 0);
    return aspi::MakeSupportInfo(aspi::SS_COMP, static_cast<std::uint8_t>(adapters));
  }

  std::uint32_t Send(SRB_ExecSCSICmd* srb) {
    if (!machine_ || srb->SRB_Cmd != aspi::SC_EXEC_SCSI_CMD || srb->SRB_CDBLen > aspi::kCdbRoom ||
        (srb->SRB_BufPointer == nullptr && srb->SRB_BufLen > 0)) {
      return Finish(srb, aspi::SS_INVALID_SRB);
    }
    VirtualDrive* drive = machine_->DriveAt(srb->SRB_HaId, srb->SRB_Target, srb->SRB_Lun);
    if (drive == nullptr || IsScanInquiry(*srb)) return Run(srb, drive);
    // Everything beyond the scan completes later, from another thread, as a real manager's
    // commands do: the caller must wait for the status.
    completions_.Post([this, srb, drive] { Run(srb, drive); });
    return aspi::SS_PENDING;
  }

 private:
  static bool IsScanInquiry(const SRB_ExecSCSICmd& srb) {
    const CommandSpec& scan = Catalogue(Command::kInquiryScan);
    return srb.SRB_CDBLen == scan.cdbLength &&
           std::memcmp(srb.CDBByte, scan.cdb.data(), scan.cdbLength) == 0;
  }

  static std::uint8_t Execute(SRB_ExecSCSICmd& srb, VirtualDrive* drive) {
    if (drive == nullptr) return aspi::SS_NO_DEVICE;
    const DriveReply reply =
        drive->Execute(srb.CDBByte, srb.SRB_CDBLen, srb.SRB_BufPointer, srb.SRB_BufLen,
                       (srb.SRB_Flags & aspi::SRB_DIR_OUT) != 0);
    switch (reply.kind) {
      case DriveReply::Kind::kGood:
        return aspi::SS_COMP;
      case DriveReply::Kind::kCheck:
      case DriveReply::Kind::kBusy:
        // A busy drive leaves no sense data: its reply's sense is all zeros.
        srb.SRB_TargStat =
            reply.kind == DriveReply::Kind::kBusy ? aspi::STATUS_BUSY : aspi::STATUS_CHKCOND;
        std::copy_n(reply.sense.begin(), std::min(sizeof srb.SenseArea, reply.sense.size()),
                    srb.SenseArea);
        return aspi::SS_ERR;
      case DriveReply::Kind::kTimeout:
      case DriveReply::Kind::kGone:
        srb.SRB_HaStat = aspi::HASTAT_COMMAND_TIMEOUT;
        break;
      case DriveReply::Kind::kTransportFailure:
        break;
    }
    return aspi::SS_ABORTED;
  }

  std::uint32_t Run(SRB_ExecSCSICmd* srb, VirtualDrive* drive) {
    const std::uint8_t status = Execute(*srb, drive);
    TraceCommand(*srb, status);
    return Finish(srb, status);
  }

  // The status goes last: from then on the request block belongs to the caller again.
  static std::uint32_t Finish(SRB_ExecSCSICmd* srb, std::uint8_t status) {
    std::atomic_thread_fence(std::memory_order_release);
    *static_cast<volatile std::uint8_t*>(&srb->SRB_Status) = status;
    return status;
  }

  void TraceCommand(const SRB_ExecSCSICmd& srb, std::uint8_t status) {
    std::lock_guard lock(mutex_);
    const bool scan = IsScanInquiry(srb);
    if (scan) numbers_.StartScanIfFirst(srb.SRB_HaId, srb.SRB_Target);
    const unsigned device = numbers_.Number(srb.SRB_HaId, srb.SRB_Target);
    if (scan && status == aspi::SS_COMP && srb.SRB_BufLen > 0 &&
        srb.SRB_BufPointer[0] == kOpticalPeripheral) {
      numbers_.Assign(srb.SRB_HaId, srb.SRB_Target);
    }
    if (!trace_) return;
    // The caller's buffer as the caller will see it: with SS_ERR the back end returns the
    // sense code in it before its own trace line is written.
    std::vector<std::uint8_t> after(std::max<std::size_t>(srb.SRB_BufLen, 14));
    if (srb.SRB_BufLen > 0) std::memcpy(after.data(), srb.SRB_BufPointer, srb.SRB_BufLen);
    CommandRequest request;
    request.cdb = srb.CDBByte;
    request.cdbLength = srb.SRB_CDBLen;
    request.data = after.data();
    request.dataLength = srb.SRB_BufLen;
    request.direction = (srb.SRB_Flags & aspi::SRB_DIR_OUT) != 0 ? kDataOut : kDataIn;
    if (status == aspi::SS_ERR) ReturnSense({srb.SenseArea, aspi::SENSE_LEN}, request);
    trace_->Scsi(device, request, AspiCommandResult(status, srb.SRB_HaStat));
  }

  std::unique_ptr<VirtualMachine> machine_;
  std::string error_;
  std::unique_ptr<Trace> trace_;
  std::mutex mutex_;
  DeviceNumbers numbers_;
  Completions completions_;
};

// Never destroyed: the completion thread may still use it while the process ends.
Manager& TheManager() {
  static Manager* const manager = new Manager;
  return *manager;
}

// Threads that finish requests run this library's code after the caller has its status; the
// library therefore stays loaded for the life of the process, as a real manager does.
void PinLibrary() {
  static const bool pinned = [] {
    HMODULE self = nullptr;
    return GetModuleHandleExA(
               GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
               reinterpret_cast<LPCSTR>(&TheManager), &self) != FALSE;
  }();
  (void)pinned;
}

}  // namespace
}  // namespace veltran

extern "C" {

__declspec(dllexport) std::uint32_t __cdecl GetASPI32SupportInfo() {
  try {
    veltran::PinLibrary();
    return veltran::TheManager().SupportInfo();
  } catch (...) {
    return veltran::aspi::MakeSupportInfo(veltran::aspi::SS_FAILED_INIT, 0);
  }
}

__declspec(dllexport) std::uint32_t __cdecl SendASPI32Command(void* request) {
  if (request == nullptr) return veltran::aspi::SS_INVALID_SRB;
  auto* srb = static_cast<veltran::aspi::SRB_ExecSCSICmd*>(request);
  try {
    veltran::PinLibrary();
    return veltran::TheManager().Send(srb);
  } catch (...) {
    srb->SRB_Status = veltran::aspi::SS_ABORTED;
    return veltran::aspi::SS_ABORTED;
  }
}

// Not part of ASPI: tells tests which manager they talk to and why its scenario was refused.
__declspec(dllexport) const char* __cdecl VeltranManagerError() {
  try {
    veltran::PinLibrary();
    return veltran::TheManager().error().c_str();
  } catch (...) {
    return "the manager could not start";
  }
}

}  // extern "C"
