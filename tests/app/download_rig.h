// A whole tool run over a virtual machine, driven by the real event loop in virtual time: the
// window records what it is asked to do, the loop ends when nothing is left to happen.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/event_loop.h"
#include "app/image_builder.h"
#include "app/main_form.h"
#include "support/temp_files.h"
#include "virtual/machine.h"

namespace veltran::testing {

class LoopWindow final : public MainWindow {
 public:
  LoopWindow(EventLoop& loop, std::function<void()> afterEach)
      : loop_(loop), afterEach_(std::move(afterEach)) {}

  void SetFieldText(Field field, std::string_view text) override {
    Record(std::string(FieldLabel(field)) + " " + std::string(text));
  }
  void AddDriveListItem(std::string_view) override {}
  void SelectDriveListItem(int item) override { Record("select " + std::to_string(item)); }
  void ShowNocheckLabel() override {}
  void SetProgress(int position) override {
    progress.push_back(position);
    Record("Progress " + std::to_string(position));
  }
  void EnableTimer(TimerId timer, bool enabled) override {
    loop_.EnableTimer(timer, enabled);
    static constexpr const char* kNames[] = {"Timer1", "Timer2", "Timer3"};
    Record(std::string(kNames[static_cast<int>(timer)]) + (enabled ? " on" : " off"));
  }
  void EnableExitButton(bool) override {}
  void SetBusy(bool busy) override { Record(busy ? "busy" : "idle"); }
  void ShowMessage(const MessageBoxSpec& box) override {
    boxes.push_back(box.caption + "|" + box.text + (box.errorIcon ? "|error" : "|") +
                    (box.systemModal ? "|modal" : "|"));
    Record("box " + box.text);
  }
  void Close() override {
    Record("close");
    closed = true;
    loop_.Quit();
  }
  void Post(std::function<void()> work) override {
    loop_.Post([this, work = std::move(work)] {
      work();
      afterEach_();
    });
  }

  bool Saw(const std::string& event) const {
    return std::find(events.begin(), events.end(), event) != events.end();
  }

  // Written on the window thread only; read once the loop has ended.
  std::vector<std::string> events;
  std::vector<std::string> boxes;
  std::vector<int> progress;
  bool closed = false;

 private:
  void Record(std::string event) { events.push_back(std::move(event)); }

  EventLoop& loop_;
  std::function<void()> afterEach_;
};

inline constexpr const char* kBrelmontInquiry =
    R"("inquiry": {"peripheral": 5, "vendor": "BRELMONT", "product": "CDW/DVD GA-W837C",
                   "revision": "NA00", "prefix": "NA "}, "vendor_identify_prefix": "KVR")";
inline constexpr const char* kDarloweInquiry =
    R"("inquiry": {"peripheral": 5, "vendor": "DARLOWE", "product": "CD-ROM JR-906",
                   "revision": "JR10", "prefix": "JR "}, "vendor_identify_prefix": "KVR")";

inline constexpr const char* kLive = "veltran.exe -LIVE";
inline constexpr const char* kTur = "scsi 0 000000000000 in 0 04 00000000";
inline constexpr std::size_t kKB = 1024;

// The header of an image for the drive of kBrelmontInquiry, raising it to NA01.
inline HeaderFields Fields(std::uint8_t blockSizeKB, std::uint8_t blockCount) {
  return {.ident = "BRELMONTCDW/DVD GA-W837C",
          .revision = "NA01",
          .blockSizeKB = blockSizeKB,
          .blockCount = blockCount,
          .type = 4,
          .prefix = "NA "};
}

// The usual image: 80 KB sent as three commands of the block form.
inline std::vector<std::uint8_t> ThreeBlockImage() { return TrailerImage(80 * kKB, Fields(32, 3)); }

// One drive, by default at letter e with the identity the test images are made for.
inline std::string DriveJson(const std::string& extra = "",
                             const std::string& identity = kBrelmontInquiry,
                             const std::string& letter = "e") {
  return R"({"letter": ")" + letter + "\", " + identity + (extra.empty() ? "" : ", " + extra) + "}";
}

// The scenario's whole "drives" array.
struct Drives {
  std::string json;
};

class DownloadRun {
 public:
  // `top` is JSON members added to the scenario's top level (after a comma).
  DownloadRun(const std::string& driveExtra, const std::string& commandLine,
              const std::string& top = "", const std::string& platform = "nt",
              const std::string& identity = kBrelmontInquiry)
      : DownloadRun(Drives{"[" + DriveJson(driveExtra, identity) + "]"}, commandLine, top,
                    platform) {}
  DownloadRun(const Drives& drives, const std::string& commandLine, const std::string& top = "",
              const std::string& platform = "nt")
      : tracePath_("veltran-download-trace"),
        trace_(tracePath_.path().string()),
        machine_(ParseScenario(R"({"platform": ")" + platform + R"(", "drives": )" + drives.json +
                                   (top.empty() ? "" : ", " + top) + "}",
                               "download test")),
        system_(MakeVirtualSystem(machine_)),
        transport_(MakeVirtualBackend(machine_), trace_),
        loop_(machine_.clock()),
        window_(loop_, [this] { QuitWhenIdle(); }),
        commandLine_(commandLine) {
    std::filesystem::create_directories(root_.path() / "FLASHTEST");
  }

  void PutAutorun(const std::vector<std::uint8_t>& image) {
    WriteFile(folder_.path() / "AUTORUN.BIN", image);
  }
  std::filesystem::path Folder() const { return folder_.path(); }

  // Start-up, then the loop until nothing is left: `first` runs on the window thread first.
  void Run(std::function<void(MainForm&)> first = {}) {
    form_ = std::make_unique<MainForm>(
        *system_, transport_, window_,
        MainFormEnvironment{commandLine_, folder_.Utf8(""), root_.path()});
    formReady_.store(true);
    form_->FormCreate();
    if (!window_.closed) form_->FormShow();
    if (window_.closed) return;
    startedAtCommand_ = machine_.drives().empty() ? 0 : machine_.drives()[0]->commandsReceived();
    loop_.Post([this, first] {
      if (first) first(*form_);
      QuitWhenIdle();
    });
    loop_.Run([this](TimerId timer) { Fire(timer); });
  }

  MainForm& form() { return *form_; }
  bool formReady() const { return formReady_.load(); }
  LoopWindow& window() { return window_; }
  VirtualMachine& machine() { return machine_; }
  DriveTransport& transport() { return transport_; }
  SystemInterface& system() { return *system_; }
  std::uint32_t startedAtCommand() const { return startedAtCommand_; }
  std::vector<std::string> TraceLines() const { return ReadLines(tracePath_.path()); }
  // The trace from the start of the download on.
  std::vector<std::string> DownloadTrace() const {
    const std::vector<std::string> lines = TraceLines();
    return {lines.begin() + static_cast<std::ptrdiff_t>(std::min(startedLine_, lines.size())),
            lines.end()};
  }
  std::vector<std::string> LiveLog() const { return ReadLines(folder_.path() / "VELTRAN.TMP"); }
  std::vector<std::string> TestLog() const {
    return ReadLines(root_.path() / "FLASHTEST" / "VELTRAN.TMP");
  }
  // The window's latest event when the loop first found that the program may end.
  const std::string& endedAfter() const { return endedAfter_; }

 private:
  void Fire(TimerId timer) {
    if (timer == TimerId::kTimer3) MarkStart();
    form_->OnTimer(timer);
    QuitWhenIdle();
  }

  void MarkStart() {
    if (started_) return;
    started_ = true;
    startedLine_ = TraceLines().size();
  }

  // Nothing can happen any more once the core may end and no work is left.
  void QuitWhenIdle() {
    if (!form_->MayEnd() || loop_.WorkPending()) return;
    if (!window_.events.empty()) endedAfter_ = window_.events.back();
    loop_.Quit();
  }

  TempFolder folder_;
  TempFolder root_;
  TempFile tracePath_;
  Trace trace_;
  VirtualMachine machine_;
  std::unique_ptr<SystemInterface> system_;
  DriveTransport transport_;
  EventLoop loop_;
  LoopWindow window_;
  std::string commandLine_;
  std::unique_ptr<MainForm> form_;
  std::atomic<bool> formReady_{false};
  std::uint32_t startedAtCommand_ = 0;
  bool started_ = false;
  std::size_t startedLine_ = 0;
  std::string endedAfter_;

 public:
  // For starts by the Start button rather than Timer3.
  void MarkStartNow() { MarkStart(); }
};

inline std::string Crc(const std::uint8_t* bytes, std::size_t length) {
  char text[9];
  std::snprintf(text, sizeof text, "%08lx",
                crc32(crc32(0L, Z_NULL, 0), bytes, static_cast<uInt>(length)));
  return text;
}

}  // namespace veltran::testing
