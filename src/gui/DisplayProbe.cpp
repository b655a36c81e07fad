#include "gui/DisplayProbe.h"

#include <xcb/xcb.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace gui {

struct XDisplayProbe::State {
    std::mutex mutex;
    std::condition_variable answered;
    xcb_connection_t* connection = nullptr;
    bool done = false;
    bool abandoned = false;
};

XDisplayProbe::XDisplayProbe(const std::string& name) : state_(std::make_shared<State>()) {
    // Detached: a display that never answers keeps the thread waiting until the program ends.
    std::thread([state = state_, name] {
        xcb_connection_t* connection = xcb_connect(name.c_str(), nullptr);
        std::unique_lock lock(state->mutex);
        if (state->abandoned) {
            lock.unlock();
            xcb_disconnect(connection);
            return;
        }
        state->connection = connection;
        state->done = true;
        state->answered.notify_all();
    }).detach();
}

XDisplayProbe::~XDisplayProbe() {
    std::unique_lock lock(state_->mutex);
    state_->abandoned = true;
    if (state_->done) xcb_disconnect(state_->connection);
}

bool XDisplayProbe::Answered(uint32_t timeoutMs, const std::function<bool()>& giveUp) {
    constexpr auto kSlice = std::chrono::milliseconds(20);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock lock(state_->mutex);
    while (!state_->done && !(giveUp && giveUp())) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) break;
        state_->answered.wait_until(lock, std::min(deadline, now + kSlice));
    }
    return state_->done;
}

}  // namespace gui
