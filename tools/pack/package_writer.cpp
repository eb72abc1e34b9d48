#include "package_writer.h"

#include <zip.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace veltran::pack {
namespace {

// minizip writes through these calls into a growing buffer; it seeks back to complete each
// local header once the entry's CRC and sizes are known.
struct MemoryFile {
  Bytes* out;
  std::uint64_t position = 0;
};

voidpf ZCALLBACK Open(voidpf opaque, const void*, int) {
  return new MemoryFile{static_cast<Bytes*>(opaque)};
}

uLong ZCALLBACK Read(voidpf, voidpf stream, void* buffer, uLong size) {
  auto* file = static_cast<MemoryFile*>(stream);
  if (file->position >= file->out->size()) return 0;
  const auto n =
      static_cast<uLong>(std::min<std::uint64_t>(size, file->out->size() - file->position));
  std::memcpy(buffer, file->out->data() + file->position, n);
  file->position += n;
  return n;
}

uLong ZCALLBACK Write(voidpf, voidpf stream, const void* buffer, uLong size) {
  auto* file = static_cast<MemoryFile*>(stream);
  const std::uint64_t end = file->position + size;
  if (end > file->out->size()) file->out->resize(static_cast<std::size_t>(end));
  std::memcpy(file->out->data() + file->position, buffer, size);
  file->position = end;
  return size;
}

ZPOS64_T ZCALLBACK Tell(voidpf, voidpf stream) {
  return static_cast<MemoryFile*>(stream)->position;
}

long ZCALLBACK Seek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  auto* file = static_cast<MemoryFile*>(stream);
  std::uint64_t base = 0;
  if (origin == ZLIB_FILEFUNC_SEEK_CUR) base = file->position;
  if (origin == ZLIB_FILEFUNC_SEEK_END) base = file->out->size();
  file->position = base + offset;
  return 0;
}

int ZCALLBACK Close(voidpf, voidpf stream) {
  delete static_cast<MemoryFile*>(stream);
  return 0;
}

int ZCALLBACK Error(voidpf, voidpf) { return 0; }

constexpr uLong kMadeByDosVersion20 = 20;
constexpr uLong kArchiveAttribute = 0x20;

bool AddMember(zipFile zip, const ArchiveMember& member) {
  zip_fileinfo info{};
  info.dosDate = member.dosDateTime;
  info.external_fa = kArchiveAttribute;
  if (zipOpenNewFileInZip4_64(zip, member.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                              Z_DEFLATED, Z_BEST_COMPRESSION, 0, -MAX_WBITS, DEF_MEM_LEVEL,
                              Z_DEFAULT_STRATEGY, nullptr, 0, kMadeByDosVersion20, 0,
                              0) != ZIP_OK) {
    return false;
  }
  std::size_t done = 0;
  bool ok = true;
  while (ok && done < member.data.size()) {
    const auto piece =
        static_cast<unsigned>(std::min<std::size_t>(member.data.size() - done, 1u << 20));
    ok = zipWriteInFileInZip(zip, member.data.data() + done, piece) == ZIP_OK;
    done += piece;
  }
  return zipCloseFileInZip(zip) == ZIP_OK && ok;
}

}  // namespace

Bytes BuildArchive(const std::vector<ArchiveMember>& members) {
  Bytes out;
  zlib_filefunc64_def io{};
  io.zopen64_file = Open;
  io.zread_file = Read;
  io.zwrite_file = Write;
  io.ztell64_file = Tell;
  io.zseek64_file = Seek;
  io.zclose_file = Close;
  io.zerror_file = Error;
  io.opaque = &out;
  zipFile zip = zipOpen2_64("", APPEND_STATUS_CREATE, nullptr, &io);
  if (!zip) return {};
  bool ok = true;
  for (const ArchiveMember& member : members) ok = ok && AddMember(zip, member);
  if (zipClose(zip, nullptr) != ZIP_OK || !ok) return {};
  return out;
}

std::uint32_t DosDateTimeOf(const std::string& path) {
  std::error_code error;
  const auto written = std::filesystem::last_write_time(path, error);
  std::time_t seconds = 0;
  if (!error) {
    const auto system = std::chrono::file_clock::to_sys(written);
    seconds = std::chrono::system_clock::to_time_t(
        std::chrono::time_point_cast<std::chrono::system_clock::duration>(system));
  }
  std::tm local{};
  const std::tm* converted = std::localtime(&seconds);
  if (converted) local = *converted;
  if (local.tm_year < 80) return (1u << 21) | (1u << 16);  // 1980-01-01 00:00
  const auto field = [](int value) { return static_cast<std::uint32_t>(value); };
  return (field(local.tm_year - 80) << 25) | (field(local.tm_mon + 1) << 21) |
         (field(local.tm_mday) << 16) | (field(local.tm_hour) << 11) | (field(local.tm_min) << 5) |
         field(local.tm_sec / 2);
}

}  // namespace veltran::pack
