#include "pack_command.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>

#include "app/image_file.h"
#include "archive.h"
#include "image_report_json.h"
#include "launcher.h"
#include "package_writer.h"

namespace veltran::pack {
namespace {

namespace fs = std::filesystem;

constexpr const char* kUsage =
    "usage: veltran-pack build --launcher LAUNCHER --image IMAGE --tool TOOL -o PACKAGE [--force]\n"
    "       veltran-pack inspect [--json] IMAGE\n"
    "       veltran-pack --help\n"
    "\n"
    "build    writes LAUNCHER followed by a zip archive holding IMAGE and TOOL (deflated, named\n"
    "         by their file names, image first). An image the flash tool would refuse when it\n"
    "         loads it as AUTORUN.BIN is not packed unless --force is given. A Windows\n"
    "         launcher is packed only with a Windows tool built for the same machine.\n"
    "inspect  prints what the flash tool derives from IMAGE; with --json as one JSON document.\n"
    "\n"
    "exit codes: 0 done, 1 the flash tool would refuse the image, 2 usage error,\n"
    "            3 a file could not be read or written\n";

// The longest entry name the launcher's archive reader accepts.
constexpr std::size_t kLongestEntryName = 259;

struct BuildOptions {
  std::string launcher, image, tool, output;
  bool force = false;
};

std::optional<Bytes> ReadWholeFile(const std::string& path) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return data;
}

// Writes beside the target first, so a failed write never leaves a partial package. The package
// runs as the launcher does, so it takes the launcher's permissions.
bool WritePackage(const std::string& path, const Bytes& head, const Bytes& tail,
                  fs::perms permissions) {
  std::random_device random;
  const fs::path temporary = fs::path(path).concat(".part-" + std::to_string(random()));
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(head.data()),
              static_cast<std::streamsize>(head.size()));
    out.write(reinterpret_cast<const char*>(tail.data()),
              static_cast<std::streamsize>(tail.size()));
    out.close();
    if (!out) {
      std::error_code ignored;
      fs::remove(temporary, ignored);
      return false;
    }
  }
  std::error_code error;
  fs::permissions(temporary, permissions, error);
  if (!error) fs::rename(temporary, path, error);
  if (!error) return true;
  std::error_code ignored;
  fs::remove(temporary, ignored);
  return false;
}

std::string Printable(std::string_view text) {
  std::string out;
  for (const char character : text) {
    const auto c = static_cast<unsigned char>(character);
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      out += escaped;
    }
  }
  return "\"" + out + "\"";
}

std::string OneLine(const std::string& message) {
  std::string out = message;
  for (char& c : out) {
    if (c == '\n') c = ' ';
  }
  return out;
}

std::string SizeCheckText(const ImageInspection& inspection) {
  if (inspection.record.FixedHeaderImage) return "not applied (fixed header)";
  if (inspection.record.Image64K) return "not applied (64 KB image)";
  return inspection.sizeCheckPassed ? "passed" : "failed";
}

std::string Describe(const std::string& path, const ImageInspection& inspection) {
  const ImageRecord& r = inspection.record;
  std::string text;
  const auto line = [&text](const char* label, const std::string& value) {
    text += label;
    text += value;
    text += '\n';
  };
  line("image:          ", path);
  line("form:           ", inspection.form);
  line("size:           ", std::to_string(r.ImageSize) + " bytes");
  line("identification: ", Printable(r.ImageIdent.view()));
  line("revision:       ", Printable(r.ImageRevision.view()));
  line("prefix:         ", Printable(r.ImagePrefix.view()));
  line("type:           ", std::to_string(r.ImageType));
  line("block size:     ", std::to_string(r.BlockSizeKB) + " KB");
  line("blocks:         ", std::to_string(r.CommandCount));
  line("last block:     ", std::to_string(r.LastBlockKB) + " KB");
  line("layout:         ", inspection.layoutText);
  line("size check:     ", SizeCheckText(inspection));
  line("result:         ",
       inspection.refusal ? "refused: " + OneLine(*inspection.refusal) : std::string("accepted"));
  return text;
}

int Inspect(const std::vector<std::string>& args, CommandOutput& output) {
  bool asJson = false;
  std::vector<std::string> files;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--json") {
      asJson = true;
    } else {
      files.push_back(args[i]);
    }
  }
  if (files.size() != 1) {
    output.err += "veltran-pack inspect: expected one image file\n";
    return kExitUsage;
  }
  const std::string& path = files[0];
  std::error_code error;
  if (!fs::is_regular_file(path, error)) {
    output.err += "veltran-pack: cannot read image '" + path + "'\n";
    return kExitFileError;
  }
  const ImageInspection inspection = InspectImageFile(path);
  output.out += asJson ? InspectionJson(path, inspection) : Describe(path, inspection);
  return inspection.refusal ? kExitRefused : kExitOk;
}

std::optional<BuildOptions> ParseBuild(const std::vector<std::string>& args,
                                       CommandOutput& output) {
  BuildOptions options;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::string* value = nullptr;
    if (arg == "--launcher") value = &options.launcher;
    if (arg == "--image") value = &options.image;
    if (arg == "--tool") value = &options.tool;
    if (arg == "-o" || arg == "--output") value = &options.output;
    if (arg == "--force") {
      options.force = true;
      continue;
    }
    if (!value) {
      output.err += "veltran-pack build: unknown argument '" + arg + "'\n";
      return std::nullopt;
    }
    if (i + 1 >= args.size()) {
      output.err += "veltran-pack build: " + arg + " needs a file name\n";
      return std::nullopt;
    }
    *value = args[++i];
  }
  if (options.launcher.empty() || options.image.empty() || options.tool.empty() ||
      options.output.empty()) {
    output.err += "veltran-pack build: --launcher, --image, --tool and -o are all required\n";
    return std::nullopt;
  }
  return options;
}

// The names the launcher sees decide what it installs: the image's must end in ".bin", the
// tool's must not, and both must fit its name buffer.
std::optional<std::string> CheckEntryNames(const std::string& image, const std::string& tool) {
  if (!IsImageEntryName(image)) {
    return "the image's file name must end in .bin, or the launcher would install it as the tool";
  }
  if (IsImageEntryName(tool)) {
    return "the tool's file name must not end in bin, or the launcher would install it as the "
           "image";
  }
  if (image.size() > kLongestEntryName || tool.size() > kLongestEntryName) {
    return "file names longer than 259 characters cannot be packed";
  }
  if (!IsSafeEntryName(image) || !IsSafeEntryName(tool)) {
    return "the launcher refuses file names that name a device (CON, NUL, COM1, ...) or end in "
           "a dot or a space";
  }
  if (image == tool) return "the image and the tool have the same file name";
  return std::nullopt;
}

// The machine field of a PE executable's file header; none for anything else.
std::optional<std::uint16_t> PeMachine(const Bytes& file) {
  const auto at = [&file](std::size_t offset, std::size_t size) {
    std::uint32_t value = 0;
    for (std::size_t i = size; i-- > 0;) value = (value << 8) | file[offset + i];
    return value;
  };
  if (file.size() < 0x40 || file[0] != 'M' || file[1] != 'Z') return std::nullopt;
  const std::size_t header = at(0x3C, 4);
  if (header > file.size() - 6 || at(header, 4) != 0x00004550) return std::nullopt;  // "PE\0\0"
  return static_cast<std::uint16_t>(at(header + 4, 2));
}

// A Windows launcher installs into the system directory of its own bitness and opens the tool
// there; a tool of the other bitness would look in the other one and find no image.
std::optional<std::string> CheckMachines(const Bytes& launcher, const Bytes& tool) {
  const auto launcherMachine = PeMachine(launcher);
  if (!launcherMachine) return std::nullopt;
  const auto toolMachine = PeMachine(tool);
  if (!toolMachine) return "the launcher is a Windows program and the tool is not";
  if (*toolMachine != *launcherMachine) {
    char text[120];
    std::snprintf(text, sizeof text,
                  "the launcher (machine 0x%04x) and the tool (machine 0x%04x) are built for "
                  "different machines",
                  *launcherMachine, *toolMachine);
    return std::string(text);
  }
  return std::nullopt;
}

int Build(const std::vector<std::string>& args, CommandOutput& output) {
  const std::optional<BuildOptions> options = ParseBuild(args, output);
  if (!options) return kExitUsage;
  const std::string imageName = fs::path(options->image).filename().string();
  const std::string toolName = fs::path(options->tool).filename().string();
  if (const auto problem = CheckEntryNames(imageName, toolName)) {
    output.err += "veltran-pack build: " + *problem + "\n";
    return kExitUsage;
  }

  const auto launcher = ReadWholeFile(options->launcher);
  const auto image = ReadWholeFile(options->image);
  const auto tool = ReadWholeFile(options->tool);
  for (const auto& [data, path] :
       {std::pair{&launcher, &options->launcher}, std::pair{&image, &options->image},
        std::pair{&tool, &options->tool}}) {
    if (!*data) {
      output.err += "veltran-pack: cannot read '" + *path + "'\n";
      return kExitFileError;
    }
  }
  if (const auto problem = CheckMachines(*launcher, *tool)) {
    output.err += "veltran-pack build: " + *problem + "\n";
    return kExitUsage;
  }
  if ((*image).size() > 0xFFFFFFFFu || (*tool).size() > 0xFFFFFFFFu) {
    output.err += "veltran-pack build: files of 4 GB or more cannot be packed\n";
    return kExitUsage;
  }

  const ImageInspection inspection = InspectImageFile(options->image);
  if (inspection.refusal) {
    output.err += "veltran-pack build: the flash tool would refuse " + options->image + ": " +
                  OneLine(*inspection.refusal) + "\n";
    if (!options->force) return kExitRefused;
    output.err += "veltran-pack build: packing it anyway (--force)\n";
  }

  const Bytes archive = BuildArchive({{imageName, *image, DosDateTimeOf(options->image)},
                                      {toolName, *tool, DosDateTimeOf(options->tool)}});
  if (archive.empty()) {
    output.err += "veltran-pack build: the archive could not be assembled\n";
    return kExitFileError;
  }
  std::error_code ignored;
  const fs::perms permissions = fs::status(options->launcher, ignored).permissions() |
                                fs::perms::owner_read | fs::perms::owner_write;
  if (!WritePackage(options->output, *launcher, archive, permissions)) {
    output.err += "veltran-pack: cannot write '" + options->output + "'\n";
    return kExitFileError;
  }
  output.out += "wrote " + options->output + ": launcher " + std::to_string(launcher->size()) +
                " bytes, archive " + std::to_string(archive.size()) + " bytes (" + imageName +
                ", " + toolName + ")\n";
  return kExitOk;
}

}  // namespace

int RunPackCommand(const std::vector<std::string>& args, CommandOutput& output) {
  if (args.empty()) {
    output.err += kUsage;
    return kExitUsage;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    output.out += kUsage;
    return kExitOk;
  }
  if (args[0] == "build") return Build(args, output);
  if (args[0] == "inspect") return Inspect(args, output);
  output.err += "veltran-pack: unknown command '" + args[0] + "'\n\n";
  output.err += kUsage;
  return kExitUsage;
}

}  // namespace veltran::pack
