// What the tool knows between events: options, platform, the drive list, the image loaded last,
// the identity of the drive identified last, and whether a download may start.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/image_file.h"
#include "drive/identify.h"

namespace veltran {

// Whether a download may start, and why not.
enum class FlashState : int {
  kReady = 1,           // a drive fits the loaded image
  kDmaActive = 2,       // the drive runs in DMA mode
  kDmaUnreadable = 3,   // the DMA setting could not be read
  kDiscPresent = 4,     // the drive reports ready: a disc is in it
  kNoFittingDrive = 5,  // the automatic load found no drive that fits the image
};

// "-NOCHECK", "-TEST" and "-LIVE", found anywhere in the full command line, in any letter case.
struct CommandLineOptions {
  bool NoCheckOption = false;
  bool TestOption = false;
  bool LiveOption = false;
};
CommandLineOptions ParseCommandLineOptions(std::string_view commandLine);

// A drive of the drive list: the device it stands for and the list's text for it.
struct ListedDrive {
  u8 device = 0;
  std::string entry;
};

// Everything the tool knows between events.
struct AppState {
  CommandLineOptions options;
  bool PlatformNT = false;
  std::vector<int> IdeDeviceSlots;
  std::vector<ListedDrive> DriveList;  // in the order the window lists them
  int SelectedDrive = 0;
  veltran::FlashState FlashState = veltran::FlashState::kReady;
  bool automaticMode = false;
  ImageRecord image;
  DriveIdentity identity;

  // The device the selected list position stands for; nothing when no drive is listed.
  std::optional<u8> SelectedDevice() const {
    if (SelectedDrive < 0 || SelectedDrive >= DriveCount()) return std::nullopt;
    return DriveList[static_cast<std::size_t>(SelectedDrive)].device;
  }
  int DriveCount() const { return static_cast<int>(DriveList.size()); }
  bool testOption() const { return options.TestOption || options.LiveOption; }
};

}  // namespace veltran
