#include "app/ScreenSettings.h"

#include <algorithm>

#include "engine/BMSEngine.h"
#include "gui/Convert.h"
#include "gui/IniFile.h"

namespace app {

namespace {

// Like a radio group: below -1 is -1 (nothing selected), at or past the count the last item.
template <size_t N>
int ItemIndex(const gui::TIniFile& file, const char* key, int defaultValue, const std::array<const char*, N>&) {
    const int index = file.ReadInteger(kScreenSection, key, defaultValue);
    return std::clamp(index, -1, static_cast<int>(N) - 1);
}

}  // namespace

TScreenSettings ReadScreenSettings(const gui::TIniFile& file) {
    TScreenSettings s;
    s.Size = ItemIndex(file, "Size", s.Size, kSizeItems);
    s.Color = ItemIndex(file, "Color", s.Color, kColorItems);
    s.ShowBGA = ItemIndex(file, "ShowBGA", s.ShowBGA, kShowBgaItems);
    s.Mode = ItemIndex(file, "Mode", s.Mode, kModeItems);
    s.BGAProt = ItemIndex(file, "BGAProt", s.BGAProt, kBgaProtItems);
    s.PlaySpeed = ItemIndex(file, "PlaySpeed", s.PlaySpeed, kPlaySpeedItems);
    s.WaitTime = std::clamp(file.ReadInteger(kScreenSection, "WaitTime", s.WaitTime), kWaitTimeMin, kWaitTimeMax);
    s.ShowParams = file.ReadBool(kScreenSection, "ShowParams", s.ShowParams);
    s.Hidden = file.ReadBool(kScreenSection, "Hidden", s.Hidden);
    return s;
}

void WriteScreenSettings(gui::TIniFile& file, const TScreenSettings& s) {
    file.WriteInteger(kScreenSection, "Size", s.Size);
    file.WriteInteger(kScreenSection, "Color", s.Color);
    file.WriteInteger(kScreenSection, "ShowBGA", s.ShowBGA);
    file.WriteInteger(kScreenSection, "Mode", s.Mode);
    file.WriteInteger(kScreenSection, "BGAProt", s.BGAProt);
    file.WriteInteger(kScreenSection, "PlaySpeed", s.PlaySpeed);
    file.WriteInteger(kScreenSection, "WaitTime", s.WaitTime);
    file.WriteBool(kScreenSection, "ShowParams", s.ShowParams);
    file.WriteBool(kScreenSection, "Hidden", s.Hidden);
}

bool ReadExtendedReading(const gui::TIniFile& file) { return file.ReadBool(kChartSection, "Extended", false); }

int32_t PlaySpeedPercent(int playSpeedIndex) {
    const bool selected = playSpeedIndex >= 0 && playSpeedIndex < static_cast<int>(kPlaySpeedItems.size());
    const char* text = selected ? kPlaySpeedItems[static_cast<size_t>(playSpeedIndex)] : "";
    return static_cast<int32_t>(gui::RoundHalfEven(gui::StrToFloat(text) * 100));
}

play::PlaySettings PlaySettingsOf(const TScreenSettings& settings) {
    play::PlaySettings play;
    play.ColorMode = settings.Color;
    play.DisplayMode = settings.Mode;
    play.ShowParams = settings.ShowParams;
    play.Hidden = settings.Hidden;
    return play;
}

void ApplyToEngine(const TScreenSettings& settings, engine::TBMS& engine) {
    engine.BgaDisplayMode = settings.ShowBGA;
    engine.BgaFitMode = settings.BGAProt;
    engine.PlaySpeed = PlaySpeedPercent(settings.PlaySpeed);
}

}  // namespace app
