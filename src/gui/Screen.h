// The player's screen: every picture, movie and play frame is drawn for it, whatever the window.
#pragma once

namespace gui {

constexpr int kScreenWidth = 320;
constexpr int kScreenHeight = 240;

}  // namespace gui
