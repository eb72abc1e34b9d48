// File-system calls on Windows.
#include <windows.h>

#include <vector>

#include "os_files.h"

namespace veltran::os {
namespace {

HANDLE Native(const File& file) { return reinterpret_cast<HANDLE>(file.native()); }

File Wrap(HANDLE handle) {
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return File();
  return File(reinterpret_cast<std::intptr_t>(handle));
}

FILETIME ToFileTime(std::uint64_t value) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(value & 0xFFFFFFFFu);
  ft.dwHighDateTime = static_cast<DWORD>(value >> 32);
  return ft;
}

}  // namespace

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    File old(release());
    native_ = other.release();
  }
  return *this;
}

File::~File() {
  if (valid()) CloseHandle(reinterpret_cast<HANDLE>(native_));
}

std::intptr_t File::release() {
  const std::intptr_t native = native_;
  native_ = kInvalid;
  return native;
}

char PathSeparator() { return '\\'; }

File OpenForReading(const std::string& path) {
  return Wrap(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
}

File DuplicateDiskFile(std::intptr_t native) {
  HANDLE source = reinterpret_cast<HANDLE>(native);
  if (source == INVALID_HANDLE_VALUE || GetFileType(source) != FILE_TYPE_DISK) return File();
  HANDLE copy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), source, GetCurrentProcess(), &copy, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    return File();
  }
  return Wrap(copy);
}

bool FileSize(const File& file, std::uint64_t* size) {
  LARGE_INTEGER value;
  if (!GetFileSizeEx(Native(file), &value) || value.QuadPart < 0) return false;
  *size = static_cast<std::uint64_t>(value.QuadPart);
  return true;
}

bool ReadAt(const File& file, std::uint64_t offset, void* buffer, std::size_t size,
            std::size_t* got) {
  std::size_t done = 0;
  auto* out = static_cast<char*>(buffer);
  while (done < size) {
    OVERLAPPED at{};
    const std::uint64_t position = offset + done;
    at.Offset = static_cast<DWORD>(position & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(position >> 32);
    const DWORD want = static_cast<DWORD>(size - done > 0x100000 ? 0x100000 : size - done);
    DWORD read = 0;
    if (!ReadFile(Native(file), out + done, want, &read, &at)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      return false;
    }
    if (read == 0) break;
    done += read;
  }
  *got = done;
  return true;
}

File CreateForWriting(const std::string& path) {
  return Wrap(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool WriteAll(const File& file, const void* data, std::size_t size) {
  const auto* in = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD piece = static_cast<DWORD>(size > 0x100000 ? 0x100000 : size);
    DWORD written = 0;
    if (!WriteFile(Native(file), in, piece, &written, nullptr) || written == 0) return false;
    in += written;
    size -= written;
  }
  return true;
}

bool IsDiskFile(const File& file) { return GetFileType(Native(file)) == FILE_TYPE_DISK; }

bool SetFileTimes(const File& file, std::uint64_t creation, std::uint64_t access,
                  std::uint64_t modification) {
  const FILETIME c = ToFileTime(creation), a = ToFileTime(access), m = ToFileTime(modification);
  return SetFileTime(Native(file), &c, &a, &m) != 0;
}

bool SetAttributes(const std::string& path, std::uint32_t attributes) {
  return SetFileAttributesA(path.c_str(), attributes) != 0;
}

bool ClearReadOnly(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if (!(attributes & FILE_ATTRIBUTE_READONLY)) return true;
  return SetFileAttributesA(path.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY}) != 0;
}

bool RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

bool CreateDirectoryLevel(const std::string& path) {
  return CreateDirectoryA(path.c_str(), nullptr) != 0 || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool IsDirectory(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string CurrentDirectory() {
  std::vector<char> buffer(256);
  for (;;) {
    const DWORD n = GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
    if (n == 0) return std::string();
    if (n < buffer.size()) return std::string(buffer.data(), n);
    buffer.resize(n + 1);
  }
}

bool ChangeDirectory(const std::string& path) { return SetCurrentDirectoryA(path.c_str()) != 0; }

}  // namespace veltran::os
