// The main window's behaviour: start-up, the automatic load and drive choice, the change of
// drive, the manual open and the information box. The window itself only routes events here.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/image_file.h"
#include "app/rules.h"
#include "system/system.h"
#include "app/test_log.h"
#include "app/window.h"
#include "drive/identify.h"

namespace veltran {

inline constexpr int kKeyF9 = 0x78;
inline constexpr std::string_view kMessageCaption = "MESSAGE";

// "-NOCHECK", "-TEST" and "-LIVE", found anywhere in the full command line, in any letter case.
struct CommandLineOptions {
  bool NoCheckOption = false;
  bool TestOption = false;
  bool LiveOption = false;
};
CommandLineOptions ParseCommandLineOptions(std::string_view commandLine);

// Everything the tool knows between events.
struct AppState {
  CommandLineOptions options;
  bool PlatformNT = false;
  std::vector<int> IdeDeviceSlots;
  int DriveCount = 0;
  std::vector<u8> ItemDevice;
  std::vector<std::string> DriveListItems;
  int SelectedDrive = 0;
  int FlashState = 1;
  bool automaticMode = false;
  ImageRecord image;
  DriveIdentity identity;
};

struct MainFormEnvironment {
  std::string commandLine;                // program path included
  std::string workingDirectory;  // UTF-8, where AUTORUN.BIN and VELTRAN.TMP are; empty: current
  std::filesystem::path logRoot = TestLogPlaces::DefaultLogRoot();
};

class MainForm {
 public:
  MainForm(SystemInterface& system, DriveTransport& transport, MainWindow& window,
           MainFormEnvironment environment);

  void FormCreate();
  void FormShow();
  void ComboBox1Change(int itemIndex);
  // The manual open with the path the open dialog returned; nothing when it was cancelled.
  void ToolButton1Click(const std::optional<std::string>& chosenPath);
  void Timer3Timer();
  void FormKeyDown(int key);

  const AppState& state() const { return state_; }
  // The device the selected list position stands for.
  u8 SelectedDevice() const { return state_.ItemDevice.at(static_cast<std::size_t>(state_.SelectedDrive)); }

 private:
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
  MainWindow& window_;
  MainFormEnvironment env_;
  std::unique_ptr<CommandBuffer> buffer_;
  AppState state_;
  std::unique_ptr<TestLog> log_;
  DriveContext ctx_;
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
