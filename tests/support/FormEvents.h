// Queues window events for a form, as a user's key presses would arrive.
#pragma once

#include <SDL.h>

#include "gui/Form.h"

namespace testsupport {

inline void PushKeyDown(const gui::Form& form, SDL_Keycode key) {
    SDL_Event event{};
    event.type = SDL_KEYDOWN;
    event.key.windowID = form.WindowId();
    event.key.state = SDL_PRESSED;
    event.key.keysym.sym = key;
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
