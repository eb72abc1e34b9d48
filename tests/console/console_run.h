// Runs the console program as a user runs it: arguments, commands on standard input, printed
// lines, the exit status; in the foreground or in the background with its process id at hand.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "support/temp_files.h"

namespace veltran {

struct Result {
  int exitCode;
  std::string out;
  std::string err;
};

class Console : public ::testing::Test {
 protected:
  Result Run(const std::string& arguments, const std::string& input) {
    { std::ofstream(folder_ / "input") << input; }
    const std::string command = "cd '" + folder_.string() + "' && '" VELTRAN_CONSOLE "' " +
                                arguments + " <input >out 2>err";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp("out"), Slurp("err")};
  }

  std::string Slurp(const std::string& name) const {
    std::ifstream in(folder_ / name);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  void Write(const std::string& name, const std::string& text) {
    std::ofstream(folder_ / name) << text;
  }

  void MakeImage(const std::string& name, const std::string& arguments = "") {
    const std::string command =
        "'" VELTRAN_MAKE_IMAGE "' " + arguments + " -o '" + (folder_ / name).string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }

  // Starts the tool in the background from a shell: `redirections` say where its standard
  // streams go; its pid lands in "pid" and its exit status in "rc" once it ends.
  void StartInBackground(const std::string& arguments, const std::string& redirections) {
    const std::string start = "cd '" + folder_.string() + "' && bash -c '(\"$0\" " + arguments +
                              " " + redirections +
                              " & echo $! >pid; wait $!; echo $? >rc) >/dev/null 2>&1 &' "
                              "'" VELTRAN_CONSOLE "'";
    ASSERT_EQ(std::system(start.c_str()), 0);
  }

  // Waits, boundedly, until `file` holds `text`; true when it does.
  bool WaitFor(const std::string& file, const std::string& text) {
    for (int i = 0; i < 3000 && Slurp(file).find(text) == std::string::npos; ++i) {
      std::system("sleep 0.01");
    }
    return Slurp(file).find(text) != std::string::npos;
  }

  // The exit status the background run left, once it has ended; empty after the bound.
  std::string ExitStatusOfBackgroundRun(int boundCentiseconds = 3000) {
    for (int i = 0; i < boundCentiseconds && Slurp("rc").empty(); ++i) std::system("sleep 0.01");
    return Slurp("rc");
  }

  testing::TempFolder temp_;
  const std::filesystem::path& folder_ = temp_.path();
};

// A scenario of one drive, "e", that takes the test images; `drive` adds to its entry and
// `scenario` to the scenario's own fields.
inline std::string OneDrive(const std::string& drive, const std::string& scenario = "") {
  return "{" + scenario +
         R"("drives": [{"letter": "e", "inquiry": {"peripheral": 5, "vendor": "BRELMONT",
    "product": "CDW/DVD GA-W837C", "revision": "NA00", "prefix": "NA "},
    "vendor_identify_prefix": "KVR", "program_seconds": 2)" +
         drive + "}]}";
}

// The drive holds the final command for a real second: time enough to disturb the tool then.
inline const std::string kHeldFinalCommand = OneDrive(R"(, "hold_real_seconds": 1)");

}  // namespace veltran
