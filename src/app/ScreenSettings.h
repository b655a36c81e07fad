// The nine settings of section "Screen" of settings.ini as plain values, read with the settings
// dialog's rules: radio choices are item indexes clamped to their lists (-1 = nothing selected),
// the wait time is clamped to its scroll range. The dialog shows them; the offline renderer
// reads them without any window.
#pragma once

#include <array>
#include <cstdint>

#include "play/PlaySettings.h"

namespace gui {
class TIniFile;
}
namespace engine {
class TBMS;
}

namespace app {

constexpr const char* kScreenSection = "Screen";

constexpr std::array<const char*, 2> kSizeItems = {"320x240", "640x480"};
constexpr std::array<const char*, 2> kColorItems = {"256色", "65536色"};
constexpr std::array<const char*, 3> kShowBgaItems = {"表示", "非表示", "再生のみ"};
constexpr std::array<const char*, 2> kModeItems = {"全画面", "ウインドウ"};
constexpr std::array<const char*, 3> kBgaProtItems = {"全画面拡大", "等倍", "全画面等倍"};
constexpr std::array<const char*, 6> kPlaySpeedItems = {"0.25", "0.50", "0.75", "1.00", "1.50", "2.00"};
constexpr int kWaitTimeMin = 0;
constexpr int kWaitTimeMax = 10;

struct TScreenSettings {
    int Size = 0;
    int Color = 1;
    int ShowBGA = 0;
    int Mode = 0;
    int BGAProt = 0;
    int PlaySpeed = 3;
    int WaitTime = 1;
    bool ShowParams = false;
    bool Hidden = false;
};

// The settings in `file`, the program's defaults for keys it lacks.
TScreenSettings ReadScreenSettings(const gui::TIniFile& file);

// Writes the nine keys in their order.
void WriteScreenSettings(gui::TIniFile& file, const TScreenSettings& settings);

// The play speed in percent of the selected item ("1.50" gives 150). Raises EConvertError when
// no item is selected.
int32_t PlaySpeedPercent(int playSpeedIndex);

// [Chart] Extended: whether charts are read in the extended dialect (default no). The settings
// dialog neither shows nor writes it, and keeps it as it keeps every other key of the file.
constexpr const char* kChartSection = "Chart";
bool ReadExtendedReading(const gui::TIniFile& file);

// What the play screen takes of them: the colour and display modes, Show Params and Hidden.
play::PlaySettings PlaySettingsOf(const TScreenSettings& settings);

// What step 0 hands the engine: BGA display and fit modes and the play speed.
void ApplyToEngine(const TScreenSettings& settings, engine::TBMS& engine);

}  // namespace app
