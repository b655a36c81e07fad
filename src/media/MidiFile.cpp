#include "media/MidiFile.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace media {

namespace {

uint32_t Be32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}

uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

class TrackReader {
public:
    TrackReader(const uint8_t* p, size_t n) : p_(p), n_(n) {}
    bool AtEnd() const { return pos_ >= n_; }
    bool Byte(uint8_t& b) {
        if (pos_ >= n_) return false;
        b = p_[pos_++];
        return true;
    }
    // A variable-length quantity of at most four bytes.
    bool Vlq(uint32_t& v) {
        v = 0;
        for (int i = 0; i < 4; ++i) {
            uint8_t b;
            if (!Byte(b)) return false;
            v = v << 7 | (b & 0x7F);
            if ((b & 0x80) == 0) return true;
        }
        return false;
    }
    bool Skip(uint32_t count) {
        if (count > n_ - pos_) return false;
        pos_ += count;
        return true;
    }
    const uint8_t* Here() const { return p_ + pos_; }

private:
    const uint8_t* p_;
    size_t n_;
    size_t pos_ = 0;
};

// Reads one track's events; collects tempo changes. False for a malformed track.
bool ReadTrack(const uint8_t* p, size_t n, uint64_t& endTick, std::vector<std::pair<uint64_t, uint32_t>>& tempos) {
    TrackReader r(p, n);
    uint64_t tick = 0;
    uint8_t status = 0;
    while (!r.AtEnd()) {
        uint32_t delta;
        if (!r.Vlq(delta)) return false;
        tick += delta;
        uint8_t b;
        if (!r.Byte(b)) return false;
        if (b & 0x80) {
            if (b == 0xFF) {
                uint8_t type;
                uint32_t length;
                if (!r.Byte(type) || !r.Vlq(length)) return false;
                const uint8_t* body = r.Here();
                if (!r.Skip(length)) return false;
                if (type == 0x51) {
                    if (length != 3) return false;
                    const uint32_t tempo = static_cast<uint32_t>(body[0]) << 16 | body[1] << 8 | body[2];
                    if (tempo == 0) return false;
                    tempos.emplace_back(tick, tempo);
                }
                endTick = std::max(endTick, tick);
                if (type == 0x2F) return true;
                continue;
            }
            if (b == 0xF0 || b == 0xF7) {
                uint32_t length;
                if (!r.Vlq(length) || !r.Skip(length)) return false;
                endTick = std::max(endTick, tick);
                status = 0;
                continue;
            }
            if (b > 0xF0) return false;  // system common and real-time messages have no place in a file
            status = b;
            if (!r.Byte(b)) return false;
        } else if (status == 0) {
            return false;  // running status with nothing to run on
        }
        if (b & 0x80) return false;
        const uint8_t kind = status & 0xF0;
        if (kind != 0xC0 && kind != 0xD0) {
            uint8_t second;
            if (!r.Byte(second) || (second & 0x80)) return false;
        }
        endTick = std::max(endTick, tick);
    }
    return true;  // a track without an end-of-track event ends with its chunk
}

}  // namespace

MidiFileProblem ParseMidiFile(const uint8_t* data, size_t size, MidiFileInfo& info) {
    info = MidiFileInfo{};
    if (size < 14 || std::memcmp(data, "MThd", 4) != 0) return MidiFileProblem::NotMidi;
    const uint32_t headerLength = Be32(data + 4);
    if (headerLength < 6 || headerLength > size - 8) return MidiFileProblem::Broken;
    info.format = Be16(data + 8);
    info.tracks = Be16(data + 10);
    const uint16_t division = Be16(data + 12);
    if (info.format > 1 || (division & 0x8000) != 0) return MidiFileProblem::Unsupported;
    if (division == 0 || info.tracks == 0) return MidiFileProblem::Broken;
    info.division = division;

    std::vector<std::pair<uint64_t, uint32_t>> tempos;
    size_t pos = 8 + static_cast<size_t>(headerLength);
    int found = 0;
    while (found < info.tracks) {
        if (size - pos < 8) return MidiFileProblem::Broken;
        const uint32_t length = Be32(data + pos + 4);
        const bool isTrack = std::memcmp(data + pos, "MTrk", 4) == 0;
        pos += 8;
        if (length > size - pos) return MidiFileProblem::Broken;
        if (isTrack) {
            if (!ReadTrack(data + pos, length, info.lengthTicks, tempos)) return MidiFileProblem::Broken;
            ++found;
        }
        pos += length;
    }

    std::stable_sort(tempos.begin(), tempos.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    double ms = 0.0;
    uint64_t tick = 0;
    uint32_t tempo = 500000;
    info.tempoPoints.push_back({0, 0.0, tempo});
    for (const auto& [at, value] : tempos) {
        if (at >= info.lengthTicks) break;
        ms += static_cast<double>(at - tick) * tempo / (1000.0 * division);
        tick = at;
        tempo = value;
        info.tempoPoints.push_back({tick, ms, tempo});
    }
    ms += static_cast<double>(info.lengthTicks - tick) * tempo / (1000.0 * division);
    info.lengthMs = ms;
    return MidiFileProblem::None;
}

uint64_t MidiFileInfo::TickAt(double ms) const {
    if (!(ms > 0) || tempoPoints.empty() || division <= 0) return 0;
    auto point = std::upper_bound(tempoPoints.begin(), tempoPoints.end(), ms,
                                  [](double t, const TempoPoint& p) { return t < p.ms; });
    --point;
    return point->tick + static_cast<uint64_t>((ms - point->ms) * 1000.0 * division / point->tempo);
}

}  // namespace media
