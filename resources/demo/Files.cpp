#include "Files.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <stdexcept>

#include "gui/BmpEncode.h"
#include "gui/ByteOrder.h"

namespace demo {

using gui::PutU16;
using gui::PutU32;
using gui::PutU32BigEndian;

namespace {

void PutText(std::vector<uint8_t>& out, const char* text)
{
    while (*text) out.push_back(static_cast<uint8_t>(*text++));
}

void PutVarLength(std::vector<uint8_t>& out, uint32_t v)
{
    uint8_t groups[5];
    int count = 0;
    do {
        groups[count++] = v & 0x7F;
        v >>= 7;
    } while (v != 0);
    while (count > 1) out.push_back(static_cast<uint8_t>(groups[--count] | 0x80));
    out.push_back(groups[0]);
}

int16_t ToPcm(float value)
{
    float scaled = std::clamp(value, -1.0f, 1.0f) * 32767.0f;
    return static_cast<int16_t>(std::lround(scaled));
}

uint8_t Byte(int v) { return static_cast<uint8_t>(std::clamp(v, 0, 127)); }

}  // namespace

std::vector<uint8_t> EncodeWav(const Stereo& sound)
{
    constexpr uint32_t kChannels = 2, kBits = 16;
    const uint32_t dataBytes = static_cast<uint32_t>(sound.Frames() * kChannels * kBits / 8);
    std::vector<uint8_t> out;
    out.reserve(44 + dataBytes);
    PutText(out, "RIFF");
    PutU32(out, 36 + dataBytes);
    PutText(out, "WAVE");
    PutText(out, "fmt ");
    PutU32(out, 16);
    PutU16(out, 1);
    PutU16(out, kChannels);
    PutU32(out, kSampleRate);
    PutU32(out, kSampleRate * kChannels * kBits / 8);
    PutU16(out, kChannels * kBits / 8);
    PutU16(out, kBits);
    PutText(out, "data");
    PutU32(out, dataBytes);
    for (size_t i = 0; i < sound.Frames(); ++i) {
        PutU16(out, static_cast<uint16_t>(ToPcm(sound.left[i])));
        PutU16(out, static_cast<uint16_t>(ToPcm(sound.right[i])));
    }
    return out;
}

std::vector<uint8_t> EncodeBmp(const Picture& picture)
{
    return gui::EncodeBmp24(picture.width, picture.height, [&picture](int x, int y) {
        const Rgb& c = picture.pixels[static_cast<size_t>(y) * picture.width + x];
        return uint32_t{c.r} << 16 | uint32_t{c.g} << 8 | c.b;
    });
}

// At one tick, settings come before notes and a note ends before one starts, so a note repeated
// without a gap sounds again instead of being cut off by its own earlier end.
int MidiTrack::Rank(const std::vector<uint8_t>& bytes)
{
    switch (bytes[0] & 0xF0) {
    case 0x90: return 3;
    case 0x80: return 2;
    case 0xF0: return 0;
    default: return 1;
    }
}

void MidiTrack::Add(uint32_t tick, std::vector<uint8_t> bytes)
{
    Event event{tick, Rank(bytes), std::move(bytes)};
    auto at = std::upper_bound(events_.begin(), events_.end(), event, [](const Event& a, const Event& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.rank < b.rank;
    });
    events_.insert(at, std::move(event));
}

void MidiTrack::NoteOn(uint32_t tick, int channel, int note, int velocity)
{
    Add(tick, {static_cast<uint8_t>(0x90 | channel), Byte(note), Byte(velocity)});
}

void MidiTrack::NoteOff(uint32_t tick, int channel, int note)
{
    Add(tick, {static_cast<uint8_t>(0x80 | channel), Byte(note), 0});
}

void MidiTrack::Program(uint32_t tick, int channel, int program)
{
    Add(tick, {static_cast<uint8_t>(0xC0 | channel), Byte(program)});
}

void MidiTrack::Control(uint32_t tick, int channel, int controller, int value)
{
    Add(tick, {static_cast<uint8_t>(0xB0 | channel), Byte(controller), Byte(value)});
}

void MidiTrack::Tempo(uint32_t tick, double bpm)
{
    auto micros = static_cast<uint32_t>(std::lround(60000000.0 / bpm));
    Add(tick, {0xFF, 0x51, 0x03, static_cast<uint8_t>(micros >> 16), static_cast<uint8_t>(micros >> 8),
               static_cast<uint8_t>(micros)});
}

void MidiTrack::TimeSignature(uint32_t tick, int numerator, int denominator)
{
    uint8_t power = 0;
    while ((1 << power) < denominator) ++power;
    Add(tick, {0xFF, 0x58, 0x04, static_cast<uint8_t>(numerator), power, 24, 8});
}

void MidiTrack::Name(const std::string& name)
{
    std::vector<uint8_t> bytes = {0xFF, 0x03};
    PutVarLength(bytes, static_cast<uint32_t>(name.size()));
    bytes.insert(bytes.end(), name.begin(), name.end());
    Add(0, std::move(bytes));
}

std::vector<uint8_t> MidiTrack::Encode() const
{
    std::vector<uint8_t> body;
    uint32_t now = 0;
    for (const Event& event : events_) {
        PutVarLength(body, event.tick - now);
        now = event.tick;
        body.insert(body.end(), event.bytes.begin(), event.bytes.end());
    }
    PutVarLength(body, std::max(endTick_, now) - now);
    body.insert(body.end(), {0xFF, 0x2F, 0x00});
    std::vector<uint8_t> out;
    PutText(out, "MTrk");
    PutU32BigEndian(out, static_cast<uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::vector<uint8_t> EncodeMidi(const std::vector<MidiTrack>& tracks, int ticksPerQuarter)
{
    std::vector<uint8_t> out;
    PutText(out, "MThd");
    PutU32BigEndian(out, 6);
    out.insert(out.end(), {0, 1});
    out.push_back(static_cast<uint8_t>(tracks.size() >> 8));
    out.push_back(static_cast<uint8_t>(tracks.size()));
    out.push_back(static_cast<uint8_t>(ticksPerQuarter >> 8));
    out.push_back(static_cast<uint8_t>(ticksPerQuarter));
    for (const MidiTrack& track : tracks) {
        std::vector<uint8_t> chunk = track.Encode();
        out.insert(out.end(), chunk.begin(), chunk.end());
    }
    return out;
}

void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!file) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace demo
