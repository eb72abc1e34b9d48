#include "drive/text.h"

#include <algorithm>

namespace veltran {

std::string EscapeBytes(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      out += c;
    } else {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    }
  }
  return out;
}

std::string EscapeKeepingLineBreaks(std::string_view text) {
  std::string shown;
  for (std::size_t start = 0; start <= text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    shown += EscapeBytes(text.substr(start, end - start));
    if (end < text.size()) shown += '\n';
    start = end + 1;
  }
  return shown;
}

}  // namespace veltran
