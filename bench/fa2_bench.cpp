// Sizes and speeds of the FA2 compressor and decoder next to zlib, measured
// in one run on one file (times on shared machines are only comparable as
// ratios taken together).
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "package/compress.h"
#include "package/decompress.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

bool ReadFile(const char* path, Bytes* data) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  uint8_t buffer[1 << 16];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) data->insert(data->end(), buffer, buffer + n);
  std::fclose(f);
  return true;
}

// Best of a few runs of fn, in seconds.
template <typename Fn>
double BestOf(int runs, Fn fn) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    auto t0 = Clock::now();
    fn();
    best = std::min(best, Seconds(t0, Clock::now()));
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : "/usr/share/games/doom/freedoom2.wad";
  Bytes data;
  if (!ReadFile(path, &data) || data.empty()) {
    std::fprintf(stderr, "fa2_bench: %s: cannot read\n", path);
    return 1;
  }
  const double mb = data.size() / 1e6;
  std::printf("file: %s, %zu bytes\n\n", path, data.size());
  std::printf("%-28s %12s %8s %9s %9s\n", "compressor", "bytes", "ratio", "seconds", "MB/s");

  Bytes defaultStream, greedyStream;
  size_t greedySize = 0, defaultSize = 0;
  for (int level : {1, 2, kCompressDefaultLevel, 9}) {
    Bytes stream;
    auto t0 = Clock::now();
    CompressStream(data.data(), data.size(), level, &stream);
    double s = Seconds(t0, Clock::now());
    Bytes check(data.size());
    DecodeCounts c{};
    if (DecompressStream(check.data(), check.size(), stream.data(), stream.size(), &c) != DecodeOk ||
        c.written != data.size() || c.consumed != stream.size() || check != data) {
      std::fprintf(stderr, "fa2_bench: level %d does not round-trip\n", level);
      return 1;
    }
    const char* what = level == 2 ? "fa2 level 2 (greedy, 32)"
                       : level == kCompressDefaultLevel ? "fa2 default level"
                       : level == 1 ? "fa2 level 1 (fast)" : "fa2 level 9";
    char label[64];
    std::snprintf(label, sizeof label, "%s%s", what, level == kCompressDefaultLevel ? " (6)" : "");
    std::printf("%-28s %12zu %7.2f%% %9.2f %9.1f\n", label, stream.size(),
                100.0 * stream.size() / data.size(), s, mb / s);
    if (level == 2) greedySize = stream.size();
    if (level == kCompressDefaultLevel) {
      defaultSize = stream.size();
      defaultStream = stream;
    }
  }

  uLongf zBound = compressBound(data.size());
  Bytes zStream(zBound);
  auto t0 = Clock::now();
  if (compress2(zStream.data(), &zBound, data.data(), data.size(), 9) != Z_OK) {
    std::fprintf(stderr, "fa2_bench: zlib compress2 failed\n");
    return 1;
  }
  double zs = Seconds(t0, Clock::now());
  zStream.resize(zBound);
  std::printf("%-28s %12zu %7.2f%% %9.2f %9.1f\n", "zlib -9 (compress2)", zStream.size(),
              100.0 * zStream.size() / data.size(), zs, mb / zs);

  std::printf("\ndefault level vs level 2: %.2f%% smaller\n",
              100.0 * (1.0 - double(defaultSize) / double(greedySize)));
  std::printf("default level vs zlib -9: %+.2f%% size\n",
              100.0 * (double(defaultSize) / double(zStream.size()) - 1.0));

  // Decoding: the same output buffer for both, best of five.
  Bytes out(data.size());
  double ours = BestOf(5, [&] {
    DecodeCounts c{};
    DecompressStream(out.data(), out.size(), defaultStream.data(), defaultStream.size(), &c);
  });
  bool oursOk = out == data;
  double theirs = BestOf(5, [&] {
    uLongf n = out.size();
    uncompress(out.data(), &n, zStream.data(), zStream.size());
  });
  bool theirsOk = out == data;
  if (!oursOk || !theirsOk) {
    std::fprintf(stderr, "fa2_bench: decoding check failed\n");
    return 1;
  }
  std::printf("\ndecode (output MB/s, best of 5):\n");
  std::printf("  fa2 decoder   %9.1f MB/s\n", mb / ours);
  std::printf("  zlib inflate  %9.1f MB/s\n", mb / theirs);
  std::printf("  fa2 / zlib    %9.2fx\n", theirs / ours);
  return 0;
}
