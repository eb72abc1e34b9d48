#include "launcher.h"

#include <optional>

#include "archive.h"
#include "common/ascii.h"

namespace veltran {
namespace {

constexpr unsigned kEntryPause = 300;
constexpr std::string_view kImageTarget = "autorun.bin";
constexpr std::string_view kToolTarget = "VELTRAN.exe";

struct StagedEntry {
  os::File file;
  os::FileStamp stamp;
};

// The image is always left writable, as the copy of the first design left it; the tool keeps
// what the entry says.
os::FileStamp StampOf(const ArchiveEntry& entry, bool image) {
  os::FileStamp stamp;
  stamp.attributes = entry.attributes &
                     (kAttributeReadOnly | kAttributeHidden | kAttributeSystem | kAttributeArchive);
  if (image) stamp.attributes &= ~kAttributeReadOnly;
  stamp.executable = !image;
  stamp.creation = entry.creationTime;
  stamp.access = entry.accessTime;
  stamp.modification = entry.modificationTime;
  return stamp;
}

// Stages every entry in a private folder first and places the results only when all of them
// are whole: a package installs completely or not at all. Nothing is read back by name from a
// folder anyone else can write.
class Installation {
 public:
  Installation(LauncherSystem& system, const os::Directory& systemDirectory)
      : system_(system), systemDirectory_(systemDirectory) {}

  void Stage(const ArchiveHandle& archive, std::int32_t position);
  int Place();

 private:
  bool OpenStaging();
  int PlaceStaged();
  bool Put(const std::optional<StagedEntry>& staged, os::PendingFile& pending,
           std::string_view name);

  LauncherSystem& system_;
  const os::Directory& systemDirectory_;
  int failure_ = kLauncherDone;
  os::StagingFolder staging_;
  // Declared after the folder: the staged files close before it is removed.
  std::optional<StagedEntry> image_, tool_;
};

bool Installation::OpenStaging() {
  if (staging_.valid()) return true;
  staging_ = system_.CreateStaging(systemDirectory_);
  if (!staging_.valid()) failure_ = kLauncherStagingFailed;
  return staging_.valid();
}

void Installation::Stage(const ArchiveHandle& archive, std::int32_t position) {
  ArchiveEntry entry;
  ArchiveGetEntry(archive, position, &entry);
  const std::string name = entry.name;
  std::int32_t found = -1;
  if (ArchiveFindEntry(archive, name, true, &found, &entry) != kArchiveOk) return;
  // Unsafe names are skipped like a failed lookup; a folder entry holds nothing to install.
  if (!IsSafeEntryName(name) || (entry.attributes & kAttributeDirectory)) return;
  if (failure_ != kLauncherDone || !OpenStaging()) return;
  os::File file = staging_.NewFile("entry-" + std::to_string(position));
  if (!file) {
    failure_ = kLauncherStagingFailed;
    return;
  }
  // The reader takes a native handle where it takes a pointer: on Windows a HANDLE is one.
  void* const handle = reinterpret_cast<void*>(file.get());  // NOLINT(performance-no-int-to-ptr)
  const int result = ArchiveExtract(archive, found, handle, 0, ArchiveSource::kHandle);
  if (result != kArchiveOk) {
    failure_ = result == kArchiveWriteError ? kLauncherStagingFailed : kLauncherDamagedEntry;
    return;
  }
  const bool image = IsImageEntryName(name);
  (image ? image_ : tool_) = StagedEntry{std::move(file), StampOf(entry, image)};
}

bool Installation::Put(const std::optional<StagedEntry>& staged, os::PendingFile& pending,
                       std::string_view name) {
  if (!staged) return true;
  // On Linux an older "AUTORUN.BIN" or "Veltran.exe" would hide the new file from a lookup
  // that ignores letter case.
  // The read-only tool of an earlier run would otherwise stay and be the one that starts.
  return system_.RemoveNameVariants(systemDirectory_, name, true) &&
         system_.MakeReplaceable(systemDirectory_, name) && system_.MovePending(pending, name);
}

// Both files are written beside their targets before either is moved; the image goes last, so
// that no new image is ever in place beside a tool that failed to land.
int Installation::PlaceStaged() {
  os::PendingFile image, tool;
  if (image_) image = system_.WritePending(image_->file, systemDirectory_, image_->stamp);
  if (tool_) tool = system_.WritePending(tool_->file, systemDirectory_, tool_->stamp);
  if ((image_ && !image.valid()) || (tool_ && !tool.valid())) return kLauncherPlacingFailed;
  // The old image goes before the tool is replaced: a run stopped at any point leaves no new
  // tool beside an old image.
  if (tool_ && !system_.RemoveNameVariants(systemDirectory_, kImageTarget, false)) {
    return kLauncherPlacingFailed;
  }
  if (!Put(tool_, tool, kToolTarget) || !Put(image_, image, kImageTarget)) {
    return kLauncherPlacingFailed;
  }
  return kLauncherDone;
}

int Installation::Place() {
  if (failure_ == kLauncherDone && (image_ || tool_)) failure_ = PlaceStaged();
  if (failure_ != kLauncherDone) {
    system_.RemoveNameVariants(systemDirectory_, kImageTarget, false);
  }
  return failure_;
}

int InstallPackage(LauncherSystem& system, ArchiveHandle& archive,
                   const os::Directory& systemDirectory) {
  ArchiveEntry entry;
  ArchiveGetEntry(archive, -1, &entry);
  const std::int32_t count = entry.index;
  Installation installation(system, systemDirectory);
  for (std::int32_t i = 0; i < count; ++i) {
    installation.Stage(archive, i);
    system.Sleep(kEntryPause);
  }
  ArchiveClose(archive);
  system.Sleep(kEntryPause);
  return installation.Place();
}

}  // namespace

bool LauncherSystem::EnterDirectory(const os::Directory& directory) {
  return os::EnterDirectory(directory);
}

bool LauncherSystem::RemoveLeftovers(const os::Directory& directory) {
  return os::RemoveLeftovers(directory);
}

os::StagingFolder LauncherSystem::CreateStaging(const os::Directory& parent) {
  return os::StagingFolder::Create(parent, *this);
}

os::PendingFile LauncherSystem::WritePending(const os::File& staged, const os::Directory& directory,
                                             const os::FileStamp& stamp) {
  return os::PendingFile::Write(staged, directory, stamp, *this);
}

bool LauncherSystem::MakeReplaceable(const os::Directory& directory, std::string_view target) {
  return os::MakeReplaceable(directory, target);
}

bool LauncherSystem::MovePending(os::PendingFile& pending, std::string_view target) {
  return pending.MoveTo(target);
}

bool LauncherSystem::RemoveNameVariants(const os::Directory& directory, std::string_view name,
                                        bool keepExact) {
  return os::RemoveNameVariants(directory, name, keepExact);
}

bool IsImageEntryName(std::string_view name) {
  if (name.size() < 3) return false;
  return SameLettersIgnoringCase(name.substr(name.size() - 3), "BIN");
}

int RunLauncher(LauncherSystem& system) {
  const std::string startDirectory = system.CurrentDirectory();
  // Held for the whole run: on Windows the open handle keeps the file from being renamed.
  const os::File own = system.OpenOwnImage();
  if (!own) return kLauncherNotTheRunningFile;

  void* const ownHandle = reinterpret_cast<void*>(own.get());  // NOLINT(performance-no-int-to-ptr)
  ArchiveHandle archive = ArchiveOpen(ownHandle, 0, ArchiveSource::kHandle);
  if (!archive) return kLauncherDone;
  const os::Directory systemDirectory = system.OpenSystemDirectory();
  if (!systemDirectory.valid()) return kLauncherUnsafeDirectory;
  system.RemoveLeftovers(systemDirectory);  // of runs that were killed
  const int installed = InstallPackage(system, archive, systemDirectory);
  if (installed != kLauncherDone) return installed;

  // The tool reads its image from its current directory: started anywhere else, it would take
  // whatever AUTORUN.BIN lies there.
  if (!system.EnterDirectory(systemDirectory)) {
    system.RemoveNameVariants(systemDirectory, kImageTarget, false);
    return kLauncherPlacingFailed;
  }
  system.OpenTool(systemDirectory);
  system.ChangeDirectory(startDirectory);
  return kLauncherDone;
}

}  // namespace veltran
