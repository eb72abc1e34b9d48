// The file-system calls of the launcher and its archive reader; one implementation per OS.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace veltran::os {

// A native file (HANDLE or file descriptor), closed when it goes out of scope.
class File {
 public:
  File() = default;
  explicit File(std::intptr_t native) : native_(native) {}
  File(File&& other) noexcept : native_(other.release()) {}
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  bool valid() const { return native_ != kInvalid; }
  std::intptr_t native() const { return native_; }
  std::intptr_t release();

  static constexpr std::intptr_t kInvalid = -1;

 private:
  std::intptr_t native_ = kInvalid;
};

char PathSeparator();

File OpenForReading(const std::string& path);  // others may read it at the same time
File DuplicateDiskFile(std::intptr_t native);  // refused unless it is a regular disk file
bool FileSize(const File& file, std::uint64_t* size);
bool ReadAt(const File& file, std::uint64_t offset, void* buffer, std::size_t size,
            std::size_t* got);

File CreateForWriting(const std::string& path);  // replaces an existing file, no sharing
bool WriteAll(const File& file, const void* data, std::size_t size);
bool IsDiskFile(const File& file);
bool SetFileTimes(const File& file, std::uint64_t creation, std::uint64_t access,
                  std::uint64_t modification);
bool SetAttributes(const std::string& path, std::uint32_t attributes);
bool ClearReadOnly(const std::string& path);
bool RemoveFile(const std::string& path);
bool CreateDirectoryLevel(const std::string& path);
bool IsDirectory(const std::string& path);

std::string CurrentDirectory();
bool ChangeDirectory(const std::string& path);

}  // namespace veltran::os
