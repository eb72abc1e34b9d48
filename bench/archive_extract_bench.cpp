// Extraction throughput of the launcher's archive reader on a 16 MB deflated entry behind a
// launcher-sized executable image, against two baselines measured in the same run: a bare zlib
// inflate of the same deflated data in memory (the floor any extraction has), and Info-ZIP's
// unzip on the same package.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "archive.h"
#include "launcher/scratch.h"
#include "launcher/zip_builder.h"

namespace {

namespace fs = std::filesystem;
using veltran::testing::Bytes;

constexpr std::size_t kEntrySize = 16u << 20;

// Firmware-like data: runs of repeated words between stretches of noise, so that it deflates
// to roughly half its size rather than to nothing or not at all.
Bytes FirmwareLikeData() {
  Bytes data(kEntrySize);
  std::uint32_t x = 12345;
  for (std::size_t i = 0; i < data.size(); ++i) {
    x = x * 1103515245u + 12345u;
    const bool noise = ((i >> 9) & 3) == 0;
    data[i] =
        noise ? static_cast<unsigned char>(x >> 24) : static_cast<unsigned char>((i >> 2) & 0x3F);
  }
  return data;
}

struct Package {
  Package() {
    veltran::testing::WriteBytes(
        "package.exe", veltran::testing::Concat(
                           veltran::testing::FakeExecutableImage(126976),
                           veltran::testing::BuildZip({{"firmware.bin", FirmwareLikeData()}})));
  }
  veltran::testing::ScratchFolder folder;  // current directory while the benchmarks run
};

// The raw deflate stream the package carries for the entry.
const Bytes& DeflatedEntry() {
  static const Bytes deflated = veltran::testing::RawDeflate(FirmwareLikeData());
  return deflated;
}

void InflateInMemory(benchmark::State& state) {
  const Bytes& deflated = DeflatedEntry();
  Bytes out(kEntrySize);
  for (auto _ : state) {
    z_stream stream{};
    inflateInit2(&stream, -MAX_WBITS);
    stream.next_in = const_cast<unsigned char*>(deflated.data());
    stream.avail_in = static_cast<uInt>(deflated.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int rc = inflate(&stream, Z_FINISH);
    inflateEnd(&stream);
    if (rc != Z_STREAM_END || stream.total_out != kEntrySize) {
      state.SkipWithError("inflate failed");
      break;
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kEntrySize));
}
BENCHMARK(InflateInMemory)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void ArchiveExtractToFile(benchmark::State& state) {
  for (auto _ : state) {
    veltran::ArchiveHandle archive =
        veltran::ArchiveOpen("package.exe", 0, veltran::ArchiveSource::kFileName);
    std::string target = "extracted.bin";
    if (!archive ||
        veltran::ArchiveExtract(archive, 0, target.data(), 0, veltran::ArchiveSource::kFileName) !=
            veltran::kArchiveOk) {
      state.SkipWithError("extraction failed");
      break;
    }
    veltran::ArchiveClose(archive);
    fs::permissions(target, fs::perms::owner_write, fs::perm_options::add);
    fs::remove(target);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kEntrySize));
}
BENCHMARK(ArchiveExtractToFile)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void UnzipToFile(benchmark::State& state) {
  for (auto _ : state) {
    // Exit code 1 is unzip's warning about the executable image in front of the archive.
    const int status = std::system("unzip -p package.exe firmware.bin > unzipped.bin 2>/dev/null");
    if (!WIFEXITED(status) || WEXITSTATUS(status) > 1 ||
        fs::file_size("unzipped.bin") != kEntrySize) {
      state.SkipWithError("unzip failed");
      break;
    }
    fs::remove("unzipped.bin");
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kEntrySize));
}
BENCHMARK(UnzipToFile)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// Keeps each benchmark's time per iteration for the ratio printed at the end.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  RecordingReporter() : ConsoleReporter(OO_Tabular) {}  // plain text: read in logs
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (!run.error_occurred) times[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
  }
  std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Package scratch;
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto ours = reporter.times.find("ArchiveExtractToFile/min_time:2.000/real_time");
  const auto inflated = reporter.times.find("InflateInMemory/min_time:2.000/real_time");
  const auto theirs = reporter.times.find("UnzipToFile/min_time:2.000/real_time");
  if (ours == reporter.times.end() || inflated == reporter.times.end() ||
      theirs == reporter.times.end()) {
    std::printf("extraction ratios: not measured\n");
    return 1;
  }
  const double toInflate = ours->second / inflated->second;
  const double toUnzip = ours->second / theirs->second;
  std::printf(
      "extraction of a 16 MB deflated entry: ArchiveExtract %.1f ms, bare inflate in memory "
      "%.1f ms, ratio %.3f (target <= 1.1): %s\n",
      ours->second, inflated->second, toInflate, toInflate <= 1.1 ? "met" : "NOT met");
  std::printf(
      "extraction of a 16 MB deflated entry: ArchiveExtract %.1f ms, unzip -p %.1f ms, "
      "ratio %.3f (target <= 1.1): %s\n",
      ours->second, theirs->second, toUnzip, toUnzip <= 1.1 ? "met" : "NOT met");
  benchmark::Shutdown();
  return 0;
}
