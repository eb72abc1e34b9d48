// A scratch folder that is also the current directory for the length of a test.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "zip_builder.h"

namespace veltran::testing {

namespace fs = std::filesystem;

class ScratchFolder {
 public:
  ScratchFolder() {
    std::random_device random;
    root_ = fs::temp_directory_path() / ("unfurler-test-" + std::to_string(random()));
    fs::create_directories(root_ / "work");
    previous_ = fs::current_path();
    fs::current_path(root_ / "work");
  }
  ~ScratchFolder() {
    fs::current_path(previous_);
    std::error_code ignored;
    for (auto& item : fs::recursive_directory_iterator(root_, ignored)) {
      fs::permissions(item.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(root_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const fs::path& root() const { return root_; }
  fs::path work() const { return root_ / "work"; }

 private:
  fs::path root_;
  fs::path previous_;
};

inline void WriteBytes(const fs::path& path, const Bytes& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

inline Bytes ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool IsReadOnly(const fs::path& path) {
  return (fs::status(path).permissions() & fs::perms::owner_write) == fs::perms::none;
}

// Every regular file below `folder`, as paths relative to it.
inline std::vector<std::string> FilesBelow(const fs::path& folder) {
  std::vector<std::string> files;
  for (auto& item : fs::recursive_directory_iterator(folder)) {
    if (item.is_regular_file()) files.push_back(fs::relative(item.path(), folder).generic_string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace veltran::testing
