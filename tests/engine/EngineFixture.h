// An engine with an in-memory display and a sound component without a device, loading charts
// that the tests write into a temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/BMSEngine.h"
#include "gui/Clock.h"
#include "media/DXDraws.h"
#include "media/DXSounds.h"
#include "support/BmpBuilder.h"
#include "support/TestFiles.h"

namespace enginetest {

using Triple = std::tuple<int32_t, int32_t, int32_t>;

// A 24-bit BMP file of one colour.
inline std::vector<uint8_t> Bmp(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
    testsupport::Picture picture{width, height, {}};
    picture.pixels.assign(static_cast<size_t>(width) * height, (uint32_t{r} << 16) | (uint32_t{g} << 8) | b);
    return testsupport::MakeBmpFile(picture, {});
}

// A mono 16-bit PCM RIFF WAVE file.
inline std::vector<uint8_t> Wav(uint32_t rate, const std::vector<int16_t>& samples) {
    testsupport::Bytes b;
    const uint32_t dataSize = static_cast<uint32_t>(samples.size() * 2);
    b.Text("RIFF").U32(36 + dataSize).Text("WAVE");
    b.Text("fmt ").U32(16).U16(1).U16(1).U32(rate).U32(rate * 2).U16(2).U16(16);
    b.Text("data").U32(dataSize);
    for (int16_t s : samples) b.U16(static_cast<uint16_t>(s));
    return b.Data();
}

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override { gui::Clock::UseManual(100000); }
    void TearDown() override { gui::Clock::UseSystem(); }

    // Writes `chart` as song.bms and loads it as the player does (128 ticks per measure).
    engine::LoadResult LoadResultOf(std::string_view chart, int displayMode = 2) {
        bms.BgaDisplayMode = displayMode;
        testsupport::WriteFile(dir / "song.bms", chart);
        return bms.LoadChart((dir / "song.bms").string(), 128);
    }
    bool Load(std::string_view chart, int displayMode = 2) { return LoadResultOf(chart, displayMode).Loaded; }

    // The object table as (kind, position, value) triples, in table order.
    std::vector<Triple> Table() const {
        std::vector<Triple> out;
        for (const engine::TChartObject& o : bms.Chart().Objects()) out.emplace_back(o.Kind, o.Position, o.Value);
        return out;
    }

    // The tempo map as (time, position) pairs from point 0 on.
    std::vector<std::pair<int32_t, int32_t>> TempoMap() const {
        std::vector<std::pair<int32_t, int32_t>> out;
        for (const engine::TTempoPoint& point : bms.Chart().TempoMap()) out.emplace_back(point.Time, point.Position);
        return out;
    }

    // Song position at song time `ms` (PlaySpeed 100, no MIDI playing).
    int32_t PositionAt(int32_t ms) {
        gui::Clock::Set(bms.Clock().ClockBase() + static_cast<uint32_t>(ms));
        return bms.SongPosition();
    }

    testsupport::TempDir dir;
    media::TDXDraw display{nullptr};
    media::TDXSound sound{nullptr};
    engine::TBMS bms{&display, &sound};
};

}  // namespace enginetest
