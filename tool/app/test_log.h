// The test log: one code a line, written only when a test option is given, so that an
// unattended run can be followed afterwards.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>

namespace veltran {

struct TestLogOptions {
  bool test = false;  // "-TEST"
  bool live = false;  // "-LIVE"
};

// Where the two log files live. The defaults are the real places: the filesystem root of the
// system drive and the working directory.
struct TestLogPlaces {
  std::filesystem::path root = DefaultLogRoot();
  std::filesystem::path workingDirectory;  // empty: the current directory

  static std::filesystem::path DefaultLogRoot();
};

class TestLog {
 public:
  // Told of each code WriteTestLog writes, in the file's order, with whether the file took it.
  // Called from the thread that logs, with the log's lock held.
  using Observer = std::function<void(std::string_view code, bool written)>;

  TestLog(TestLogOptions options, TestLogPlaces places = {}, Observer observer = {});

  // The file the codes go to: the working directory's with "-LIVE", the root folder's with
  // "-TEST" only, none without either.
  std::optional<std::filesystem::path> File() const;
  // Appends the code and a line break; does nothing without a test option, and a file that
  // cannot be opened (its folder missing) is skipped.
  void WriteTestLog(std::string_view code) const;
  // The start-up deletions: each given option's log file goes, so a log describes one run.
  void DeleteTestOptionLog() const;
  void DeleteLiveOptionLog() const;

  const TestLogOptions& options() const { return options_; }

 private:
  std::filesystem::path RootLog() const;
  std::filesystem::path WorkingLog() const;

  TestLogOptions options_;
  TestLogPlaces places_;
  Observer observer_;
};

}  // namespace veltran
