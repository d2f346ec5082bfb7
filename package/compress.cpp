#include "package/compress.h"

#include <algorithm>
#include <cstring>

#include "package/fa2_format.h"

namespace {

constexpr size_t kNone = SIZE_MAX;

// The optimal parse works on blocks so that its per-position arrays stay
// small whatever the input size; matches stop at the block's end.
constexpr size_t kBlockSize = size_t{1} << 20;

// ---- bit costs, straight from the code tables ----

constexpr uint32_t kLiteralBits = 9;  // 1 Y

constexpr uint32_t PairBits(size_t d) { return d <= 256 ? 11 : 14; }  // 010 Y | 011 Y ttt

constexpr uint32_t DistanceBits(size_t d) {  // prefix + byte + low bits
  return d <= 512 ? 10 : d <= 1024 ? 11 : d <= 2048 ? 13 : d <= 4096 ? 15 : 16;
}

constexpr uint32_t LengthBits(size_t len) {
  return len == 3 ? 1 : len == 4 ? 2 : len <= 6 ? 4 : len <= 10 ? 6 : len <= 26 ? 9 : 13;
}

constexpr uint32_t MatchBits(size_t d, size_t len) { return 2 + DistanceBits(d) + LengthBits(len); }

static_assert(MatchBits(kFarthestMatchDistance, kLongestMatch) == 31);
static_assert(MatchBits(1, kShortestMatch) == 13);
// The emitters' last classes end at the format's limits (the far two-byte
// code's last value, 2047, being the end code).
static_assert(257 + 2046 == kFarthestPairDistance);
static_assert(4096 + 4095 + 1 == kFarthestMatchDistance);
static_assert(27 + 255 == kLongestMatch);

// ---- stream writer ----

// Control words are reserved in the output when the first bit of a word is
// written; data bytes go to the end of the output at once. This gives the
// decoder's order: a word is read when its first bit is needed, after all
// data bytes read before that.
struct BitWriter {
  std::vector<uint8_t>* out;
  size_t wordAt;
  uint32_t word;
  int used;
};

void StoreWord(BitWriter& w) {
  uint8_t* p = w.out->data() + w.wordAt;
  p[0] = static_cast<uint8_t>(w.word);
  p[1] = static_cast<uint8_t>(w.word >> 8);
  p[2] = static_cast<uint8_t>(w.word >> 16);
  p[3] = static_cast<uint8_t>(w.word >> 24);
}

void StartWriter(BitWriter& w, std::vector<uint8_t>* out) {
  w.out = out;
  w.wordAt = out->size();
  out->resize(out->size() + 4);  // the first word always opens the stream
  w.word = 0;
  w.used = 0;
}

inline void PutBits(BitWriter& w, uint32_t value, int count) {
  for (int i = count - 1; i >= 0; --i) {
    if (w.used == 32) {
      StoreWord(w);
      w.wordAt = w.out->size();
      w.out->resize(w.wordAt + 4);
      w.word = 0;
      w.used = 0;
    }
    w.word |= ((value >> i) & 1u) << (31 - w.used);
    ++w.used;
  }
}

inline void PutByte(BitWriter& w, uint32_t byte) { w.out->push_back(static_cast<uint8_t>(byte)); }

inline void EmitLiteral(BitWriter& w, uint8_t y) {
  PutBits(w, 1, 1);
  PutByte(w, y);
}

void EmitPair(BitWriter& w, size_t d) {
  if (d <= 256) {
    PutBits(w, 0b010, 3);
    PutByte(w, static_cast<uint32_t>(d - 1));
  } else {
    uint32_t n = static_cast<uint32_t>(d - 257);
    PutBits(w, 0b011, 3);
    PutByte(w, n >> 3);
    PutBits(w, n & 7, 3);
  }
}

void EmitMatch(BitWriter& w, size_t d, size_t len) {
  PutBits(w, 0b00, 2);
  uint32_t v = static_cast<uint32_t>(d - 1);
  if (v < 512) {
    PutBits(w, 0b1, 1), PutByte(w, v >> 1), PutBits(w, v & 1, 1);
  } else if (v < 1024) {
    v -= 512;
    PutBits(w, 0b01, 2), PutByte(w, v >> 1), PutBits(w, v & 1, 1);
  } else if (v < 2048) {
    v -= 1024;
    PutBits(w, 0b001, 3), PutByte(w, v >> 2), PutBits(w, v & 3, 2);
  } else if (v < 4096) {
    v -= 2048;
    PutBits(w, 0b0001, 4), PutByte(w, v >> 3), PutBits(w, v & 7, 3);
  } else {
    v -= 4096;
    PutBits(w, 0b0000, 4), PutByte(w, v >> 4), PutBits(w, v & 15, 4);
  }
  uint32_t l = static_cast<uint32_t>(len);
  if (l == 3) PutBits(w, 0b1, 1);
  else if (l == 4) PutBits(w, 0b01, 2);
  else if (l <= 6) PutBits(w, 0b001, 3), PutBits(w, l - 5, 1);
  else if (l <= 10) PutBits(w, 0b0001, 4), PutBits(w, l - 7, 2);
  else if (l <= 26) PutBits(w, 0b00001, 5), PutBits(w, l - 11, 4);
  else PutBits(w, 0b00000, 5), PutByte(w, l - 27);
}

void EmitEnd(BitWriter& w) {
  PutBits(w, 0b011, 3);
  PutByte(w, 255);
  PutBits(w, 0b111, 3);
  StoreWord(w);  // the rest of the last word stays zero
}

// ---- match finder: hash chains over the window, plus the nearest pair ----

constexpr int kHashBits = 16;
constexpr size_t kChainSize = 16384;  // > window, so chain links inside it are never stale
static_assert(kChainSize > kFarthestMatchDistance);

struct MatchFinder {
  const uint8_t* data;
  size_t size;
  std::vector<size_t> head;      // newest position per 3-byte hash
  std::vector<size_t> chain;     // previous position with the same hash, by pos % kChainSize
  std::vector<size_t> lastPair;  // newest position of each 2-byte value
  size_t inserted;               // positions below this are in the tables
};

inline uint32_t Hash3(const uint8_t* p) {
  uint32_t v = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16;
  return (v * 2654435761u) >> (32 - kHashBits);
}

inline uint32_t Pair(const uint8_t* p) { return uint32_t{p[0]} << 8 | p[1]; }

void InitFinder(MatchFinder& f, const uint8_t* data, size_t size) {
  f.data = data;
  f.size = size;
  f.head.assign(size_t{1} << kHashBits, kNone);
  f.chain.assign(kChainSize, kNone);
  f.lastPair.assign(65536, kNone);
  f.inserted = 0;
}

inline void Insert(MatchFinder& f, size_t pos) {
  if (pos + 1 < f.size) {
    f.lastPair[Pair(f.data + pos)] = pos;
    if (pos + 2 < f.size) {
      uint32_t h = Hash3(f.data + pos);
      f.chain[pos % kChainSize] = f.head[h];
      f.head[h] = pos;
    }
  }
}

// Brings the tables up to (not including) pos.
inline void InsertUpTo(MatchFinder& f, size_t pos) {
  for (; f.inserted < pos; ++f.inserted) Insert(f, f.inserted);
}

// Distance of the nearest earlier occurrence of the two bytes at pos, or 0.
inline size_t PairDistance(const MatchFinder& f, size_t pos, size_t limit) {
  if (pos + 2 > limit) return 0;
  size_t q = f.lastPair[Pair(f.data + pos)];
  if (q == kNone || pos - q > kFarthestPairDistance) return 0;
  return pos - q;
}

inline size_t MatchLength(const uint8_t* a, const uint8_t* b, size_t max) {
  size_t n = 0;
  while (n + 8 <= max) {
    uint64_t x, y;
    std::memcpy(&x, a + n, 8);
    std::memcpy(&y, b + n, 8);
    if (x != y) return n + static_cast<size_t>(__builtin_ctzll(x ^ y) >> 3);  // little-endian
    n += 8;
  }
  while (n < max && a[n] == b[n]) ++n;
  return n;
}

struct Match {
  uint16_t length;
  uint16_t distance;
};

// Walks the chain at pos (tables must hold every position before pos).
// Fills matches with strictly growing lengths at growing distances: for
// each length the nearest distance, which is also the cheapest. Returns how
// many; stops early at niceLength.
int FindMatches(const MatchFinder& f, size_t pos, size_t limit, int depth, size_t niceLength,
                Match* matches) {
  size_t maxLen = std::min<size_t>(kLongestMatch, limit - pos);
  if (maxLen < kShortestMatch) return 0;
  const uint8_t* cur = f.data + pos;
  size_t best = kShortestMatch - 1;
  int count = 0;
  size_t cand = f.head[Hash3(cur)];
  size_t last = pos;
  while (cand != kNone && cand < last && pos - cand <= kFarthestMatchDistance && depth-- > 0) {
    const uint8_t* p = f.data + cand;
    if (p[best] == cur[best] && p[0] == cur[0]) {
      size_t len = MatchLength(p, cur, maxLen);
      if (len > best) {
        best = len;
        matches[count++] = {static_cast<uint16_t>(len), static_cast<uint16_t>(pos - cand)};
        if (len >= niceLength || len == maxLen) break;
      }
    }
    last = cand;
    cand = f.chain[cand % kChainSize];
  }
  return count;
}

struct LevelParams {
  int depth;
  size_t niceLength;
  bool optimal;
};

LevelParams ParamsFor(int level) {
  static const LevelParams table[] = {
      {4, 32, false},              // 1
      {32, kLongestMatch, false},  // 2
      {8, 48, true},               // 3
      {16, 96, true},              // 4
      {32, 160, true},             // 5
      {64, kLongestMatch, true},   // 6
      {128, kLongestMatch, true},  // 7
      {256, kLongestMatch, true},  // 8
      {1024, kLongestMatch, true}, // 9
  };
  return table[std::clamp(level, kCompressMinLevel, kCompressMaxLevel) - 1];
}

// Greedy: at each position the longest match found, else a two-byte match,
// else a literal.
void CompressGreedy(MatchFinder& f, BitWriter& w, const LevelParams& params) {
  Match matches[kLongestMatch];
  size_t pos = 0;
  while (pos < f.size) {
    InsertUpTo(f, pos);
    int n = FindMatches(f, pos, f.size, params.depth, params.niceLength, matches);
    if (n > 0) {
      EmitMatch(w, matches[n - 1].distance, matches[n - 1].length);
      pos += matches[n - 1].length;
      continue;
    }
    size_t pd = PairDistance(f, pos, f.size);
    if (pd) {
      EmitPair(w, pd);
      pos += 2;
    } else {
      EmitLiteral(w, f.data[pos]);
      pos += 1;
    }
  }
}

// Per-block shortest path over positions: the bit costs are exact, so the
// path found is the smallest stream that the found candidates allow.
void CompressOptimal(MatchFinder& f, BitWriter& w, const LevelParams& params) {
  constexpr uint32_t kInfinite = UINT32_MAX;
  std::vector<uint32_t> cost;
  std::vector<uint16_t> stepLength;  // 1 literal, 2 pair, 3.. general match
  std::vector<uint16_t> stepDistance;
  std::vector<Match> path;
  Match matches[kLongestMatch];

  for (size_t start = 0; start < f.size; start += kBlockSize) {
    size_t end = std::min(f.size, start + kBlockSize);
    size_t n = end - start;
    cost.assign(n + 1, kInfinite);
    stepLength.assign(n + 1, 0);
    stepDistance.assign(n + 1, 0);
    cost[0] = 0;
    size_t skipUntil = 0;  // after a match of nice length, positions inside it are passed

    for (size_t i = 0; i < n; ++i) {
      if (i < skipUntil) continue;
      size_t pos = start + i;
      uint32_t here = cost[i];
      InsertUpTo(f, pos);
      auto relax = [&](size_t to, uint32_t bits, size_t len, size_t dist) {
        if (here + bits < cost[to]) {
          cost[to] = here + bits;
          stepLength[to] = static_cast<uint16_t>(len);
          stepDistance[to] = static_cast<uint16_t>(dist);
        }
      };
      relax(i + 1, kLiteralBits, 1, 0);
      if (size_t pd = PairDistance(f, pos, end)) relax(i + 2, PairBits(pd), 2, pd);
      int count = FindMatches(f, pos, end, params.depth, params.niceLength, matches);
      if (count == 0) continue;
      size_t longest = matches[count - 1].length;
      if (longest >= params.niceLength) {
        relax(i + longest, MatchBits(matches[count - 1].distance, longest), longest,
              matches[count - 1].distance);
        skipUntil = i + longest;
        continue;
      }
      size_t len = kShortestMatch;
      for (int m = 0; m < count; ++m) {
        size_t d = matches[m].distance;
        uint32_t dBits = 2 + DistanceBits(d);
        for (; len <= matches[m].length; ++len) relax(i + len, dBits + LengthBits(len), len, d);
      }
    }

    path.clear();
    for (size_t at = n; at > 0; at -= stepLength[at])
      path.push_back({stepLength[at], stepDistance[at]});
    size_t pos = start;
    for (size_t k = path.size(); k-- > 0;) {
      const Match& s = path[k];
      if (s.length == 1) EmitLiteral(w, f.data[pos]);
      else if (s.length == 2) EmitPair(w, s.distance);
      else EmitMatch(w, s.distance, s.length);
      pos += s.length;
    }
  }
}

}  // namespace

void CompressStream(const uint8_t* data, size_t size, int level, std::vector<uint8_t>* out) {
  LevelParams params = ParamsFor(level);
  out->reserve(out->size() + size / 4 + 64);
  BitWriter w;
  StartWriter(w, out);
  if (size > 0) {
    MatchFinder f;
    InitFinder(f, data, size);
    if (params.optimal) CompressOptimal(f, w, params);
    else CompressGreedy(f, w, params);
  }
  EmitEnd(w);
}
