#include "app/image_file.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "app/image_refusal.h"
#include "common/ascii.h"

namespace veltran {

std::filesystem::path PathFromUtf8(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string Utf8FromPath(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}
namespace {

namespace fs = std::filesystem;

constexpr std::array<std::uint8_t, 4> kFixedHeaderSignature = {0x05, 0x80, 0x00, 0x32};
constexpr std::uint8_t kFallbackMarker = 0xFF;
constexpr std::int32_t kReducedModelThreshold = 0x40000;
constexpr std::string_view kReducedModel = "BRELMONTDVD+-RW NB-P643B";

struct OemSubstitution {
  std::string_view ident;
  std::string_view revisionStart;
  std::string_view replacement;
};
constexpr std::array<OemSubstitution, 3> kOemSubstitutions = {{
    {"DARLOWE CD-R/RW LN-590B ", "BM", "MUSTOVIA CD-RW VX7120E  "},
    {"DARLOWE CD-R/RW LN-590F ", "FM", "MUSTOVIA CD-RW VX7160E  "},
    {"DARLOWE CD-R/RW LN-590B ", "BZ", "ZEK     CD-R/RW LN-590B "},
}};

// Positioned reads over a file or a memory copy of one; a read that cannot deliver every byte
// fails.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual bool ReadAt(std::int64_t offset, std::span<std::uint8_t> out) = 0;
};

class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  bool ReadAt(std::int64_t offset, std::span<std::uint8_t> out) override {
    if (offset < 0 || static_cast<std::uint64_t>(offset) + out.size() > bytes_.size()) {
      return false;
    }
    const auto part = bytes_.subspan(static_cast<std::size_t>(offset), out.size());
    std::copy(part.begin(), part.end(), out.begin());
    return true;
  }

 private:
  std::span<const std::uint8_t> bytes_;
};

class FileSource final : public ByteSource {
 public:
  explicit FileSource(std::ifstream& file) : file_(file) {}
  bool ReadAt(std::int64_t offset, std::span<std::uint8_t> out) override {
    file_.clear();
    if (!file_.seekg(offset)) return false;
    file_.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
    return file_.gcount() == static_cast<std::streamsize>(out.size());
  }

 private:
  std::ifstream& file_;
};

// Paths are held as UTF-8; the library converts them to the system's own form at the call.

bool ReadHeaderAt(ByteSource& source, std::int64_t offset, ImageFileRead& read) {
  ImageHeader header;
  if (!source.ReadAt(offset, header.bytes)) return false;
  read.header = header;
  return true;
}

// The signature test, then the header from the place it selects.
ImageFileRead ReadHeaders(ByteSource& source, std::int64_t size) {
  ImageFileRead read;
  read.status = ImageReadStatus::kRead;
  read.size = size;
  if (size > kLargestImageSize) {
    read.status = ImageReadStatus::kUnusable;
    return read;
  }
  const auto fail = [&read] {
    read.status = ImageReadStatus::kUnusable;
    read.header.reset();
    return read;
  };
  if (size >= kSignatureOffset + kSignatureSize) {
    std::array<std::uint8_t, kSignatureSize> signature{};
    if (!source.ReadAt(kSignatureOffset, signature)) return fail();
    if (std::equal(kFixedHeaderSignature.begin(), kFixedHeaderSignature.end(), signature.begin())) {
      read.place = HeaderPlace::kFixedHeader;
      if (size >= kFixedHeaderOffset + static_cast<std::int64_t>(kImageHeaderSize) &&
          !ReadHeaderAt(source, kFixedHeaderOffset, read)) {
        return fail();
      }
      return read;
    }
  }
  if (size < kTrailerSize) return read;
  if (!ReadHeaderAt(source, size - kTrailerSize, read)) return fail();
  if (read.header->bytes[0] != kFallbackMarker) return read;
  read.place = HeaderPlace::kTrailer64KEarlier;
  read.header.reset();
  if (size >= kFallbackDistance && !ReadHeaderAt(source, size - kFallbackDistance, read)) {
    return fail();
  }
  return read;
}

void ClearIdentification(ImageRecord& record) {
  record.ImageIdent.Clear();
  record.ImageRevision.Clear();
  record.ImagePrefix.Clear();
}

// The trailer form's derivation, without its effects on refusal. With `keep64KFigures` (the
// manual open) a 64 KB image keeps the block figures of the image before it.
bool DeriveTrailerRecord(ImageRecord& record, const ImageFileRead& read, bool keep64KFigures) {
  record.FixedHeaderImage = false;
  if (!read.header) {
    // Too short to hold the header: nothing of a previous image may describe this file.
    record.Image64K = record.ImageSize == kImage64KSize;
    ClearIdentification(record);
    record.ImageType = 1;
    record.BlockSizeKB = 0;
    record.CommandCount = 0;
    SizeCheckPasses(record);
    return false;
  }
  return DeriveTrailerForm(record, *read.header, keep64KFigures);
}

bool DeriveFixedHeaderRecord(ImageRecord& record, const ImageFileRead& read) {
  if (read.header) return DeriveFixedHeaderForm(record, *read.header);
  record.FixedHeaderImage = true;
  record.Image64K = false;
  ClearIdentification(record);
  record.ImageType = 4;
  record.BlockSizeKB = kFixedBlockKB;
  record.CommandCount = record.ImageSize / (kFixedBlockKB * 1024);
  record.LastBlockKB = 0;
  return false;
}

// Sets ImageSize and derives the record; false when the image is refused.
bool DeriveRecord(ImageRecord& record, const ImageFileRead& read, bool keep64KFigures) {
  if (read.status != ImageReadStatus::kRead) {
    // Not a file the tool can take: no figure of it is known.
    record.ImageSize = 0;
    record.FixedHeaderImage = false;
    record.Image64K = false;
    ClearIdentification(record);
    record.BlockSizeKB = 0;
    record.CommandCount = 0;
    record.LastBlockKB = 0;
    return false;
  }
  record.ImageSize = static_cast<std::int32_t>(read.size);
  record.loadedFileSize = read.size;
  record.loadedPlace = read.place;
  record.loadedHeader = read.header;
  if (read.fixedHeader()) return DeriveFixedHeaderRecord(record, read);
  return DeriveTrailerRecord(record, read, keep64KFigures);
}

LoadOutcome Refuse(ImageRecord& record) {
  LoadOutcome outcome{LoadStatus::kRefused, SizeCheckFailureText(record)};
  record.ImageSize = 0;
  return outcome;
}

bool RevisionStartsWith(const ImageRecord& record, std::string_view start) {
  return record.ImageRevision.view().starts_with(start);
}

std::string FormText(HeaderPlace place) {
  switch (place) {
    case HeaderPlace::kTrailer:
      return "trailer";
    case HeaderPlace::kTrailer64KEarlier:
      return "trailer, header 64 KB earlier";
    case HeaderPlace::kFixedHeader:
      return "fixed header";
  }
  return {};
}

}  // namespace

ImageFileRead ReadImageFile(const std::string& path) {
  const fs::path file = PathFromUtf8(path);
  std::error_code error;
  const fs::file_status status = fs::status(file, error);
  ImageFileRead unusable;
  unusable.status = ImageReadStatus::kUnusable;
  if (fs::exists(status) && !fs::is_regular_file(status)) return unusable;
  std::ifstream stream(file, std::ios::binary);
  if (!stream) return {};
  if (!stream.seekg(0, std::ios::end)) return unusable;
  const std::int64_t size = stream.tellg();
  if (size < 0) return unusable;
  FileSource source(stream);
  return ReadHeaders(source, size);
}

ImageFileRead ReadImageStream(std::ifstream& stream) {
  ImageFileRead unusable;
  unusable.status = ImageReadStatus::kUnusable;
  stream.clear();
  if (!stream.seekg(0, std::ios::end)) return unusable;
  const std::int64_t size = stream.tellg();
  if (size < 0) return unusable;
  FileSource source(stream);
  ImageFileRead read = ReadHeaders(source, size);
  stream.clear();
  if (!stream.seekg(0, std::ios::beg)) return unusable;
  return read;
}

ImageFileRead ReadImageBytes(std::span<const std::uint8_t> file) {
  MemorySource source(file);
  return ReadHeaders(source, static_cast<std::int64_t>(file.size()));
}

void ApplyTrailerIdentity(ImageRecord& record, const ImageHeader& header) {
  record.Image64K = record.ImageSize == kImage64KSize;
  record.ImageIdent.Assign(header.bytes.data());
  record.ImageRevision.Assign(header.bytes.data() + 24);
  record.ImagePrefix.Assign(header.bytes.data() + 32);
  record.ImagePrefix.ToUpper();
  record.ImageType = header.type() == 4 ? 4 : 1;
}

void ApplyOemSubstitution(ImageRecord& record) {
  for (const OemSubstitution& rule : kOemSubstitutions) {
    if (record.ImageIdent == rule.ident && RevisionStartsWith(record, rule.revisionStart)) {
      record.ImageIdent.Assign(rule.replacement);
    }
  }
}

void TakeBlockFigures(ImageRecord& record, const ImageHeader& header) {
  record.BlockSizeKB = header.blockSizeKB();
  record.CommandCount = header.blockCount();
}

bool SizeCheckPasses(ImageRecord& record) {
  const std::int32_t fullBlocks = record.CommandCount - 1;
  const std::int32_t lastKB = record.ImageSize / 1024 - fullBlocks * record.BlockSizeKB;
  record.LastBlockKB = static_cast<std::uint8_t>(lastKB & 0xFF);
  // 64-bit so that header figures far from the file size cannot overflow the comparison.
  const std::int64_t layoutSize = std::int64_t{record.BlockSizeKB} * 1024 * fullBlocks +
                                  std::int64_t{record.LastBlockKB} * 1024;
  return layoutSize == record.ImageSize;
}

bool TrailerLayoutAcceptable(ImageRecord& record) {
  return TrailerLayoutRefusal(record) == ImageRefusal::kNone;
}

bool DeriveTrailerForm(ImageRecord& record, const ImageHeader& header, bool keep64KFigures) {
  record.FixedHeaderImage = false;
  ApplyTrailerIdentity(record, header);
  ApplyOemSubstitution(record);
  if (record.Image64K && keep64KFigures) return true;
  TakeBlockFigures(record, header);
  return record.Image64K || TrailerLayoutAcceptable(record);
}

bool DeriveFixedHeaderForm(ImageRecord& record, const ImageHeader& header) {
  record.FixedHeaderImage = true;
  record.Image64K = false;
  record.ImageIdent.Assign(header.bytes.data());
  record.ImageRevision.Assign(header.bytes.data() + 24);
  const char prefix[3] = {static_cast<char>(header.bytes[24]), static_cast<char>(header.bytes[25]),
                          ' '};
  record.ImagePrefix.Assign(prefix);
  record.ImagePrefix.ToUpper();
  if (record.ImageIdent == kReducedModel && record.ImageSize > kReducedModelThreshold) {
    record.ImageSize -= 65536;
  }
  record.BlockSizeKB = kFixedBlockKB;
  record.CommandCount = record.ImageSize / (kFixedBlockKB * 1024);
  record.ImageType = 4;
  // Every block of this form is a whole 32 KB block; no last block of its own.
  record.LastBlockKB = 0;
  return record.CommandCount >= 1;
}

std::string LayoutText(const ImageRecord& record) {
  char text[64];
  std::snprintf(text, sizeof text, "%ub %dKb %dCmd",
                static_cast<unsigned>(record.BlockSizeKB) * 1024u, int{record.LastBlockKB},
                record.CommandCount);
  return text;
}

std::string SizeCheckFailureText(const ImageRecord& record) {
  return "File Open Fail (No Flash File) !!\n" + LayoutText(record);
}

LoadOutcome DeriveAutomaticLoad(ImageRecord& record, const ImageFileRead& read) {
  if (read.status == ImageReadStatus::kNotOpened) {
    record.ImageSize = 0;
    return {LoadStatus::kNotOpened, std::nullopt};
  }
  record.ImagePresent = true;
  if (DeriveRecord(record, read, false)) return {LoadStatus::kLoaded, std::nullopt};
  record.ImagePresent = false;
  return Refuse(record);
}

LoadOutcome DeriveManualOpen(ImageRecord& record, const ImageFileRead& read) {
  if (read.status == ImageReadStatus::kNotOpened) {
    record.ImageSize = 0;
    return {LoadStatus::kNotOpened, std::string(kFileNotOpenedText)};
  }
  if (DeriveRecord(record, read, true)) return {LoadStatus::kLoaded, std::nullopt};
  return Refuse(record);
}

std::string DisplayName(const std::string& path) {
  return AsciiUpper(Utf8FromPath(PathFromUtf8(path).filename()));
}

std::string DownloadFileText(std::string_view name, std::int32_t imageSize) {
  return std::string(name) + " (" + std::to_string(imageSize / 1024) + " K)";
}

std::optional<std::string> FindFixedName(const std::string& folder, std::string_view name) {
  std::optional<std::string> found;
  std::error_code error;
  const fs::path dir = folder.empty() ? fs::path(".") : PathFromUtf8(folder);
  for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
    const std::string candidate = Utf8FromPath(it->path().filename());
    if (candidate == name) return candidate;
    if (!found && SameLettersIgnoringCase(candidate, name)) found = candidate;
  }
  return found;
}

std::string AutorunPath(const std::string& folder) {
  const std::string name = FindFixedName(folder, kAutorunName).value_or(std::string(kAutorunName));
  return folder.empty() ? name : Utf8FromPath(PathFromUtf8(folder) / PathFromUtf8(name));
}

bool AutorunPresent(const std::string& folder) {
  const fs::path path = PathFromUtf8(AutorunPath(folder));
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  // Only a regular file is ever opened (opening a FIFO waits for a writer): anything else is
  // an image that cannot be read, which the load refuses.
  if (fs::exists(status) && !fs::is_regular_file(status)) return true;
  return static_cast<bool>(std::ifstream(path, std::ios::binary));
}

ImageFileRead ReadAutorunImage(const std::string& folder) {
  return ReadImageFile(AutorunPath(folder));
}

ImageInspection InspectImageFile(const std::string& path) {
  const ImageFileRead read = ReadImageFile(path);
  ImageInspection inspection;
  inspection.record.ImagePath = path;
  if (read.status == ImageReadStatus::kNotOpened) {
    inspection.refusal = std::string(kFileNotOpenedText);
    inspection.rule = RefusalOf(read, inspection.record);
    return inspection;
  }
  if (read.status == ImageReadStatus::kRead) inspection.form = FormText(read.place);
  // The record as derived, before a refusal clears ImageSize.
  inspection.sizeCheckPassed = DeriveRecord(inspection.record, read, false);
  inspection.layoutText = LayoutText(inspection.record);
  if (!inspection.sizeCheckPassed) {
    inspection.refusal = SizeCheckFailureText(inspection.record);
    inspection.rule = RefusalOf(read, inspection.record);
  }
  return inspection;
}

}  // namespace veltran
