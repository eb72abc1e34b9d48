#include "app/image_refusal.h"

namespace veltran {

std::string_view ImageRefusalName(ImageRefusal refusal) {
  switch (refusal) {
    case ImageRefusal::kNone:
      return "none";
    case ImageRefusal::kNotOpened:
      return "not-opened";
    case ImageRefusal::kUnusableFile:
      return "unusable-file";
    case ImageRefusal::kNoHeader:
      return "no-header";
    case ImageRefusal::kSizeMismatch:
      return "size-mismatch";
    case ImageRefusal::kBlockTooLarge:
      return "block-too-large";
    case ImageRefusal::kNoBlocks:
      return "no-blocks";
    case ImageRefusal::kNoBlockSize:
      return "no-block-size";
    case ImageRefusal::kNoWholeBlock:
      return "no-whole-block";
  }
  return "unknown";
}

ImageRefusal TrailerLayoutRefusal(ImageRecord& record) {
  if (!SizeCheckPasses(record)) return ImageRefusal::kSizeMismatch;
  if (record.BlockSizeKB > kLargestBlockKB || record.LastBlockKB > kLargestBlockKB) {
    return ImageRefusal::kBlockTooLarge;
  }
  // A last block of 0 KB would make the final command a first block without data.
  if (record.CommandCount < 1 || record.LastBlockKB == 0) return ImageRefusal::kNoBlocks;
  if (record.BlockSizeKB <= 0 && record.CommandCount > 1) return ImageRefusal::kNoBlockSize;
  return ImageRefusal::kNone;
}

ImageRefusal RefusalOf(const ImageFileRead& read, const ImageRecord& derived) {
  if (read.status == ImageReadStatus::kNotOpened) return ImageRefusal::kNotOpened;
  if (read.status == ImageReadStatus::kUnusable) return ImageRefusal::kUnusableFile;
  if (!read.header) return ImageRefusal::kNoHeader;
  if (derived.FixedHeaderImage) {
    return derived.CommandCount >= 1 ? ImageRefusal::kNone : ImageRefusal::kNoWholeBlock;
  }
  if (derived.Image64K) return ImageRefusal::kNone;
  ImageRecord record = derived;
  return TrailerLayoutRefusal(record);
}

}  // namespace veltran
