#include "drive/sense.h"

namespace veltran {
namespace {

constexpr u8 kResponseCodeMask = 0x7F;  // bit 7 is VALID (the information field)
constexpr u8 kKeyMask = 0x0F;

struct Layout {
  std::size_t key, asc, ascq;
};
constexpr Layout kFixed{2, 12, 13};
constexpr Layout kDescriptor{1, 2, 3};

u8 ByteAt(std::span<const u8> sense, std::size_t offset) {
  return offset < sense.size() ? sense[offset] : u8{0};
}

}  // namespace

SenseCode ReadSense(std::span<const u8> sense) {
  Layout layout{};
  switch (ByteAt(sense, 0) & kResponseCodeMask) {
    case 0x70:
    case 0x71:
      layout = kFixed;
      break;
    case 0x72:
    case 0x73:
      layout = kDescriptor;
      break;
    default:
      return {};
  }
  return {static_cast<u8>(ByteAt(sense, layout.key) & kKeyMask), ByteAt(sense, layout.asc),
          ByteAt(sense, layout.ascq)};
}

void ReturnSense(std::span<const u8> sense, const CommandRequest& request) {
  if (request.data == nullptr) return;
  const SenseCode code = ReadSense(sense);
  request.data[kFixed.key] = code.key;
  request.data[kFixed.asc] = code.asc;
  request.data[kFixed.ascq] = code.ascq;
}

}  // namespace veltran
