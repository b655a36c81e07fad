#include "media/Mixer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <random>
#include <thread>
#include <vector>

using namespace media;

namespace {

constexpr uint64_t kNone = ~uint64_t{0};

// A source that adds nothing and notes when it is called.
class Probe : public MixerSource {
public:
    explicit Probe(const Mixer& mixer) : mixer_(mixer) {}
    void Mix(float*, int) override {
        if (removed.load()) calledWhileRemoved.store(true);
        // Called first in the first block of a Render, when the frames rendered are where it starts.
        if (firstFrame.load() == kNone) firstFrame.store(mixer_.FramesRendered());
    }
    std::atomic<bool> removed{true};
    std::atomic<bool> calledWhileRemoved{false};
    std::atomic<uint64_t> firstFrame{kNone};

private:
    const Mixer& mixer_;
};

double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

template <typename Condition>
void WaitFor(Condition done) {
    while (!done()) std::this_thread::yield();
}

}  // namespace

// The device callback runs back to back on its own thread while the main thread plays, stops,
// schedules, retunes and frees voices and adds and removes a source. No callback waits for the
// main thread, a removed source is never called again, and an added one starts on the frame
// AddSource named.
TEST(MixerThreads, TheCallbackNeverWaitsForTheMainThread) {
    constexpr int kFrames = 512;
    constexpr int kOps = 8000;
    constexpr int kSlots = 256;
    Mixer mixer;
    mixer.SetDeviceDriven(true);

    std::atomic<bool> stop{false};
    std::atomic<int> callbacks{0};
    double worstMs = 0.0;
    double worstCpuMs = 0.0;  // the callback's own work, without the time it was not scheduled
    int late = 0;
    std::thread device([&] {
        std::vector<int16_t> out(2 * kFrames);
        const std::chrono::duration<double, std::milli> deadline(1000.0 * kFrames / mixer.Rate());
        while (!stop.load()) {
            const auto start = std::chrono::steady_clock::now();
            const double startCpuMs = ThreadCpuMs();
            mixer.Render(out.data(), kFrames);
            worstCpuMs = std::max(worstCpuMs, ThreadCpuMs() - startCpuMs);
            const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
            worstMs = std::max(worstMs, took.count());
            if (took > deadline) ++late;
            callbacks.fetch_add(1);
        }
    });

    struct Slot {
        int voice = -1;
        SampleData data;
    };
    std::vector<Slot> slots(kSlots);
    for (int i = 0; i < kSlots; ++i) {
        slots[i].data.rate = slots[i].data.sourceRate = 44100;
        slots[i].data.channels = 1 + i % 2;
        slots[i].data.samples.assign(static_cast<size_t>(3000 * slots[i].data.channels), 100);
    }
    Probe probe(mixer);
    uint64_t expectedStart = kNone;
    int wrongStarts = 0;
    std::minstd_rand random(21);
    for (int op = 0; op < kOps; ++op) {
        // Paced by the callbacks, as a frame loop is.
        if (op % 256 == 0) {
            const int seen = callbacks.load();
            WaitFor([&] { return callbacks.load() > seen; });
        }
        Slot& slot = slots[random() % kSlots];
        if (slot.voice < 0) slot.voice = mixer.AllocateVoice();
        const uint64_t now = mixer.FramesRendered();
        // Freeing and removing wait for a running callback: they come less often, so that the
        // test stays short.
        const unsigned kind = random() % 32;
        if (kind < 10) {
            mixer.Play(slot.voice, &slot.data, 1.0, {}, kind == 0);
        } else if (kind < 18) {
            mixer.PlayAt(now + random() % 2000, slot.voice, &slot.data, 1.5, {}, false, random() % 500);
        } else if (kind < 21) {
            mixer.SetRatio(slot.voice, 0.5 + kind % 10 * 0.1);
        } else if (kind < 24) {
            mixer.SetGain(slot.voice, {0.5f, 1.0f});
        } else if (kind < 27) {
            mixer.Stop(slot.voice);
        } else if (kind < 30) {
            mixer.StopAt(now + random() % 2000, slot.voice);
        } else if (kind == 30) {
            mixer.FreeVoice(slot.voice);
            slot.voice = -1;
        } else if (expectedStart == kNone) {
            probe.firstFrame.store(kNone);
            probe.removed.store(false);
            expectedStart = mixer.AddSource(&probe);
        } else {
            WaitFor([&] { return probe.firstFrame.load() != kNone; });
            if (probe.firstFrame.load() != expectedStart) ++wrongStarts;
            mixer.RemoveSource(&probe);
            probe.removed.store(true);
            expectedStart = kNone;
        }
    }
    for (Slot& slot : slots)
        if (slot.voice >= 0) mixer.FreeVoice(slot.voice);
    mixer.RemoveSource(&probe);
    probe.removed.store(true);
    const int freedAt = callbacks.load();
    WaitFor([&] { return callbacks.load() > freedAt + 1; });
    stop.store(true);
    device.join();

    std::printf("%d callbacks of %d frames: the slowest took %.3f ms (%.3f ms of its own work), %d took longer than "
                "their own length\n",
                callbacks.load(), kFrames, worstMs, worstCpuMs, late);
    EXPECT_EQ(mixer.RenderLockMisses(), 0u);
    EXPECT_EQ(mixer.DroppedCommands(), 0u);
    EXPECT_FALSE(probe.calledWhileRemoved.load());
    EXPECT_EQ(wrongStarts, 0);
    EXPECT_EQ(mixer.ActiveVoices(), 0);
}

namespace {

// A source that holds the callback inside its first Mix until it is released.
class Gate : public MixerSource {
public:
    void Mix(float*, int) override {
        if (entered.exchange(true)) return;
        WaitFor([this] { return released.load(); });
    }
    std::atomic<bool> entered{false};
    std::atomic<bool> released{false};
};

// Whether `call`, made on a thread of its own while a callback is held inside a source, returns
// before that callback goes on. A call that returned within a few milliseconds did not wait;
// one that waits cannot fail this, however slow the machine.
template <typename Call>
bool ReturnsWhileACallbackRuns(Mixer& mixer, Call call) {
    Gate gate;
    mixer.AddSource(&gate);
    std::vector<int16_t> out(2 * 512);
    std::thread device([&] { mixer.Render(out.data(), 512); });
    WaitFor([&] { return gate.entered.load(); });
    std::atomic<bool> returned{false};
    std::thread caller([&] {
        call();
        returned.store(true);
    });
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
    while (!returned.load() && std::chrono::steady_clock::now() < until) std::this_thread::yield();
    const bool early = returned.load();
    gate.released.store(true);
    caller.join();
    device.join();
    mixer.RemoveSource(&gate);
    return early;
}

}  // namespace

// What the main thread frees after these calls (a voice's data, a source) is no longer read by a
// callback that was running when they were made.
TEST(MixerThreads, FreeingAVoiceAndRemovingASourceWaitForTheRunningCallback) {
    Mixer mixer;
    mixer.SetDeviceDriven(true);
    SampleData data;
    data.rate = data.sourceRate = 44100;
    data.samples.assign(10000, 1000);
    const int voice = mixer.AllocateVoice();
    mixer.Play(voice, &data, 1.0, {}, false);
    EXPECT_FALSE(ReturnsWhileACallbackRuns(mixer, [&] { mixer.FreeVoice(voice); }));
    Gate other;
    other.released.store(true);
    mixer.AddSource(&other);
    EXPECT_FALSE(ReturnsWhileACallbackRuns(mixer, [&] { mixer.RemoveSource(&other); }));
}

// Between two renders the main thread may send more than the queues hold (a huge chord before
// an offline render): commands beyond the ring all arrive, in call order; a full schedule leaves
// out the command for the latest frame.
TEST(SoundMixer, CommandsBeyondTheQueuesCapacity) {
    Mixer mixer;
    SampleData data;
    data.rate = data.sourceRate = 44100;
    data.samples.assign(1000, 1000);
    std::vector<int16_t> out(2 * 10);
    const int voice = mixer.AllocateVoice();
    mixer.Play(voice, &data, 1.0, {}, false);
    for (int i = 0; i < Mixer::kCommandCapacity; ++i) mixer.SetGain(voice, {0.5f, 0.5f});
    mixer.SetGain(voice, {0.25f, 0.25f});
    mixer.Render(out.data(), 10);
    EXPECT_EQ(out[0], 250);
    mixer.SetGain(voice, {1.0f, 1.0f});
    mixer.Render(out.data(), 10);
    EXPECT_EQ(out[0], 1000);

    const int other = mixer.AllocateVoice();
    for (int i = 0; i < Mixer::kScheduleCapacity; ++i) mixer.StopAt(1'000'000'000 + i, other);
    mixer.Stop(voice);
    mixer.PlayAt(mixer.FramesRendered(), voice, &data, 1.0, {}, false);
    mixer.Render(out.data(), 10);
    EXPECT_EQ(out[0], 1000);
    EXPECT_EQ(mixer.DroppedCommands(), 1u);
}
