// Little-endian fields of the files this project reads and writes (the
// package format, the run's journal, Windows program files), whatever the
// byte order of the machine.
#pragma once

#include <cstdint>

inline uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t Get32(const uint8_t* p) { return Get16(p) | uint32_t{Get16(p + 2)} << 16; }
inline uint64_t Get64(const uint8_t* p) { return Get32(p) | uint64_t{Get32(p + 4)} << 32; }

inline void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}
inline void Put64(uint8_t* p, uint64_t v) {
  Put32(p, static_cast<uint32_t>(v));
  Put32(p + 4, static_cast<uint32_t>(v >> 32));
}
