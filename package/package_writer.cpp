#include "package/package_writer.h"

#include <cstring>

#include "base/little_endian.h"
#include "package/fa2_format.h"

namespace {

constexpr int64_t kUnixEpochInFileTimeSeconds = 11644473600;  // 1601 -> 1970
constexpr uint64_t kTicksPerSecond = 10000000;

bool Fail(std::vector<uint8_t>* out, std::string* error, const std::string& why) {
  out->clear();
  if (error) *error = why;
  return false;
}

}  // namespace

bool BuildPackage(const std::vector<PackageInput>& inputs, const PackageOptions& options,
                  std::vector<uint8_t>* out, std::string* error) {
  out->clear();
  if (inputs.size() > (UINT32_MAX - kHeaderSize) / kEntrySize)
    return Fail(out, error, "too many entries");
  for (const PackageInput& in : inputs) {
    std::string problem = EntryNameProblem(in.name);
    if (!problem.empty()) return Fail(out, error, problem);
    if (in.size > UINT32_MAX) return Fail(out, error, "an entry is larger than 4 GiB");
  }

  std::vector<PackageEntry> directory(inputs.size());
  out->resize(kHeaderSize);
  for (size_t i = 0; i < inputs.size(); ++i) {
    const PackageInput& in = inputs[i];
    PackageEntry& e = directory[i];
    std::memset(&e, 0, sizeof e);
    std::memcpy(e.name, in.name.data(), in.name.size());
    e.fileTimeLow = static_cast<uint32_t>(in.fileTime);
    e.fileTimeHigh = static_cast<uint32_t>(in.fileTime >> 32);
    e.originalSize = static_cast<uint32_t>(in.size);

    size_t at = out->size();
    bool stored = options.store || in.size == 0;
    if (!stored) {
      CompressStream(in.data, in.size, options.level, out);
      if (out->size() - at >= in.size) {
        out->resize(at);  // incompressible: keep the bytes as they are
        stored = true;
      }
    }
    if (stored) {
      out->insert(out->end(), in.data, in.data + in.size);
    } else {
      e.flags = kEntryFlagCompressed;
    }
    e.storedSize = static_cast<uint32_t>(out->size() - at);
    out->resize(at + PaddedSize64(e.storedSize), 0);
    if (out->size() > UINT32_MAX) return Fail(out, error, "package larger than 4 GiB");
  }

  uint32_t directoryOffset = static_cast<uint32_t>(out->size());
  const uint8_t* dirBytes = reinterpret_cast<const uint8_t*>(directory.data());
  size_t dirSize = directory.size() * kEntrySize;
  if (options.compressDirectory) CompressStream(dirBytes, dirSize, options.level, out);
  else out->insert(out->end(), dirBytes, dirBytes + dirSize);
  if (out->size() > UINT32_MAX) return Fail(out, error, "package larger than 4 GiB");

  uint8_t* h = out->data();
  Put32(h, kPackageMagic);
  Put32(h + 4, options.compressDirectory ? kHeaderFlagCompressedDirectory : 0);
  Put32(h + 8, directoryOffset);
  Put32(h + 12, static_cast<uint32_t>(inputs.size()));
  return true;
}

uint64_t UnixToFileTime(int64_t seconds, uint32_t nanoseconds) {
  if (seconds < -kUnixEpochInFileTimeSeconds) return 0;
  if (seconds > INT64_MAX - kUnixEpochInFileTimeSeconds) return UINT64_MAX;
  uint64_t whole = static_cast<uint64_t>(seconds + kUnixEpochInFileTimeSeconds);
  if (whole > UINT64_MAX / kTicksPerSecond) return UINT64_MAX;
  uint64_t ticks = whole * kTicksPerSecond, extra = nanoseconds / 100;
  return extra > UINT64_MAX - ticks ? UINT64_MAX : ticks + extra;
}

int64_t FileTimeToUnix(uint64_t fileTime, uint32_t* nanoseconds) {
  if (nanoseconds) *nanoseconds = static_cast<uint32_t>(fileTime % kTicksPerSecond) * 100;
  return static_cast<int64_t>(fileTime / kTicksPerSecond) - kUnixEpochInFileTimeSeconds;
}
