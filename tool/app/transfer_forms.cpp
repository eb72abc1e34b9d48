#include "app/transfer_forms.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <system_error>

namespace veltran {
namespace {

constexpr u32 k64KSkippedBytes = 4096;
constexpr u32 k64KBlockBytes = 61440;
constexpr std::int32_t k64KBlockSizeKB = 60;
constexpr u32 kKB = 1024;

std::array<u8, 12> VendorWriteCdb() {
  const CommandSpec& write = Catalogue(Command::kVendorWrite);
  std::array<u8, 12> cdb{};
  std::copy(write.cdb.begin(), write.cdb.end(), cdb.begin());
  return cdb;
}

u8 SendPage(const DownloadContext& ctx, u8 device, const std::array<u8, kDiagPageSize>& page) {
  std::copy(page.begin(), page.end(), ctx.buffer.begin());
  return ctx.Send(device, Command::kSendDiagnostic);
}

std::optional<FinalCommand> BlockForm(const DownloadContext& ctx, DownloadImageFile& file,
                                      u8 device) {
  const ImageRecord& image = ctx.state.image;
  const u32 blockBytes = static_cast<u32>(image.BlockSizeKB) * kKB;
  FinalCommand final{FinalCommand::Kind::kVendorWrite, VendorWriteCdb(), 0};
  const u8 cdbLength = Catalogue(Command::kVendorWrite).cdbLength;
  final.vendorWrite[kVendorWriteFormCode] = 0x00;
  for (std::int32_t j = 0; j + 1 < image.CommandCount; ++j) {
    if (!file.Read(ctx.buffer.data(), blockBytes)) return std::nullopt;
    if (j == 0) ctx.Log("P6");
    final.vendorWrite[kVendorWriteBlockCode] = j == 0 ? kBlockCodeFirst : kBlockCodeMiddle;
    if (ctx.transport.ExecuteCommand(
            device, CommandRequest{final.vendorWrite.data(), cdbLength, ctx.buffer.data(),
                                   blockBytes, kDataOut}) != kStatusGood) {
      return std::nullopt;
    }
  }
  final.length = u32{image.LastBlockKB} * kKB;
  if (!file.Read(ctx.buffer.data(), final.length)) return std::nullopt;
  final.vendorWrite[kVendorWriteBlockCode] = image.LastBlockKB;
  ctx.Log("P7");
  return final;
}

std::optional<FinalCommand> FixedHeaderForm(const DownloadContext& ctx, DownloadImageFile& file,
                                            u8 device) {
  const ImageRecord& image = ctx.state.image;
  if (!file.Rewind()) return std::nullopt;
  SendPage(ctx, device, kDiagOpen);
  ctx.Send(device, Command::kReceiveDiagnosticResults);
  const bool prepared = SendPage(ctx, device, kDiagPrepare) == kStatusGood;
  if (image.CommandCount == 0 && !prepared) return std::nullopt;
  const CommandSpec& block = Catalogue(Command::kSendDiagnosticBlock);
  const u32 length = kDiagPageSize + kDiagBlockDataSize;
  for (std::int32_t j = 0; j < image.CommandCount; ++j) {
    std::copy(kDiagBlock.begin(), kDiagBlock.end(), ctx.buffer.begin());
    if (!file.Read(ctx.buffer.data() + kDiagPageSize, kDiagBlockDataSize)) return std::nullopt;
    ctx.buffer[kDiagBlockNumberByte] = static_cast<u8>((j + 1) & 0xFF);
    if (ctx.transport.ExecuteCommand(device, CommandRequest{block.cdb.data(), block.cdbLength,
                                                            ctx.buffer.data(), length, kDataOut}) !=
        kStatusGood) {
      return std::nullopt;
    }
  }
  return FinalCommand{FinalCommand::Kind::kFinishPage, {}, kDiagPageSize};
}

std::optional<FinalCommand> Form64K(const DownloadContext& ctx, DownloadImageFile& file) {
  ctx.state.image.BlockSizeKB = k64KBlockSizeKB;
  if (!file.Read(ctx.buffer.data(), k64KSkippedBytes)) return std::nullopt;
  if (!file.Read(ctx.buffer.data(), k64KBlockBytes)) return std::nullopt;
  FinalCommand final{FinalCommand::Kind::kVendorWrite, VendorWriteCdb(), k64KBlockBytes};
  final.vendorWrite[kVendorWriteBlockCode] = kBlockCode64K;
  final.vendorWrite[kVendorWriteFormCode] = kFormCode64K;
  // The buffer holds 61,440 bytes, as CDB byte 9 (240 units of 256 bytes) says: all are sent.
  return final;
}

std::optional<std::array<std::uint8_t, kImageHeaderSize>> HeaderBytes(
    const std::optional<ImageHeader>& header) {
  return header ? std::optional(header->bytes) : std::nullopt;
}

}  // namespace

DownloadImageFile::DownloadImageFile(const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_regular_file(PathFromUtf8(path), error)) {
    stream_.open(PathFromUtf8(path), std::ios::binary);
  }
}

bool DownloadImageFile::Read(u8* into, u32 length) {
  stream_.read(reinterpret_cast<char*>(into), static_cast<std::streamsize>(length));
  return stream_.gcount() == static_cast<std::streamsize>(length);
}

bool ImageStillAsLoaded(DownloadImageFile& file, const ImageRecord& image) {
  const ImageFileRead now = file.ReadAgain();
  if (now.status != ImageReadStatus::kRead || now.size != image.loadedFileSize ||
      now.place != image.loadedPlace ||
      HeaderBytes(now.header) != HeaderBytes(image.loadedHeader)) {
    return false;
  }
  if (image.Image64K) return image.loadedFileSize == kImage64KSize;
  if (image.BlockSizeKB < 0 || image.BlockSizeKB > kLargestBlockKB ||
      image.LastBlockKB > kLargestBlockKB) {
    return false;
  }
  if (image.FixedHeaderImage) {
    return std::int64_t{image.CommandCount} * kFixedBlockKB * kKB <= image.loadedFileSize;
  }
  const std::int64_t layout = std::int64_t{image.BlockSizeKB} * kKB * (image.CommandCount - 1) +
                              std::int64_t{image.LastBlockKB} * kKB;
  return image.CommandCount >= 1 && image.LastBlockKB > 0 && layout == image.ImageSize;
}

CommandRequest FinalCommandRequest(const FinalCommand& final, CommandBuffer& buffer,
                                   u32 timeoutSeconds) {
  CommandRequest request;
  request.data = buffer.data();
  request.dataLength = final.length;
  request.direction = kDataOut;
  request.timeoutSeconds = timeoutSeconds;
  if (final.kind == FinalCommand::Kind::kFinishPage) {
    std::copy(kDiagFinish.begin(), kDiagFinish.end(), buffer.begin());
    const CommandSpec& diag = Catalogue(Command::kSendDiagnostic);
    request.cdb = diag.cdb.data();
    request.cdbLength = diag.cdbLength;
  } else {
    request.cdb = final.vendorWrite.data();
    request.cdbLength = static_cast<u8>(final.vendorWrite.size());
  }
  return request;
}

std::optional<FinalCommand> SendBlocks(const DownloadContext& ctx, DownloadImageFile& file,
                                       u8 device) {
  const ImageRecord& image = ctx.state.image;
  if (image.Image64K) return Form64K(ctx, file);
  if (image.FixedHeaderImage) return FixedHeaderForm(ctx, file, device);
  return BlockForm(ctx, file, device);
}

}  // namespace veltran
