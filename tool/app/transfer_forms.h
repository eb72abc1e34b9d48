// The image's blocks, sent on the window thread in the form the image asks for: blocks of the
// image's block size by VENDOR WRITE, the fixed-header form through diagnostic pages, or the one
// block of a 64 KB image. Each form leaves its last command for the download worker.
#pragma once

#include <array>
#include <fstream>
#include <optional>
#include <string>

#include "app/download_context.h"
#include "app/image_file.h"

namespace veltran {

// The image file, read strictly forward into the command buffer; a read that does not deliver
// every byte asked for fails.
class DownloadImageFile {
 public:
  // Only a regular file is opened: opening a FIFO put in the image's place would block.
  explicit DownloadImageFile(const std::string& path);

  bool opened() const { return stream_.is_open(); }
  // The size and header as they are now, the stream left at the start.
  ImageFileRead ReadAgain() { return ReadImageStream(stream_); }
  bool Read(u8* into, u32 length);
  bool Rewind() { return static_cast<bool>(stream_.seekg(0, std::ios::beg)); }

 private:
  std::ifstream stream_;
};

// The command that ends a download, sent once every block before it is in the drive. Its data
// are in the command buffer (the finishing page is put there when it is sent).
struct FinalCommand {
  enum class Kind { kVendorWrite, kFinishPage };
  Kind kind = Kind::kVendorWrite;
  std::array<u8, 12> vendorWrite{};  // the CDB of the last VENDOR WRITE
  u32 length = 0;                    // bytes sent from the command buffer
};

// The final command's request, with its data put into `buffer` where the form sends a fixed page.
// `final` must outlive the request, which points at its CDB.
CommandRequest FinalCommandRequest(const FinalCommand& final, CommandBuffer& buffer,
                                   u32 timeoutSeconds);

// The file must still be the one that was loaded (its size, and its header where it was), and
// every block must fit the command buffer.
bool ImageStillAsLoaded(DownloadImageFile& file, const ImageRecord& image);

// Sends every block but the last command; nothing when a read or a command failed. A 64 KB image
// takes its block size (60 KB) here.
std::optional<FinalCommand> SendBlocks(const DownloadContext& ctx, DownloadImageFile& file,
                                       u8 device);

}  // namespace veltran
