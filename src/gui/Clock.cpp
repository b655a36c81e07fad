#include "gui/Clock.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace gui {
namespace {

std::atomic<bool> manual{false};
std::atomic<uint32_t> manualNow{0};

uint32_t SystemNow() { return static_cast<uint32_t>(static_cast<uint64_t>(SteadyNanoseconds() / 1'000'000)); }

}  // namespace

int64_t SteadyNanoseconds() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

uint32_t Clock::Now() { return manual ? manualNow.load() : SystemNow(); }

void Clock::UseManual(uint32_t startMs) {
    manualNow = startMs;
    manual = true;
}

void Clock::UseSystem() { manual = false; }
bool Clock::IsManual() { return manual; }
void Clock::Advance(uint32_t ms) { manualNow += ms; }
void Clock::Set(uint32_t ms) { manualNow = ms; }

void Sleep(uint32_t ms) {
    if (manual) {
        manualNow += ms;
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace gui
