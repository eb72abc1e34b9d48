#include "console_json.h"

#include <nlohmann/json.hpp>

#include "drive/text.h"
#include "drive/trace.h"

namespace veltran {
namespace {

using nlohmann::json;

// Every line carries the format, so that a reader can check any line it takes.
json Event(const char* name) { return {{"format", kConsoleJsonFormat}, {"event", name}}; }

RunOutcome Refused(std::string code, std::string reason) {
  return {"refused", std::move(code), std::move(reason), 1};
}

json PlanJson(const DownloadPlan& plan) {
  json commands = json::array();
  for (const PlannedCommand& c : plan.commands) {
    commands.push_back({{"device", c.device},
                        {"cdb", c.cdb},
                        {"direction", c.dataIn ? "in" : "out"},
                        {"length", c.length},
                        {"crc32", c.crc ? json(c.crc.value()) : json()},
                        {"line", c.Line()}});
  }
  json event = Event("plan");
  event.update(
      json{{"would_download", plan.wouldDownload},
           {"flash_state", static_cast<int>(plan.verdict)},
           {"code", plan.code.empty() ? json() : json(plan.code)},
           {"reason", plan.reason},
           {"device", plan.device ? json(*plan.device) : json()},
           {"image", EscapeKeepingLineBreaks(plan.image)},
           {"boxes", plan.boxes},
           {"commands", commands},
           {"final_timeout_seconds", plan.wouldDownload ? json(plan.finalTimeoutSeconds) : json()},
           {"progress_seconds", plan.wouldDownload ? json(plan.progressSeconds) : json()},
           {"then", plan.wouldDownload ? json(plan.restartAfter ? "restart" : "close") : json()}});
  return event;
}

std::string Hex(const u8* bytes, std::size_t count) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (std::size_t i = 0; i < count; ++i) {
    hex += kDigits[bytes[i] >> 4];
    hex += kDigits[bytes[i] & 0xF];
  }
  return hex;
}

json CommandJson(const std::optional<SentCommand>& command) {
  if (!command) return nullptr;
  const SentCommand& c = *command;
  const json os = c.os.any() ? json{{"code", c.os.code},
                                    {"host_status", c.os.hostStatus},
                                    {"driver_status", c.os.driverStatus}}
                             : json();
  return {{"device", c.device},
          {"cdb", c.cdb},
          {"direction", c.dataIn ? "in" : "out"},
          {"length", c.length},
          {"status", Hex(&c.status, 1)},
          {"timed_out", c.timedOut},
          {"os", os},
          {"residual", c.residual},
          {"line", c.line}};
}

}  // namespace

RunOutcome ClassifyRun(const RunFacts& facts, const AppState& state) {
  if (facts.statusOk) return {"done", "COMPLETE", "the download completed", 0};
  if (facts.statusFail) return {"failed", "E7", "the final command failed", 2};
  if (facts.blocksSent) return {"failed", "E6", "a command before the final one failed", 2};
  switch (state.FlashState) {
    case FlashState::kDmaActive:
      return Refused("E8", "the drive runs in DMA mode");
    case FlashState::kDmaUnreadable:
      return Refused("E9", "the DMA setting could not be read");
    case FlashState::kDiscPresent:
      return Refused("E4", "a disc is in the drive");
    case FlashState::kNoFittingDrive:
      return Refused("", "no listed drive fits the image");
    case FlashState::kReady:
      break;
  }
  if (!facts.startRequested) return {"done", "", "no download was started", 0};
  if (!state.SelectedDevice()) return Refused("", "no drive is listed");
  return Refused("E1", "the image cannot be opened or has changed since it was loaded");
}

void PrintPlanText(std::FILE* out, const DownloadPlan& plan) {
  for (const std::string& line : PlanLines(plan)) {
    const std::string shown = "Plan : " + EscapeKeepingLineBreaks(line) + "\n";
    std::fwrite(shown.data(), 1, shown.size(), out);
  }
  std::fflush(out);
}

void ConsoleJson::Write(const std::string& line) {
  const std::lock_guard lock(mutex_);
  std::fputs(line.c_str(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

void ConsoleJson::Field(std::string_view label, std::string_view text) {
  if (label == "Status :") {
    facts_.blocksSent = facts_.blocksSent || text == "Wait..";
    facts_.statusOk = facts_.statusOk || text == "Ok";
    facts_.statusFail = facts_.statusFail || text == "Fail";
  }
  json event = Event("field");
  event.update(json{{"label", label}, {"text", EscapeKeepingLineBreaks(text)}});
  Write(event.dump());
}

void ConsoleJson::ListEntry(std::string_view entry) {
  json event = Event("drive_list");
  event["entry"] = EscapeKeepingLineBreaks(entry);
  Write(event.dump());
}

void ConsoleJson::Selection(int index, std::string_view entry) {
  json event = Event("selection");
  event.update(json{{"index", index}, {"entry", EscapeKeepingLineBreaks(entry)}});
  Write(event.dump());
}

void ConsoleJson::NocheckLabel() { Write(Event("nocheck").dump()); }

void ConsoleJson::Progress(int position) {
  json event = Event("progress");
  event["percent"] = position;
  Write(event.dump());
}

void ConsoleJson::Box(std::string_view caption, std::string_view text) {
  json event = Event("box");
  event.update(
      json{{"caption", EscapeKeepingLineBreaks(caption)}, {"text", EscapeKeepingLineBreaks(text)}});
  Write(event.dump());
}

void ConsoleJson::Plan(const DownloadPlan& plan) { Write(PlanJson(plan).dump()); }

void ConsoleJson::Log(std::string_view code, bool written) {
  json event = Event("log");
  event.update(json{{"code", EscapeKeepingLineBreaks(code)}, {"written", written}});
  Write(event.dump());
}

void ConsoleJson::WriteStarted() {
  const std::lock_guard lock(mutex_);
  writing_ = true;
}

void ConsoleJson::WriteEnded() {
  const std::lock_guard lock(mutex_);
  writing_ = false;
}

void ConsoleJson::Command(u8 device, const CommandRequest& request, const CommandResult& result) {
  if (result.ok()) return;
  const std::lock_guard lock(mutex_);
  // A failed write is never hidden by what follows it, another start's included.
  if (!writing_ || failedCommand_) return;
  failedCommand_ = SentCommand{device,
                               Hex(request.cdb, request.cdbLength),
                               Trace::ScsiLine(device, request, result),
                               request.direction == kDataIn,
                               request.dataLength,
                               result.status,
                               result.os,
                               result.timedOut,
                               result.residual};
}

void ConsoleJson::Outcome(const AppState& state, ConsoleOutcome ended) {
  static constexpr const char* kKinds[] = {"done", "refused", "failed", "not-run"};
  RunOutcome outcome = ClassifyRun(facts_, state);
  outcome.kind = kKinds[static_cast<int>(ended)];
  outcome.exitCode = ExitCodeFor(ended);
  const std::optional<u8> device = state.SelectedDevice();
  std::optional<SentCommand> failed;
  {
    const std::lock_guard lock(mutex_);
    failed = failedCommand_;
  }
  json event = Event("outcome");
  event.update(json{
      {"outcome", outcome.kind},
      {"code", outcome.code.empty() ? json() : json(outcome.code)},
      {"reason", outcome.reason},
      {"image", EscapeKeepingLineBreaks(state.image.ImagePath)},
      {"drive", device ? json(EscapeKeepingLineBreaks(
                             state.DriveList[static_cast<std::size_t>(state.SelectedDrive)].entry))
                       : json()},
      {"command", CommandJson(failed)},
      {"exit_code", outcome.exitCode}});
  Write(event.dump());
}

}  // namespace veltran
