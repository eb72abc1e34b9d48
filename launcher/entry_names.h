// Entry names as the archive holds them, and as the files they become. The rules that refuse a
// name are IsSafeEntryName's (archive.h).
#pragma once

#include <string>
#include <string_view>

namespace veltran {

// Archives written on either system separate folders with either slash.
constexpr bool IsNameSeparator(char c) { return c == '/' || c == '\\'; }

// The name with each separator turned into the running system's.
std::string NativeSeparators(std::string_view name);

}  // namespace veltran
