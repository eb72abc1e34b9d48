// The identity of the drive identified last, and the routines that fill it.
#pragma once

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <string_view>

#include "common/ascii.h"
#include "drive/catalogue.h"
#include "drive/transport.h"
#include "system/clock.h"

namespace veltran {

// Fixed-width text: N characters, space padded as the drive sends them, then a terminating zero.
// Compared bytewise over the full width.
template <std::size_t N>
struct FixedText {
  std::array<char, N + 1> chars{};

  static constexpr std::size_t width = N;
  std::string_view view() const { return {chars.data(), N}; }
  bool operator==(std::string_view other) const { return view() == other; }
  bool operator==(const FixedText& other) const { return view() == other.view(); }
  // Copies N bytes as they are.
  void Assign(const void* bytes) {
    std::memcpy(chars.data(), bytes, N);
    chars[N] = 0;
  }
  // Copies a text of N characters; a shorter one is padded with spaces, a longer one cut.
  void Assign(std::string_view text) {
    chars.fill(' ');
    std::memcpy(chars.data(), text.data(), std::min(N, text.size()));
    chars[N] = 0;
  }
  void Clear() { chars.fill(0); }
  void ToUpper() {
    for (std::size_t i = 0; i < N; ++i) chars[i] = AsciiUpper(chars[i]);
  }
};

struct DriveIdentity {
  FixedText<24> DriveIdent;
  FixedText<4> DriveRevision;
  FixedText<3> DrivePrefix;
  bool DrivePrefixReported = false;
  bool BootModeDrive = false;
  bool ComVariantDrive = false;
};

// The one data buffer of every drive command after the scan.
using CommandBuffer = std::array<u8, kCommandBufferSize>;

// What the identification routines work on.
struct DriveContext {
  DriveTransport& transport;
  Clock& clock;
  CommandBuffer& buffer;
  DriveIdentity& identity;

  // Sends a catalogue command for the command buffer, with the catalogue's data length.
  u8 Send(u8 device, Command command);
};

// The drive list's text for a drive: identification and revision as INQUIRY data gives them.
std::string DriveListEntry(const CommandBuffer& buffer);
// The identification and revision where INQUIRY data puts them.
void TakeInquiryIdentity(const CommandBuffer& buffer, DriveIdentity& identity);
void IdentifyDrive(DriveContext& ctx, u8 device);
bool ApplyRevisionPrefixRule(DriveContext& ctx, u8 device);
// The OEM drive that is the BRELMONT drive of the same model takes that drive's identity.
void ApplyIdentitySubstitution(DriveIdentity& identity);
void ProbeDiagnosticPage(DriveContext& ctx, u8 device);

// A change of the selected drive, in two halves around the box that names the new drive: first
// the list entry's text gives the identity shown; then the boot-mode rule, a full identification
// and the COM-variant rule.
void TakeListEntryIdentity(DriveIdentity& identity, std::string_view listEntry);
void IdentifySelectedDrive(DriveContext& ctx, u8 device);

// True when the revision is one a drive reports while it runs its boot code.
bool IsBootModeRevision(std::string_view revision);
// True when INQUIRY bytes 8 to 38 in the buffer name the COM variant of the PT-771B drive.
bool IsComVariantInquiry(const CommandBuffer& buffer);

}  // namespace veltran
