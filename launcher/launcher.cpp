#include "launcher.h"

#include "archive.h"

namespace veltran {
namespace {

constexpr unsigned kEntryPause = 300;

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// Extracts one entry into the current directory and installs it in the system directory.
// Returns without installing when the entry is missing, unsafe or damaged.
void InstallEntry(LauncherSystem& system, const ArchiveHandle& archive, std::int32_t position,
                  const std::string& systemDirectory) {
  ArchiveEntry entry;
  ArchiveGetEntry(archive, position, &entry);
  const std::string name = entry.name;
  std::int32_t found = -1;
  if (ArchiveFindEntry(archive, name, true, &found, &entry) != kArchiveOk) return;
  // A name that would write outside the current directory is skipped like a failed lookup.
  if (!IsSafeEntryName(name)) return;
  std::string extracted = name;
  if (ArchiveExtract(archive, found, extracted.data(), 0, ArchiveSource::kFileName) != kArchiveOk) {
    return;
  }
  if (IsImageEntryName(name)) {
    const std::string target = system.JoinPath(systemDirectory, "autorun.bin");
    system.ClearReadOnly(extracted);
    system.ClearReadOnly(target);
    system.CopyFileOver(extracted, target);
    system.RemoveFile(extracted);
  } else {
    const std::string target = system.JoinPath(systemDirectory, "VELTRAN.exe");
    // The copy of an earlier run is read-only; left in place it would be the tool that starts.
    system.ClearReadOnly(target);
    system.CopyFileOver(extracted, target);
    system.MakeRunnable(target);
    system.ClearReadOnly(extracted);
    system.RemoveFile(extracted);
  }
}

}  // namespace

bool IsImageEntryName(std::string_view name) {
  if (name.size() < 3) return false;
  const std::string_view tail = name.substr(name.size() - 3);
  return Upper(tail[0]) == 'B' && Upper(tail[1]) == 'I' && Upper(tail[2]) == 'N';
}

int RunLauncher(LauncherSystem& system) {
  const std::string startDirectory = system.CurrentDirectory();
  const std::string ownPath = system.OwnPath();
  const std::string systemDirectory = system.SystemDirectory();

  ArchiveHandle archive = ArchiveOpen(ownPath.c_str(), 0, ArchiveSource::kFileName);
  if (!archive) return 0;

  ArchiveEntry entry;
  ArchiveGetEntry(archive, -1, &entry);
  const std::int32_t count = entry.index;
  for (std::int32_t i = 0; i < count; ++i) {
    InstallEntry(system, archive, i, systemDirectory);
    system.Sleep(kEntryPause);
  }
  ArchiveClose(archive);
  system.Sleep(kEntryPause);

  system.ChangeDirectory(systemDirectory);
  system.OpenTool(systemDirectory);
  system.ChangeDirectory(startDirectory);
  return 0;
}

}  // namespace veltran
