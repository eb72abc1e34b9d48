#include "app/plan.h"

#include <cstdio>
#include <memory>
#include <sstream>

#include "app/download.h"
#include "app/preflight.h"
#include "app/transfer_forms.h"

namespace veltran {
namespace {

// Passes TEST UNIT READY to the drive and records every other command, answering it as done.
class PlanBackend final : public ScsiBackend {
 public:
  PlanBackend(DriveTransport& real, std::vector<PlannedCommand>& recorded)
      : real_(real), recorded_(recorded) {}

  // The devices are the real scan's: the plan's transport sees the same indices.
  unsigned BeginScan() override { return real_.DeviceCount(); }
  std::optional<CommandResult> Probe(unsigned, const CommandRequest& request) override {
    request.data[0] = kOpticalPeripheral;
    return CommandResult{kStatusGood, {}, false, 0};
  }
  void Accept(unsigned) override {}
  unsigned MaxDevices() const override { return kMaxDevices; }

  CommandResult Execute(u8 device, const CommandRequest& request) override {
    if (request.cdb[0] == Catalogue(Command::kTestUnitReady).cdb[0]) {
      return real_.Execute(device, request);
    }
    recorded_.push_back(Record(device, request));
    return CommandResult{kStatusGood, {}, false, 0};
  }
  TransferModeRead TransferMode(u8 device) override { return real_.TransferMode(device); }

 private:
  static PlannedCommand Record(u8 device, const CommandRequest& request) {
    // The trace's own spelling: its line is "scsi <device> <cdb> <dir> <length> <status> <crc>".
    std::istringstream fields(Trace::ScsiLine(device, request, kStatusGood));
    std::string kind, index, status, crc;
    PlannedCommand command{device, {}, request.direction == kDataIn, request.dataLength, {}};
    std::string direction, length;
    fields >> kind >> index >> command.cdb >> direction >> length >> status >> crc;
    if (!command.dataIn) command.crc = static_cast<std::uint32_t>(std::stoul(crc, nullptr, 16));
    return command;
  }

  DriveTransport& real_;
  std::vector<PlannedCommand>& recorded_;
};

// Takes the boxes the checks would show; the plan shows none itself.
class PlanWindow final : public MainWindow {
 public:
  explicit PlanWindow(std::vector<std::string>& boxes) : boxes_(boxes) {}
  void SetFieldText(Field, std::string_view) override {}
  void AddDriveListItem(std::string_view) override {}
  void SelectDriveListItem(int) override {}
  void ShowNocheckLabel() override {}
  void SetProgress(int) override {}
  void EnableTimer(TimerId, bool) override {}
  void EnableExitButton(bool) override {}
  void SetBusy(bool) override {}
  void ShowMessage(const MessageBoxSpec& box) override {
    boxes_.push_back(box.caption + ": " + box.text);
  }
  void Close() override {}
  void Post(std::function<void()> work) override { work(); }

 private:
  std::vector<std::string>& boxes_;
};

// What follows a refusal: the test log and the end of the tool, or a box.
std::string Consequence(const AppState& state, bool closesWithoutTestOption) {
  if (state.testOption()) return "logged, then the tool would close";
  return closesWithoutTestOption ? "a box would say so, then the tool would close"
                                 : "a box would say so";
}

void Refuse(DownloadPlan& plan, const AppState& state, FlashState verdict) {
  plan.verdict = verdict;
  const std::string value = "FlashState " + std::to_string(static_cast<int>(verdict));
  switch (verdict) {
    case FlashState::kDmaActive:
      plan.code = "E8";
      plan.reason = "would refuse: the drive runs in DMA mode (" + value + ", E8; " +
                    Consequence(state, true) + ")";
      break;
    case FlashState::kDmaUnreadable:
      plan.code = "E9";
      plan.reason = "would refuse: the DMA setting could not be read (" + value + ", E9; " +
                    Consequence(state, false) + ")";
      break;
    case FlashState::kDiscPresent:
      plan.code = "E4";
      plan.reason = "would refuse: a disc is in the drive (" + value + ", E4; " +
                    Consequence(state, false) +
                    (state.testOption() ? "" : "; the drive would be ejected") + ")";
      break;
    case FlashState::kReady:
    case FlashState::kNoFittingDrive:
      break;
  }
}

// The blocks and the final command, recorded by `ctx`'s transport.
void PlanTransfer(DownloadPlan& plan, const DownloadContext& ctx, u8 device) {
  const AppState& state = ctx.state;
  DownloadImageFile file(state.image.ImagePath);
  if (!file.opened() || state.image.ImageSize == 0 || !ImageStillAsLoaded(file, state.image)) {
    plan.code = "E1";
    plan.reason =
        "would refuse: the image cannot be opened or has changed since it was loaded "
        "(E1; " +
        Consequence(state, false) + ")";
    return;
  }
  const std::optional<FinalCommand> final = SendBlocks(ctx, file, device);
  if (!final) {
    plan.code = "E6";
    plan.reason = "would fail: the image could not be read whole (E6)";
    return;
  }
  plan.finalTimeoutSeconds = FinalCommandTimeoutSeconds(state.image.ImageSize);
  ctx.transport.Execute(device, FinalCommandRequest(*final, ctx.buffer, plan.finalTimeoutSeconds));
  plan.wouldDownload = true;
  plan.reason = "would download (FlashState 1)";
  plan.progressSeconds = ExpectedProgressTicks(state.image.ImageSize);
  plan.restartAfter = !state.testOption();
}

}  // namespace

std::string PlannedCommand::Line() const {
  std::string line = "scsi " + std::to_string(device) + " " + cdb + (dataIn ? " in " : " out ") +
                     std::to_string(length) + " ";
  if (!crc) return line + "-";
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(*crc));
  return line + hex;
}

DownloadPlan PlanDownload(AppState state, DriveTransport& transport, SystemInterface& system) {
  DownloadPlan plan;
  plan.image = state.image.ImagePath;
  plan.verdict = state.FlashState;
  if (state.FlashState == FlashState::kNoFittingDrive) {
    plan.reason = "would not start: no listed drive fits the image (FlashState 5)";
    return plan;
  }
  plan.device = state.SelectedDevice();
  if (!plan.device) {
    plan.reason = "would not start: no drive is listed";
    return plan;
  }
  Trace untraced;
  DriveTransport recorder(std::make_unique<PlanBackend>(transport, plan.commands), untraced);
  recorder.ScanDrives();
  PlanWindow window(plan.boxes);
  const TestLog noLog({});
  auto buffer = std::make_unique<CommandBuffer>();
  const DownloadContext ctx{state, window, recorder, system, noLog, *buffer};
  const FlashState verdict = PreflightVerdict(ctx, *plan.device);
  if (verdict != FlashState::kReady) {
    Refuse(plan, state, verdict);
    return plan;
  }
  PlanTransfer(plan, ctx, *plan.device);
  return plan;
}

std::vector<std::string> PlanLines(const DownloadPlan& plan) {
  std::vector<std::string> lines;
  lines.push_back(plan.reason);
  for (const std::string& box : plan.boxes) lines.push_back("box " + box);
  if (!plan.wouldDownload) return lines;
  lines.push_back("image " + plan.image + ", " + std::to_string(plan.commands.size()) +
                  " commands to device " + std::to_string(*plan.device));
  for (std::size_t i = 0; i + 1 < plan.commands.size(); ++i) {
    lines.push_back(plan.commands[i].Line());
  }
  lines.push_back("final " + plan.commands.back().Line() + " time-out " +
                  std::to_string(plan.finalTimeoutSeconds) + " s");
  lines.push_back("progress estimate " + std::to_string(plan.progressSeconds) + " s");
  lines.emplace_back(plan.restartAfter ? "then restart the machine"
                                       : "then close the tool (test option)");
  return lines;
}

}  // namespace veltran
