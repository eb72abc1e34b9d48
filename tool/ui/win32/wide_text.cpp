#include "wide_text.h"

#include <cstdint>

namespace veltran::win32 {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Length of the valid UTF-8 sequence at `text[i]` and its code point; 0 when there is none.
std::size_t DecodeSequence(std::string_view text, std::size_t i, char32_t& out) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length = 0;
  char32_t value = 0;
  if (lead < 0x80) {
    out = lead;
    return 1;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07u;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0u) != 0x80u) return 0;
    value = (value << 6) | (byte(i + k) & 0x3Fu);
  }
  const bool overlong = (length == 3 && value < 0x800) || (length == 4 && value < 0x10000);
  if (overlong || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  out = value;
  return length;
}

void AppendUtf16(std::wstring& out, char32_t c) {
  if (c < 0x10000) {
    out += static_cast<wchar_t>(c);
    return;
  }
  c -= 0x10000;
  out += static_cast<wchar_t>(0xD800 + (c >> 10));
  out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
}

void AppendUtf8(std::string& out, char32_t c) {
  const auto put = [&out](char32_t v) { out += static_cast<char>(v); };
  if (c < 0x80) {
    put(c);
  } else if (c < 0x800) {
    put(0xC0 | (c >> 6));
    put(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    put(0xE0 | (c >> 12));
    put(0x80 | ((c >> 6) & 0x3F));
    put(0x80 | (c & 0x3F));
  } else {
    put(0xF0 | (c >> 18));
    put(0x80 | ((c >> 12) & 0x3F));
    put(0x80 | ((c >> 6) & 0x3F));
    put(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::wstring WideFromUtf8(std::string_view text, bool keepLineBreaks) {
  std::wstring out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = 0;
    std::size_t length = DecodeSequence(text, i, c);
    if (length == 0) {
      c = static_cast<unsigned char>(text[i]);
      length = 1;
    }
    if ((c < 0x20 && !(c == '\n' && keepLineBreaks)) || c == 0x7F) c = kReplacement;
    AppendUtf16(out, c);
    i += length;
  }
  return out;
}

std::string Utf8FromWide(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = static_cast<char16_t>(text[i]);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() &&
        static_cast<char16_t>(text[i + 1]) >= 0xDC00 &&
        static_cast<char16_t>(text[i + 1]) <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char16_t>(text[i + 1]) - 0xDC00u);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;
    }
    AppendUtf8(out, c);
  }
  return out;
}

}  // namespace veltran::win32
