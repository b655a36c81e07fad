// Little-endian byte and big-endian byte writers for the file formats we write (BMP, WAV, MIDI, PNG), and the
// little-endian readers for those we read. Header-only and free of the rest of the framework, so that the build-time
// generators can use it too.
#pragma once

#include <cstdint>
#include <vector>

namespace gui {

inline void PutU16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

inline void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    PutU16(out, v & 0xFFFF);
    PutU16(out, v >> 16);
}

// Big-endian, for the formats that use network order (MIDI, PNG).
inline void PutU32BigEndian(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

// Little-endian readers; `p` must point at enough bytes.
inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

inline uint32_t Le32(const uint8_t* p) { return uint32_t{Le16(p)} | uint32_t{Le16(p + 2)} << 16; }

}  // namespace gui
