// File-system calls on Windows.
#include <windows.h>
// ntsecapi.h declares RtlGenRandom and needs windows.h first.
#include <ntsecapi.h>

#include <vector>

#include "os_files.h"

namespace veltran::os {
namespace {

HANDLE Native(const File& file) { return reinterpret_cast<HANDLE>(file.get()); }

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

void FileTraits::Close(std::intptr_t native) { CloseHandle(reinterpret_cast<HANDLE>(native)); }

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

// CREATE_NEW fails on any existing name, a symbolic link or junction included.
File CreateNewFile(const std::string& path) {
  return Wrap(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
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

bool SetAttributes(const File& file, std::uint32_t attributes) {
  FILE_BASIC_INFO info{};  // zero times: left as they are
  info.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(Native(file), FileBasicInfo, &info, sizeof info) != 0;
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

std::uint64_t RandomNumber() {
  std::uint64_t value = 0;
  if (RtlGenRandom(&value, sizeof value)) return value;
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<std::uint64_t>(now.QuadPart) ^ GetCurrentProcessId();
}

namespace {

constexpr int kNameAttempts = 16;

std::string FreshName(const char* prefix, NameSource& names) {
  std::string name = prefix;
  const std::uint64_t value = names.NextName();
  for (int shift = 60; shift >= 0; shift -= 4) name += "0123456789abcdef"[(value >> shift) & 15];
  return name;
}

// Paths in the system directory may pass the 260-character limit of the plain calls once the
// launcher's own names are appended: absolute paths go to the wide calls in their long form.
std::wstring LongPath(const std::string& path) {
  const int n = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
  std::wstring wide(n > 0 ? static_cast<std::size_t>(n) : 1, L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), n);
  wide.resize(wide.size() - 1);
  for (wchar_t& c : wide) {
    if (c == L'/') c = L'\\';
  }
  if (wide.size() > 2 && wide[1] == L':' && wide[2] == L'\\') return L"\\\\?\\" + wide;
  if (wide.size() > 2 && wide[0] == L'\\' && wide[1] == L'\\' && wide[2] != L'?') {
    return L"\\\\?\\UNC" + wide.substr(1);
  }
  return wide;
}

bool ClearReadOnlyLong(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if (!(attributes & FILE_ATTRIBUTE_READONLY)) return true;
  return SetFileAttributesW(path.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY}) != 0;
}

File CreateNewLongFile(const std::string& path) {
  return Wrap(CreateFileW(LongPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                          CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// A security descriptor whose only entry gives the process's user full access, inherited by
// what is created below; nothing is taken over from the parent.
class OwnerOnlySecurity {
 public:
  OwnerOnlySecurity() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    user_.resize(size);
    const bool gotUser = size && GetTokenInformation(token, TokenUser, user_.data(), size, &size);
    CloseHandle(token);
    if (!gotUser) return;
    PSID sid = reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;
    acl_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid));
    auto* acl = reinterpret_cast<PACL>(acl_.data());
    ready_ = InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION) &&
             AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
                                   GENERIC_ALL, sid) &&
             InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
             SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) &&
             SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = &descriptor_;
  }
  SECURITY_ATTRIBUTES* get() { return ready_ ? &attributes_ : nullptr; }

 private:
  std::vector<unsigned char> user_, acl_;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
  bool ready_ = false;
};

}  // namespace

// Held without delete sharing: the directory cannot be renamed or removed while the launcher
// uses its path. Win32 has no calls relative to a directory handle, so the steps go by path.
Directory OpenDirectory(const std::string& path) {
  File handle = Wrap(CreateFileW(LongPath(path).c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!handle || !GetFileInformationByHandle(Native(handle), &info) ||
      !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return Directory();
  }
  return Directory{std::move(handle), path};
}

// The system directory is the system's own, writable by administrators only.
Directory OpenTrustedDirectory(const std::string& path) { return OpenDirectory(path); }

bool EnterDirectory(const Directory& directory) {
  return directory.valid() && SetCurrentDirectoryA(directory.path.c_str()) != 0;
}

void StagingFolder::Remove() {
  if (!folder_) return;
  folder_ = File();
  // Empty by now: staged files are deleted when their handles close.
  RemoveDirectoryW(LongPath(path_).c_str());
}

// CreateDirectory fails on an existing name, a planted link included. The folder is then held
// open without delete sharing, so it cannot be renamed or swapped while it is in use.
StagingFolder StagingFolder::Create(const Directory& parent, NameSource& names) {
  StagingFolder staging;
  OwnerOnlySecurity security;
  if (!security.get() || !parent.valid()) return staging;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::string name = FreshName("~unfurler-", names);
    const std::string path = parent.path + "\\" + name;
    const std::wstring longPath = LongPath(path);
    if (!CreateDirectoryW(longPath.c_str(), security.get())) {
      if (GetLastError() == ERROR_ALREADY_EXISTS) continue;
      return staging;
    }
    File folder =
        Wrap(CreateFileW(longPath.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!folder || !GetFileInformationByHandle(Native(folder), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      RemoveDirectoryW(longPath.c_str());
      return staging;
    }
    staging.folder_ = std::move(folder);
    staging.name_ = name;
    staging.path_ = path;
    return staging;
  }
  return staging;
}

File StagingFolder::NewFile(std::string_view name) {
  if (!valid()) return File();
  const std::string path = path_ + "\\" + std::string(name);
  return Wrap(CreateFileW(LongPath(path).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                          CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                          nullptr));
}

void PendingFile::Remove() {
  if (valid()) DeleteFileW(LongPath(directoryPath_ + "\\" + name_).c_str());
  name_.clear();
}

PendingFile PendingFile::Write(const File& source, const Directory& directory,
                               const FileStamp& stamp, NameSource& names) {
  PendingFile pending;
  if (!directory.valid()) return pending;
  for (int attempt = 0; attempt < kNameAttempts && !pending.valid(); ++attempt) {
    const std::string name = FreshName("~unfurler-", names) + ".part";
    File target = CreateNewLongFile(directory.path + "\\" + name);
    if (!target) {
      if (GetLastError() == ERROR_FILE_EXISTS) continue;
      return pending;
    }
    pending.directoryPath_ = directory.path;
    pending.name_ = name;
    pending.stamp_ = stamp;
    if (!CopyContent(source, target) ||
        !SetFileTimes(target, stamp.creation, stamp.access, stamp.modification) ||
        !FlushFileBuffers(Native(target))) {
      return PendingFile();  // `pending` removes the partial file
    }
  }
  return pending;
}

// The attributes are set once the file is in place.
bool PendingFile::MoveTo(std::string_view target) {
  if (!valid()) return false;
  const std::wstring to = LongPath(directoryPath_ + "\\" + std::string(target));
  if (!MoveFileExW(LongPath(directoryPath_ + "\\" + name_).c_str(), to.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return false;
  }
  name_.clear();
  const DWORD attributes = stamp_.attributes ? stamp_.attributes : FILE_ATTRIBUTE_NORMAL;
  return SetFileAttributesW(to.c_str(), attributes) != 0;
}

// The directory is the system's, writable by administrators only.
bool MakeReplaceable(const Directory& directory, std::string_view target) {
  const std::wstring path = LongPath(directory.path + "\\" + std::string(target));
  return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES || ClearReadOnlyLong(path);
}

// Names are one whatever their letter case: there is only the exact name to remove.
bool RemoveNameVariants(const Directory& directory, std::string_view name, bool keepExact) {
  if (keepExact) return true;
  const std::wstring path = LongPath(directory.path + "\\" + std::string(name));
  ClearReadOnlyLong(path);
  return DeleteFileW(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND ||
         GetLastError() == ERROR_PATH_NOT_FOUND;
}

// Staging folders held by a run still going cannot be removed (no delete sharing); their files
// were deleted when the killed run's handles closed.
bool RemoveLeftovers(const Directory& directory) {
  if (!directory.valid()) return false;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(LongPath(directory.path + "\\~unfurler-*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  bool removedAll = true;
  do {
    const std::wstring name = found.cFileName;
    const bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        name.size() != 26 + (folder ? 0 : 5) || (!folder && name.compare(26, 5, L".part") != 0)) {
      continue;
    }
    const std::wstring path = LongPath(directory.path + "\\") + name;
    if (!(folder ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str()))) removedAll = false;
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return removedAll;
}

}  // namespace veltran::os
