// Stands in for the flash tool in package runs: records that it ran, from which directory, and
// whether the image lay beside it.
#include <cstdio>
#include <filesystem>

int main() {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path here = fs::current_path(error);
  bool image = false;
  for (const auto& item : fs::directory_iterator(here, error)) {
    std::string name = item.path().filename().string();
    for (char& c : name) c = static_cast<char>((c >= 'a' && c <= 'z') ? c - 32 : c);
    if (name == "AUTORUN.BIN") image = true;
  }
  std::FILE* record = std::fopen("unfurler-tool-ran.txt", "w");
  if (!record) return 1;
  std::fprintf(record, "ran\ncwd=%s\nimage=%s\n", here.string().c_str(), image ? "yes" : "no");
  std::fclose(record);
  return 0;
}
