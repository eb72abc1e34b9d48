// veltran.exe's entry point: the single-instance rule, the options, then the main window until it
// closes.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "veltranmain.h"
#include "wide_text.h"

namespace veltran::win32 {
namespace {

// Set, the tool runs on a virtual machine as --virtual=SCENARIO would make it (empty: the
// built-in one) unless an argument chose already; for a tool that a package starts without
// arguments.
constexpr wchar_t kVirtualVariable[] = L"VELTRAN_VIRTUAL";

constexpr wchar_t kUsage[] =
    L"usage: veltran.exe [-NOCHECK] [-TEST] [-LIVE] [--virtual[=SCENARIO]] [--trace=FILE]";

std::vector<std::string> Arguments() {
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) out.push_back(Utf8FromWide(argv[i]));
  LocalFree(argv);
  return out;
}

// The program may run with an administrator's rights and the user's environment: a scenario is
// taken only from the program's own folder.
std::optional<std::string> VirtualFromEnvironment() {
  const DWORD length = GetEnvironmentVariableW(kVirtualVariable, nullptr, 0);
  if (length == 0) return std::nullopt;
  std::wstring value(length, L'\0');
  value.resize(GetEnvironmentVariableW(kVirtualVariable, value.data(), length));
  std::wstring program(MAX_PATH, L'\0');
  program.resize(GetModuleFileNameW(nullptr, program.data(), MAX_PATH));
  const std::filesystem::path folder = std::filesystem::path(program).parent_path();
  return ScenarioFromEnvironment(std::filesystem::path(value).string(), folder);
}

void ShowStartError(const std::string& text) {
  const std::wstring message = WideFromUtf8("veltran: " + text, true) + L"\n\n" + kUsage;
  MessageBoxW(nullptr, message.c_str(), L"Veltran", MB_OK | MB_ICONERROR);
}

// A running instance whose main window carries its caption: bring it forward.
bool ForwardToRunningInstance() {
  const HWND running = FindWindowW(kMainClass, kMainTitle);
  if (running == nullptr) return false;
  if (IsIconic(running)) ShowWindow(running, SW_RESTORE);
  SetForegroundWindow(running);
  return true;
}

int Run(HINSTANCE instance) {
  if (ForwardToRunningInstance()) return 0;

  const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                      ICC_PROGRESS_CLASS | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  PlatformOptions options;
  try {
    const std::vector<std::string> arguments = Arguments();
    for (std::size_t i = 1; i < arguments.size(); ++i) ParsePlatformArgument(arguments[i], options);
  } catch (const std::exception& e) {
    ShowStartError(e.what());
    return 2;
  }
  if (!options.scenario) options.scenario = VirtualFromEnvironment();

  std::unique_ptr<Platform> platform;
  try {
    platform = std::make_unique<Platform>(options);
  } catch (const std::exception& e) {
    ShowStartError(e.what());
    return 2;
  }
  TMainForm form(instance, *platform, Utf8FromWide(GetCommandLineW()));
  form.Run();
  return 0;
}

}  // namespace
}  // namespace veltran::win32

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  try {
    return veltran::win32::Run(instance);
  } catch (const std::exception& e) {
    // The application's standard exception box; the program still ends normally.
    const std::wstring text = veltran::win32::WideFromUtf8(e.what(), true);
    MessageBoxW(nullptr, text.c_str(), L"Veltran", MB_OK | MB_ICONERROR);
    return 0;
  }
}
