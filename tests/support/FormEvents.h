// Queues window events for a form, as a user's key presses would arrive.
#pragma once

#include <SDL.h>

#include "gui/Form.h"

namespace testsupport {

inline void PushKeyDown(const gui::Form& form, SDL_Keycode key, uint16_t modifiers = KMOD_NONE) {
    SDL_Event event{};
    event.type = SDL_KEYDOWN;
    event.key.windowID = form.WindowId();
    event.key.state = SDL_PRESSED;
    event.key.keysym.sym = key;
    event.key.keysym.scancode = SDL_GetScancodeFromKey(key);
    event.key.keysym.mod = modifiers;
    SDL_PushEvent(&event);
}

// A left click at (x, y) of the form's client area: the pointer moves there, the button goes down
// (one Repaint sees it held) and comes up again.
inline void PushClick(const gui::Form& form, int x, int y) {
    SDL_WarpMouseInWindow(form.Window(), x, y);
    SDL_Event event{};
    event.type = SDL_MOUSEBUTTONDOWN;
    event.button.windowID = form.WindowId();
    event.button.button = SDL_BUTTON_LEFT;
    event.button.state = SDL_PRESSED;
    event.button.clicks = 1;
    event.button.x = x;
    event.button.y = y;
    SDL_PushEvent(&event);
}

inline void PushClose(const gui::Form& form) {
    SDL_Event event{};
    event.type = SDL_WINDOWEVENT;
    event.window.windowID = form.WindowId();
    event.window.event = SDL_WINDOWEVENT_CLOSE;
    SDL_PushEvent(&event);
}

}  // namespace testsupport
