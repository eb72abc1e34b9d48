// The main window's behaviour: start-up, the automatic load and drive choice, the change of
// drive, the manual open and the information box. The window itself only routes events here.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/download.h"
#include "app/image_file.h"
#include "app/rules.h"
#include "app/test_log.h"
#include "app/timer_tracking_window.h"
#include "app/window.h"
#include "drive/identify.h"
#include "system/system.h"

namespace veltran {

inline constexpr int kKeyF9 = 0x78;

struct MainFormEnvironment {
  std::string commandLine;       // program path included
  std::string workingDirectory;  // UTF-8, where AUTORUN.BIN and VELTRAN.TMP are; empty: current
  std::filesystem::path logRoot = TestLogPlaces::DefaultLogRoot();
  TestLog::Observer logObserver = {};  // told of each code the test log writes
};

class MainForm {
 public:
  MainForm(SystemInterface& system, DriveTransport& transport, MainWindow& window,
           MainFormEnvironment environment);
  ~MainForm();
  MainForm(const MainForm&) = delete;
  MainForm& operator=(const MainForm&) = delete;

  void FormCreate();
  void FormShow();
  void ComboBox1Change(int itemIndex);
  // The manual open with the path the open dialog returned; nothing when it was cancelled.
  void ToolButton1Click(const std::optional<std::string>& chosenPath);
  // The Start Download button.
  void ToolButton2Click();
  // A timer of the core fell due (the front end fires them by the platform clock). After Timer1
  // has had its restart accepted the window closes.
  void OnTimer(TimerId timer);
  void FormKeyDown(int key);
  // The Exit button: closes the window unless the final command runs.
  void Image5Click();
  // A request to close the window from outside (Alt+F4, end of input, a signal, session end):
  // false while the final command runs.
  bool FormCloseQuery() const;
  bool FinalCommandRunning() const { return download_ && download_->FinalCommandRunning(); }
  // Nothing of the core keeps the program going: no final command runs and neither an automatic
  // start nor a restart is still to come. Work posted to the front end's loop and not yet run is
  // the front end's to add: it may still change that.
  bool MayEnd() const;
  // True from the start of a download's final command on, a finished download included: a
  // request to end then waits for MayEnd instead of closing at once, so that it never cuts off
  // the restart.
  bool DownloadUnderWay() const;

  const AppState& state() const { return state_; }
  const Download& download() const { return *download_; }

 private:
  void Timer1Timer();
  void Timer3Timer();
  ImageFileRead ReadAutorun() const;
  void ReadOptions();
  void ScanIdePositions();
  void FillDriveList();
  void LookAtFirstDrive();
  void AutomaticLoad();
  void ChooseFittingDrive();
  void GiveUpForComVariantDrive();
  void ShowFields(const ImageFields& fields);
  void ShowError(std::string_view text, bool systemModal);

  SystemInterface& system_;
  DriveTransport& transport_;
  TimerTrackingWindow window_;
  MainFormEnvironment env_;
  std::unique_ptr<CommandBuffer> buffer_;
  AppState state_;
  std::unique_ptr<TestLog> log_;
  DriveContext ctx_;
  std::unique_ptr<Download> download_;
};

// "Download File Info. !!\n(%ub %dKb %dCmd)\n" for the information box.
std::string DownloadInfoText(const ImageRecord& image);

struct AboutBoxText {
  std::string_view title = "About Veltran";
  std::string_view version = "VELTRAN 3.25.e";
  std::string_view caption = "Lumaflash";
  std::string_view credits = "Firmware update tool for optical drives";
  std::string_view date = "2006.04.";
  std::string_view maker = "Veltran developers";
};

}  // namespace veltran
