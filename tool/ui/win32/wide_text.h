// UTF-8 inside the core, UTF-16 at every Windows call.
#pragma once

#include <string>
#include <string_view>

namespace veltran::win32 {

// Valid UTF-8 is decoded; a byte that is not part of a valid sequence stands for the character of
// the same number (drive identification bytes are single-byte text), control characters become
// U+FFFD so that a NUL cannot cut a field short; line breaks stay where `keepLineBreaks`.
std::wstring WideFromUtf8(std::string_view text, bool keepLineBreaks = false);
// Unpaired surrogates become U+FFFD.
std::string Utf8FromWide(std::wstring_view text);

}  // namespace veltran::win32
