// Names are refused by what Windows would make of them, on every system, so that a package
// behaves the same wherever it is unpacked.
#include "entry_names.h"

#include "archive.h"
#include "common/ascii.h"
#include "os_files.h"

namespace veltran {
namespace {

bool IsDotsAndSpaces(std::string_view component) {
  return !component.empty() && component.find_first_not_of(". ") == std::string_view::npos &&
         component.find('.') != std::string_view::npos;
}

// Windows opens a device for these names, whatever follows a dot and whatever trailing spaces
// the stem has: "NUL.bin", "con .txt", "COM1".
bool IsDeviceName(std::string_view component) {
  std::string_view stem = component.substr(0, component.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (SameLettersIgnoringCase(stem, device)) return true;
  }
  // COM and LPT with a digit, or with a superscript one, two or three (Latin-1 or UTF-8).
  if (stem.size() < 4 || !(SameLettersIgnoringCase(stem.substr(0, 3), "COM") ||
                           SameLettersIgnoringCase(stem.substr(0, 3), "LPT"))) {
    return false;
  }
  const std::string_view number = stem.substr(3);
  if (number.size() == 1) {
    const auto c = static_cast<unsigned char>(number[0]);
    return (c >= '0' && c <= '9') || c == 0xB9 || c == 0xB2 || c == 0xB3;
  }
  return number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3";
}

// Windows drops trailing dots and spaces, so such a name would land under another one.
bool IsSafeComponent(std::string_view component) {
  if (IsDotsAndSpaces(component) || IsDeviceName(component)) return false;
  return component.empty() || (component.back() != '.' && component.back() != ' ');
}

}  // namespace

bool IsSafeEntryName(std::string_view name) {
  if (name.empty() || IsNameSeparator(name[0])) return false;
  if (name.find(':') != std::string_view::npos || name.find('\0') != std::string_view::npos) {
    return false;
  }
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = start;
    while (end < name.size() && !IsNameSeparator(name[end])) ++end;
    if (!IsSafeComponent(name.substr(start, end - start))) return false;
    start = end + 1;
  }
  return true;
}

std::string NativeSeparators(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    if (IsNameSeparator(c)) c = os::PathSeparator();
  }
  return out;
}

}  // namespace veltran
