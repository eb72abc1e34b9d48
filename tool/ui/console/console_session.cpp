#include "console_session.h"

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>

#include "app/main_form.h"
#include "platform/platform.h"
#include "console_window.h"
#include "instance_lock.h"

namespace veltran {
namespace {

constexpr const char* kUsage =
    "usage: veltran [-NOCHECK] [-TEST] [-LIVE] [--virtual[=SCENARIO]] [--trace=FILE]\n"
    "Commands, one a line on standard input:\n"
    "  open PATH   open a firmware image (open without a path: the dialog was cancelled)\n"
    "  drive N     select the drive at list position N, from 0\n"
    "  info        the download file information (F9)\n"
    "  about       the About box\n"
    "  exit        close the tool\n";

std::optional<std::string> ReadLine(std::FILE* in) {
  std::string line;
  int c = 0;
  while ((c = std::fgetc(in)) != EOF && c != '\n') line += static_cast<char>(c);
  if (c == EOF && line.empty()) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string JoinCommandLine(const std::vector<std::string>& arguments) {
  std::string line;
  for (const std::string& a : arguments) line += (line.empty() ? "" : " ") + a;
  return line;
}

std::string InstanceScope(const PlatformOptions& options) {
  if (!options.scenario) return "machine";
  std::error_code ignored;
  return "virtual:" + std::filesystem::current_path(ignored).string();
}

class CommandLoop {
 public:
  CommandLoop(MainForm& form, ConsoleWindow& window, const ConsoleStreams& streams)
      : form_(form), window_(window), streams_(streams) {}

  void Run() {
    while (!window_.closed()) {
      const std::optional<std::string> line = ReadLine(streams_.in);
      if (!line) return;
      Execute(*line);
    }
  }

 private:
  void Execute(const std::string& line) {
    const std::size_t space = line.find(' ');
    const std::string command = line.substr(0, space);
    const std::string argument = space == std::string::npos ? "" : line.substr(space + 1);
    if (command.empty()) return;
    if (command == "open") {
      form_.ToolButton1Click(argument.empty() ? std::nullopt : std::optional(argument));
    } else if (command == "drive") {
      SelectDrive(argument);
    } else if (command == "info") {
      form_.FormKeyDown(kKeyF9);
    } else if (command == "about") {
      const AboutBoxText about;
      window_.ShowBox(about.title, std::string(about.version) + "\n" + std::string(about.caption) +
                                       "\n" + std::string(about.credits) + "\n" +
                                       std::string(about.date) + "\n" + std::string(about.maker));
    } else if (command == "exit") {
      window_.Close();
    } else {
      std::fprintf(streams_.err, "veltran: unknown command \"%s\"\n", command.c_str());
    }
  }

  void SelectDrive(const std::string& argument) {
    char* end = nullptr;
    errno = 0;
    const long position = std::strtol(argument.c_str(), &end, 10);
    const int count = form_.state().DriveCount;
    if (argument.empty() || *end != '\0' || errno != 0 || position < 0 || position >= count) {
      std::fprintf(streams_.err, "veltran: drive: no drive at list position \"%s\" (%d listed)\n",
                   argument.c_str(), count);
      return;
    }
    form_.ComboBox1Change(static_cast<int>(position));
  }

  MainForm& form_;
  ConsoleWindow& window_;
  const ConsoleStreams& streams_;
};

}  // namespace

int RunConsole(const std::vector<std::string>& arguments, const ConsoleStreams& streams) {
  PlatformOptions platformOptions;
  try {
    for (std::size_t i = 1; i < arguments.size(); ++i) {
      if (arguments[i] == "--help") {
        std::fputs(kUsage, streams.out);
        return 0;
      }
      ParsePlatformArgument(arguments[i], platformOptions);
    }
  } catch (const std::exception& e) {
    std::fprintf(streams.err, "veltran: %s\n%s", e.what(), kUsage);
    return 2;
  }

  const std::optional<InstanceLock> lock = InstanceLock::Acquire(InstanceScope(platformOptions));
  if (!lock) {
    std::fputs("veltran is already running.\n", streams.out);
    return 0;
  }

  std::unique_ptr<Platform> platform;
  try {
    platform = std::make_unique<Platform>(platformOptions);
  } catch (const std::exception& e) {
    std::fprintf(streams.err, "veltran: %s\n", e.what());
    return 2;
  }

  EventLoop loop(platform->system().clock());
  ConsoleWindow window(
      streams.out, [&streams] {
        if (streams.interactive) ReadLine(streams.in);
      },
      loop);
  MainForm form(platform->system(), platform->transport(), window,
                MainFormEnvironment{JoinCommandLine(arguments), ""});
  form.FormCreate();
  if (!window.closed()) form.FormShow();
  if (!window.closed() && window.timerEnabled(TimerId::kTimer3)) {
    platform->system().clock().SleepMs(1000);
    form.Timer3Timer();
  }
  CommandLoop(form, window, streams).Run();
  return 0;
}

}  // namespace veltran
