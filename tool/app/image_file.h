// The firmware image file: where its identification header lies, the image record derived from
// it, and every refusal applied when an image is loaded. No window, terminal or drive I/O here:
// the load procedures call these functions and show what they return.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "drive/identify.h"

namespace veltran {

inline constexpr std::size_t kImageHeaderSize = 35;
inline constexpr std::int64_t kTrailerSize = 48;
// The trailer form's alternative header lies one 64 KB page before the trailer.
inline constexpr std::int64_t kFallbackDistance = 65536 + kTrailerSize;
inline constexpr std::int64_t kSignatureOffset = 0xBF00;
inline constexpr std::int64_t kSignatureSize = 8;
inline constexpr std::int64_t kFixedHeaderOffset = kSignatureOffset + kSignatureSize;
inline constexpr std::int32_t kImage64KSize = 65536;
inline constexpr std::int32_t kFixedBlockKB = 32;
// Every block travels through the one command buffer, so no block may be larger than it.
inline constexpr std::int32_t kLargestBlockKB = 64;
// ImageSize is a 32-bit signed count.
inline constexpr std::int64_t kLargestImageSize = 0x7FFFFFFF;

inline constexpr std::string_view kAutorunName = "AUTORUN.BIN";
inline constexpr std::string_view kFileNotOpenedText = "File Not Opened!!";

// The 35 identification bytes, as read.
struct ImageHeader {
  std::array<std::uint8_t, kImageHeaderSize> bytes{};

  std::uint8_t blockSizeKB() const { return bytes[28]; }
  std::uint8_t blockCount() const { return bytes[29]; }
  std::uint8_t type() const { return bytes[30]; }
};

// Where the header of a file was (or should have been) read.
enum class HeaderPlace {
  kTrailer,            // 48 bytes before the end
  kTrailer64KEarlier,  // the trailer began with 0xFF: 65,584 bytes before the end
  kFixedHeader,        // behind the signature at 0xBF00
};

enum class ImageReadStatus {
  kRead,       // the file opened; `header` is empty when the file is too short to hold it
  kNotOpened,  // the file cannot be opened for reading
  kUnusable,   // it opened but is no regular file, is 2 GiB or more, or a read failed
};

struct ImageFileRead {
  ImageReadStatus status = ImageReadStatus::kNotOpened;
  std::int64_t size = 0;
  HeaderPlace place = HeaderPlace::kTrailer;
  std::optional<ImageHeader> header;

  bool fixedHeader() const { return place == HeaderPlace::kFixedHeader; }
};

// Paths are UTF-8 inside the program.
std::filesystem::path PathFromUtf8(const std::string& text);
std::string Utf8FromPath(const std::filesystem::path& path);

// Opens the file, takes its length, tests the fixed-header signature and reads the header from
// the place that applies. The file is closed again before the call returns. `path` is UTF-8.
ImageFileRead ReadImageFile(const std::string& path);
// The same reads over a file already open; the stream is left at the file's start.
ImageFileRead ReadImageStream(std::ifstream& stream);
// The same reads over the bytes of a file already in memory.
ImageFileRead ReadImageBytes(std::span<const std::uint8_t> file);

// The image record: what the tool knows of the image loaded last. ImageSize 0 means that no
// usable image is loaded.
struct ImageRecord {
  std::string ImagePath{kAutorunName};  // UTF-8, no length limit
  std::int32_t ImageSize = 0;
  bool ImagePresent = false;
  FixedText<24> ImageIdent;
  FixedText<4> ImageRevision;
  FixedText<3> ImagePrefix;
  int ImageType = 1;
  std::int32_t BlockSizeKB = 0;
  std::int32_t CommandCount = 0;
  std::uint8_t LastBlockKB = 0;
  bool FixedHeaderImage = false;
  bool Image64K = false;
  // The file's length when it was loaded (a reduced fixed-header image is longer than
  // ImageSize): the download refuses a file that has changed since.
  std::int64_t loadedFileSize = 0;
  // Where the header was read at the load and its bytes: a file whose header has changed since
  // is not the image that was checked.
  HeaderPlace loadedPlace = HeaderPlace::kTrailer;
  std::optional<ImageHeader> loadedHeader;
};

// The 64 KB flag (from the file size), identification, revision, upper-case prefix and type.
void ApplyTrailerIdentity(ImageRecord& record, const ImageHeader& header);
// Three OEM identities are renamed to the maker's own, each test seeing the one before.
void ApplyOemSubstitution(ImageRecord& record);
// Block size and block count as the header gives them.
void TakeBlockFigures(ImageRecord& record, const ImageHeader& header);
// Computes LastBlockKB and tells whether the file size matches the block layout.
bool SizeCheckPasses(ImageRecord& record);
// The size check plus the layout limits the download relies on: a block must fit the command
// buffer, there is at least one block, and several blocks need a block size.
bool TrailerLayoutAcceptable(ImageRecord& record);

// An image whose header is its last bytes: identity, OEM renaming, block figures and the
// layout checks; false when the image is refused. With `keep64KFigures` (the manual open) a
// 64 KB image keeps the block figures of the image before it.
bool DeriveTrailerForm(ImageRecord& record, const ImageHeader& header, bool keep64KFigures = false);
// The fixed-header derivation; false when the image holds no whole 32 KB block.
bool DeriveFixedHeaderForm(ImageRecord& record, const ImageHeader& header);

// "%ub %dKb %dCmd" with BlockSizeKB × 1024, LastBlockKB and CommandCount.
std::string LayoutText(const ImageRecord& record);
// The message of a refused image.
std::string SizeCheckFailureText(const ImageRecord& record);

enum class LoadStatus { kLoaded, kNotOpened, kRefused };

struct LoadOutcome {
  LoadStatus status = LoadStatus::kNotOpened;
  std::optional<std::string> message;  // the box to show, when there is one
};

// The automatic load from the opened file on: ImagePresent, ImageSize, the header, either form's
// derivation and the refusals. A file that cannot be opened leaves ImageSize 0 and no message;
// a refused one leaves ImageSize 0 and ImagePresent cleared. ImagePath is not changed.
LoadOutcome DeriveAutomaticLoad(ImageRecord& record, const ImageFileRead& read);

// The manual open's derivation of the chosen file, once it has been read. ImagePath is set by
// the caller. The caller sends the drive commands that come between its steps:
//   - kNotOpened: "File Not Opened!!", ImageSize 0, nothing else changes;
//   - otherwise the diagnostic probe, then for a fixed-header file a second probe, else the
//     re-identification of the selected drive; then a refusal is shown if there is one (ImageSize
//     is already 0), else the compatibility rules decide.
// A 65,536-byte trailer-form image keeps the previous block figures. ImagePresent is not touched.
LoadOutcome DeriveManualOpen(ImageRecord& record, const ImageFileRead& read);

// The file name without its folder, letters a to z in upper case (the Download File field).
std::string DisplayName(const std::string& path);
// "%s (%d K)": the Download File field.
std::string DownloadFileText(std::string_view name, std::int32_t imageSize);

// The name of a file in `folder` whose name equals `name` apart from letter case; an exact match
// wins. Nothing when the folder holds none.
std::optional<std::string> FindFixedName(const std::string& folder, std::string_view name);

// AUTORUN.BIN in `folder` (UTF-8; empty: the working directory) is found whatever the letter
// case of its name.
// The path AUTORUN.BIN is found under, in whatever letter case the folder holds it.
std::string AutorunPath(const std::string& folder = "");
// The start-up probe: true when AUTORUN.BIN can be opened for binary reading.
bool AutorunPresent(const std::string& folder = "");
// The reads of the automatic load.
ImageFileRead ReadAutorunImage(const std::string& folder = "");

// Which of the load-time rules refused an image (image_refusal.h names them).
enum class ImageRefusal {
  kNone,           // accepted
  kNotOpened,      // the file cannot be opened for reading
  kUnusableFile,   // no regular file, 2 GiB or more, or a read failed
  kNoHeader,       // too short to hold the identification header
  kSizeMismatch,   // the file size is not what the block figures add up to
  kBlockTooLarge,  // a block is larger than the command buffer
  kNoBlocks,       // no block, or a last block of 0 KB
  kNoBlockSize,    // several blocks but a block size of 0
  kNoWholeBlock,   // a fixed-header image without one whole 32 KB block
};

// What the tool derives from an image file when it loads it as AUTORUN.BIN (the automatic load),
// including every refusal the tool applies at load time.
struct ImageInspection {
  std::string form;        // "trailer", "trailer, header 64 KB earlier", or "fixed header"
  ImageRecord record;      // ImageSize, ImageIdent, ImageRevision, ImagePrefix, ImageType,
                           // BlockSizeKB, CommandCount, LastBlockKB, FixedHeaderImage, Image64K
  std::string layoutText;  // the "%ub %dKb %dCmd" figures, e.g. "32768b 32Kb 4Cmd"
  bool sizeCheckPassed = false;        // true also when no size check applies (64 KB, fixed header)
  std::optional<std::string> refusal;  // set when the tool would refuse the image: the message
  ImageRefusal rule = ImageRefusal::kNone;  // and the rule that refused it
};
ImageInspection InspectImageFile(const std::string& path);

}  // namespace veltran
