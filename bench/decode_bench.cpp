// Decoding speed of the FA2 stream decoder next to zlib's inflate, LZ4's
// decoder and memcpy, measured in one run on the same data (Google
// Benchmark, repetitions interleaved at random so that a busy moment of a
// shared machine does not fall on one decoder only, times taken as the
// process's CPU time so that other programs' turns on the processor do not
// count). Prints decoded bytes per second and the ratios between the
// decoders.
//
//   fa2_decode_bench [--cache DIR] [benchmark flags]
//
// Data sets: the two game data files of the freedoom package and the
// synthetic 139,309,060-byte entry. Each is compressed once by every codec
// (our default level; level 1 as well for the synthetic entry, the level of
// the extraction benchmark's package; zlib level 9; LZ4 high compression);
// with --cache the streams are kept in DIR and reused when they still decode
// to the data.
#include <benchmark/benchmark.h>
#include <lz4.h>
#include <lz4hc.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/synthetic_entry.h"
#include "package/compress.h"
#include "package/decompress.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kRepetitions = 5;

bool ReadFile(const std::string& path, Bytes* data) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  data->clear();
  uint8_t buffer[1 << 16];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
    data->insert(data->end(), buffer, buffer + n);
  std::fclose(f);
  return true;
}

bool WriteFile(const std::string& path, const Bytes& data) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  return std::fclose(f) == 0 && ok;
}

// ---- the codecs: compress once, decode many times ----

struct Codec {
  const char* name;
  bool (*compress)(const Bytes& data, int level, Bytes* stream);
  // Decodes stream into out (out.size() bytes); false when it does not give
  // exactly that many bytes.
  bool (*decode)(const Bytes& stream, Bytes* out);
};

bool Fa2Compress(const Bytes& data, int level, Bytes* stream) {
  stream->clear();
  CompressStream(data.data(), data.size(), level, stream);
  return true;
}

bool Fa2Decode(const Bytes& stream, Bytes* out) {
  DecodeCounts c{};
  return DecompressStream(out->data(), out->size(), stream.data(), stream.size(), &c) == DecodeOk &&
         c.written == out->size();
}

// The chunked decoder as an extraction would use it: one buffer of history
// plus a 1 MiB chunk, each piece copied out (where a file write would go).
bool Fa2ChunkedDecode(const Bytes& stream, Bytes* out) {
  constexpr size_t kChunk = 1 << 20;
  static std::unique_ptr<uint8_t[]> buffer(new uint8_t[ChunkedDecodeBufferSize(kChunk)]);
  ChunkedDecode state;
  BeginChunkedDecode(&state, stream.data(), stream.size(), out->size());
  size_t at = 0;
  for (;;) {
    const uint8_t* piece;
    size_t n;
    if (DecodeChunk(&state, buffer.get(), kChunk, &piece, &n) != DecodeOk) return false;
    if (n > out->size() - at) return false;
    std::memcpy(out->data() + at, piece, n);
    at += n;
    if (state.finished) return at == out->size();
  }
}

bool ZlibCompress(const Bytes& data, int level, Bytes* stream) {
  uLongf size = compressBound(data.size());
  stream->resize(size);
  if (compress2(stream->data(), &size, data.data(), data.size(), level) != Z_OK) return false;
  stream->resize(size);
  return true;
}

bool ZlibDecode(const Bytes& stream, Bytes* out) {
  uLongf size = out->size();
  return uncompress(out->data(), &size, stream.data(), stream.size()) == Z_OK &&
         size == out->size();
}

bool Lz4Compress(const Bytes& data, int level, Bytes* stream) {
  stream->resize(LZ4_compressBound(static_cast<int>(data.size())));
  int n = LZ4_compress_HC(reinterpret_cast<const char*>(data.data()),
                          reinterpret_cast<char*>(stream->data()), static_cast<int>(data.size()),
                          static_cast<int>(stream->size()), level);
  if (n <= 0) return false;
  stream->resize(n);
  return true;
}

bool Lz4Decode(const Bytes& stream, Bytes* out) {
  return LZ4_decompress_safe(reinterpret_cast<const char*>(stream.data()),
                             reinterpret_cast<char*>(out->data()), static_cast<int>(stream.size()),
                             static_cast<int>(out->size())) == static_cast<int>(out->size());
}

bool MemcpyDecode(const Bytes& stream, Bytes* out) {
  if (stream.size() != out->size()) return false;
  std::memcpy(out->data(), stream.data(), stream.size());
  return true;
}

const Codec kFa2{"fa2", Fa2Compress, Fa2Decode};
const Codec kZlib{"zlib", ZlibCompress, ZlibDecode};
const Codec kLz4{"lz4", Lz4Compress, Lz4Decode};

// The stream of data by codec at level: from the cache when a cached stream
// still decodes to data, otherwise made (and cached).
bool MakeStream(const Codec& codec, const Bytes& data, int level, const std::string& cacheName,
                Bytes* stream) {
  Bytes check(data.size());
  if (!cacheName.empty() && ReadFile(cacheName, stream) && codec.decode(*stream, &check) &&
      check == data)
    return true;
  std::fprintf(stderr, "compressing %zu bytes with %s level %d\n", data.size(), codec.name, level);
  if (!codec.compress(data, level, stream) || !codec.decode(*stream, &check) || check != data) {
    std::fprintf(stderr, "fa2_decode_bench: %s level %d does not round-trip\n", codec.name, level);
    return false;
  }
  if (!cacheName.empty()) WriteFile(cacheName, *stream);
  return true;
}

// ---- the measured runs ----

struct Stream {
  std::string label;  // e.g. "fa2 level 6"
  Bytes bytes;
  bool (*decode)(const Bytes& stream, Bytes* out);
};

struct DataSet {
  std::string name;
  Bytes data;
  std::vector<Stream> decoders;  // in the order of the table's columns
};

// Every data set's runs share this output buffer (the largest size).
Bytes outputBuffer;

void RegisterDataSet(const DataSet& set, double minTime) {
  for (const Stream& s : set.decoders) {
    const DataSet* setPtr = &set;
    const Stream* streamPtr = &s;
    benchmark::RegisterBenchmark((set.name + "/" + s.label).c_str(),
                                 [setPtr, streamPtr](benchmark::State& state) {
                                   Bytes& out = outputBuffer;
                                   out.assign(setPtr->data.size(), 0);
                                   for (auto _ : state) {
                                     if (!streamPtr->decode(streamPtr->bytes, &out)) {
                                       state.SkipWithError("decoding failed");
                                       break;
                                     }
                                     benchmark::ClobberMemory();
                                   }
                                   if (out != setPtr->data) state.SkipWithError("wrong output");
                                   state.SetBytesProcessed(int64_t(state.iterations()) *
                                                           int64_t(setPtr->data.size()));
                                 })
        ->Repetitions(kRepetitions)
        ->MinTime(minTime)
        ->Unit(benchmark::kMillisecond);
  }
}

// Collects decoded bytes per second of every repetition; prints one short
// line per run as it finishes.
class Collector : public benchmark::BenchmarkReporter {
 public:
  std::map<std::string, std::vector<double>> rates;  // by run name, bytes per second
  std::map<std::string, size_t> sizes;

  bool ReportContext(const Context&) override { return true; }
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration) continue;
      std::string name = run.run_name.function_name;
      if (run.error_occurred) {
        std::printf("%-40s ERROR %s\n", name.c_str(), run.error_message.c_str());
        failed = true;
        continue;
      }
      double seconds = run.cpu_accumulated_time / double(run.iterations);
      double bytes = double(sizes[name]);
      rates[name].push_back(bytes / seconds);
      std::printf("%-40s %9.1f MB/s\n", name.c_str(), bytes / seconds / 1e6);
      std::fflush(stdout);
    }
  }
  bool failed = false;
};

double Best(const std::vector<double>& v) {
  return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}
double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// ---- the large data sets ----

bool AddDataSet(std::vector<DataSet>* sets, const std::string& name, Bytes data,
                const std::vector<int>& fa2Levels, const std::string& cacheDir) {
  DataSet set;
  set.name = name;
  set.data = std::move(data);
  auto cache = [&](const char* codec, int level) {
    return cacheDir.empty() ? std::string()
                            : cacheDir + "/" + name + "." + codec + std::to_string(level);
  };
  for (int level : fa2Levels) {
    Stream s{"fa2 level " + std::to_string(level), {}, Fa2Decode};
    if (!MakeStream(kFa2, set.data, level, cache("fa2-", level), &s.bytes)) return false;
    set.decoders.push_back(s);
    if (level == fa2Levels.front()) {
      set.decoders.push_back({"fa2 chunked " + std::to_string(level), s.bytes, Fa2ChunkedDecode});
    }
  }
  Stream z{"zlib -9", {}, ZlibDecode};
  if (!MakeStream(kZlib, set.data, 9, cache("zlib-", 9), &z.bytes)) return false;
  set.decoders.push_back(z);
  Stream l{"lz4 hc", {}, Lz4Decode};
  if (!MakeStream(kLz4, set.data, LZ4HC_CLEVEL_DEFAULT, cache("lz4hc-", LZ4HC_CLEVEL_DEFAULT),
                  &l.bytes))
    return false;
  set.decoders.push_back(l);
  set.decoders.push_back({"memcpy", set.data, MemcpyDecode});
  sets->push_back(std::move(set));
  return true;
}

void PrintTable(const std::vector<DataSet>& sets, Collector& c) {
  std::printf("\ndecoded MB/s (by the process's CPU time), best of %d interleaved repetitions\n"
              "(median in brackets)\n",
              kRepetitions);
  for (const DataSet& set : sets) {
    bool measured = false;
    for (const Stream& s : set.decoders) measured |= !c.rates[set.name + "/" + s.label].empty();
    if (!measured) continue;  // left out by a filter
    std::printf("\n%s: %zu bytes\n", set.name.c_str(), set.data.size());
    const std::string first = set.name + "/" + set.decoders.front().label;
    const double fa2Best = Best(c.rates[first]);
    const double fa2Median = Median(c.rates[first]);
    for (const Stream& s : set.decoders) {
      const std::string name = set.name + "/" + s.label;
      const std::vector<double>& r = c.rates[name];
      if (r.empty()) continue;
      char size[40] = "";
      if (!s.bytes.empty())
        std::snprintf(size, sizeof size, "%11zu (%5.1f%%)", s.bytes.size(),
                      100.0 * s.bytes.size() / set.data.size());
      std::printf("  %-16s %22s %9.1f (%7.1f)   %s/this %5.2fx (%5.2fx)\n", s.label.c_str(), size,
                  Best(r) / 1e6, Median(r) / 1e6, set.decoders.front().label.c_str(),
                  Best(r) > 0 ? fa2Best / Best(r) : 0, Median(r) > 0 ? fa2Median / Median(r) : 0);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string cacheDir;
  std::vector<char*> rest = {argv[0]};
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--cache") == 0 && i + 1 < argc) {
      cacheDir = argv[++i];
    } else {
      rest.push_back(argv[i]);
    }
  }
  char interleave[] = "--benchmark_enable_random_interleaving=true";
  rest.push_back(interleave);
  int restCount = static_cast<int>(rest.size());
  benchmark::Initialize(&restCount, rest.data());
  if (benchmark::ReportUnrecognizedArguments(restCount, rest.data())) return 2;

  std::vector<DataSet> sets;
  for (const char* name : {"freedoom1.wad", "freedoom2.wad"}) {
    Bytes data;
    if (!ReadFile(std::string("/usr/share/games/doom/") + name, &data) || data.empty()) {
      std::fprintf(stderr, "fa2_decode_bench: /usr/share/games/doom/%s missing (package freedoom)\n",
                   name);
      return 1;
    }
    if (!AddDataSet(&sets, name, std::move(data), {kCompressDefaultLevel}, cacheDir)) return 1;
  }
  if (!AddDataSet(&sets, "synthetic-139MB", MakeSyntheticEntry(), {kCompressDefaultLevel, 1},
                  cacheDir))
    return 1;

  Collector collector;
  for (const DataSet& set : sets)
    for (const Stream& s : set.decoders)
      collector.sizes[set.name + "/" + s.label] = set.data.size();
  for (const DataSet& set : sets) RegisterDataSet(set, 0.3);
  benchmark::RunSpecifiedBenchmarks(&collector);
  PrintTable(sets, collector);
  return collector.failed ? 1 : 0;
}
