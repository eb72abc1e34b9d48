#include "app/test_log.h"

#include <fstream>
#include <mutex>
#include <system_error>

namespace veltran {
namespace {

constexpr const char* kLogName = "VELTRAN.TMP";
constexpr const char* kLogFolder = "FLASHTEST";

// The window thread and the download thread both log; one line at a time keeps every line whole
// where appends are not atomic.
std::mutex logMutex;

void DeleteIfPresent(const std::filesystem::path& file) {
  std::error_code error;
  if (std::filesystem::exists(file, error)) std::filesystem::remove(file, error);
}

}  // namespace

// The build names the root for its target system.
std::filesystem::path TestLogPlaces::DefaultLogRoot() { return VELTRAN_LOG_ROOT; }

TestLog::TestLog(TestLogOptions options, TestLogPlaces places, Observer observer)
    : options_(options), places_(std::move(places)), observer_(std::move(observer)) {}

std::filesystem::path TestLog::RootLog() const { return places_.root / kLogFolder / kLogName; }

std::filesystem::path TestLog::WorkingLog() const { return places_.workingDirectory / kLogName; }

std::optional<std::filesystem::path> TestLog::File() const {
  if (options_.live) return WorkingLog();
  if (options_.test) return RootLog();
  return std::nullopt;
}

void TestLog::WriteTestLog(std::string_view code) const {
  const auto file = File();
  if (!file) return;
  // Text mode: the line break follows the platform's convention. Opening does not create the
  // folder, so a missing one leaves no log.
  const std::lock_guard lock(logMutex);
  std::ofstream log(*file, std::ios::app);
  if (log) log << code << '\n' << std::flush;
  if (observer_) observer_(code, static_cast<bool>(log));
}

void TestLog::DeleteTestOptionLog() const {
  if (options_.test) DeleteIfPresent(RootLog());
}

void TestLog::DeleteLiveOptionLog() const {
  if (options_.live) DeleteIfPresent(WorkingLog());
}

}  // namespace veltran
