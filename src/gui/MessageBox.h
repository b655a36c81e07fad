// Modal message boxes. The text always goes to stderr too; without a display only there.
#pragma once

#include <string>

namespace gui {

class Application;

// Shows `text` with an OK button and waits until the user confirms it (OK, Enter, Esc or the close box).
void ShowMessage(Application& application, const std::string& text, const std::string& caption = "Glimstep");

}  // namespace gui
