#include "virtual/machine.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace veltran {
namespace {

// Creates the file anew, never through a link or over a file that is there (a left-over one is
// removed first: removing a link does not follow it), and writes all of `text`.
bool WriteNewFile(const std::string& path, const std::string& text) {
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
#ifdef _WIN32
  const std::wstring wide = std::filesystem::path(path).wstring();
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  return ok != FALSE && written == text.size();
#else
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return ::close(fd) == 0 && done == text.size();
#endif
}

}  // namespace

VirtualMachine::VirtualMachine(Scenario scenario)
    : scenario_(std::move(scenario)), terminated_(scenario_.processes.size(), false) {
  kept_ = ReadState();
  for (std::size_t i = 0; i < scenario_.drives.size(); ++i) {
    ScenarioDrive d = scenario_.drives[i];
    if (auto kept = kept_.find(i); kept != kept_.end()) d.revision = kept->second;
    auto keep = [this, i](const std::string& revision) { KeepRevision(i, revision); };
    drives_.push_back(std::make_unique<VirtualDrive>(
        std::move(d), clock_,
        scenario_.stateFile.empty() ? std::function<void(const std::string&)>() : keep));
  }
}

std::map<std::size_t, std::string> VirtualMachine::ReadState() const {
  std::map<std::size_t, std::string> kept;
  if (scenario_.stateFile.empty()) return kept;
  std::ifstream in(scenario_.stateFile, std::ios::binary);
  if (!in) return kept;  // no run has kept anything yet
  const auto fail = [this](const std::string& why) {
    throw ScenarioError(scenario_.stateFile + ": " + why);
  };
  const nlohmann::json state = nlohmann::json::parse(in, nullptr, false);
  if (!state.is_object() || !state.contains("revisions") || !state["revisions"].is_object()) {
    fail("not a drive state file");
  }
  for (const auto& [position, revision] : state["revisions"].items()) {
    std::size_t at = 0;
    std::istringstream number(position);
    if (!(number >> at) || !number.eof() || at >= scenario_.drives.size() ||
        !revision.is_string() || revision.get<std::string>().size() > 4) {
      fail("revisions[\"" + position + "\"] does not name a drive and its revision");
    }
    kept[at] = revision.get<std::string>();
  }
  return kept;
}

// Written whole under a temporary name and renamed, so that a reader never sees half a file.
void VirtualMachine::KeepRevision(std::size_t position, const std::string& revision) {
  std::lock_guard lock(mutex_);
  kept_[position] = revision;
  nlohmann::json state;
  state["revisions"] = nlohmann::json::object();
  for (const auto& [at, kept] : kept_) state["revisions"][std::to_string(at)] = kept;
  const std::string temporary = scenario_.stateFile + ".new";
  if (!WriteNewFile(temporary, state.dump(2) + "\n")) return;
  std::error_code ignored;
  std::filesystem::rename(temporary, scenario_.stateFile, ignored);
}

VirtualDrive* VirtualMachine::DriveAtLetter(char letter) {
  for (auto& d : drives_) {
    if (d->config().letter == letter) return d.get();
  }
  return nullptr;
}

VirtualDrive* VirtualMachine::DriveAt(unsigned hostAdapter, unsigned target, unsigned lun) {
  for (auto& d : drives_) {
    const ScenarioDrive& c = d->config();
    if (c.hostAdapter == hostAdapter && c.target == target && c.lun == lun) return d.get();
  }
  return nullptr;
}

unsigned VirtualMachine::HostAdapterCount() const {
  unsigned count = 0;
  for (const ScenarioDrive& d : scenario_.drives) count = std::max(count, d.hostAdapter + 1);
  return count;
}

bool VirtualMachine::IsRunning(std::size_t listPosition) const {
  std::lock_guard lock(mutex_);
  return listPosition < terminated_.size() && !terminated_[listPosition];
}

bool VirtualMachine::Terminate(std::size_t listPosition) {
  std::lock_guard lock(mutex_);
  if (listPosition >= terminated_.size() || terminated_[listPosition]) return false;
  if (!scenario_.processes[listPosition].openable) return false;
  terminated_[listPosition] = true;
  return true;
}

}  // namespace veltran
