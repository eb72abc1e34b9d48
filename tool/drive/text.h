// Bytes from drives and images shown as text: anything that is not printable ASCII (NUL
// included) and the backslash become \xNN, so nothing a drive sends can cut or garble a line.
#pragma once

#include <string>
#include <string_view>

namespace veltran {

std::string EscapeBytes(std::string_view bytes);
// The same, with the line breaks of a box's text kept.
std::string EscapeKeepingLineBreaks(std::string_view text);

}  // namespace veltran
