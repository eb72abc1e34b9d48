// Temporary files and folders for tests, and plain reads and writes of their contents.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace veltran::testing {

// A file name in the system's temporary folder that no other test uses.
inline std::filesystem::path TempPath(const std::string& stem) {
  static std::random_device random;
  return std::filesystem::temp_directory_path() /
         (stem + "-" + std::to_string(random()) + "-" + std::to_string(random()));
}

// A temporary file name, removed when this goes; declare it before whatever holds the file open.
class TempFile {
 public:
  explicit TempFile(const std::string& stem) : path_(TempPath(stem)) {}
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A folder of its own per test, removed with all it holds afterwards.
class TempFolder {
 public:
  TempFolder() : path_(TempPath("veltran-test")) { std::filesystem::create_directories(path_); }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // A path below the folder as UTF-8 text, the form the tool's file calls take.
  std::string Utf8(const std::filesystem::path& name) const {
    const std::u8string text = (path_ / name).u8string();
    return std::string(text.begin(), text.end());
  }

 private:
  std::filesystem::path path_;
};

inline std::vector<std::string> ReadLines(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

}  // namespace veltran::testing
