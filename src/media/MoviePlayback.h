// How a chart slot plays its movie into its surface, in one of two strategies over the file's
// shared source: AheadPlayback (a worker thread decodes a few pictures ahead and Show never waits
// for it) and ExactPlayback (Show decodes on the calling thread exactly the picture due, the same
// on every run: the offline renderer). A playback decodes only while it is on stage: at most
// kMaxOnStage of them in the process, the two a play screen shows at once (base and layer).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "gui/Graphics.h"
#include "media/MovieDecoder.h"
#include "media/MovieScreen.h"
#include "media/MovieSource.h"

struct AVFrame;

namespace media {

class TDirectDrawSurface;

class MoviePlayback {
public:
    static constexpr size_t kMaxOnStage = 2;
    // A first Show after a start, or a late one, further ahead than this seeks instead of decoding
    // every picture up to the time asked.
    static constexpr int64_t kSeekAheadUs = 1'500'000;

    explicit MoviePlayback(std::shared_ptr<MovieSource> source) : source_(std::move(source)) {}
    virtual ~MoviePlayback() = default;
    MoviePlayback(const MoviePlayback&) = delete;
    MoviePlayback& operator=(const MoviePlayback&) = delete;

    const MovieSource& Source() const { return *source_; }
    void ShowOn(TDirectDrawSurface& surface, const gui::TRect& fit);
    void Restart();
    void Show(double elapsedMs);

    // The decode workers running in the process, for tests of the bounds.
    static int WorkerCount();

protected:
    // Called with the stage lock held.
    virtual void Enter() = 0;
    virtual void Leave() = 0;
    virtual void Rewind() = 0;
    virtual void ShowAt(int64_t us) = 0;
    virtual bool Finished() { return false; }
    // Derived destructors call this first, while their state is whole.
    void LeaveStage();
    void Put(const std::vector<uint8_t>& pixels);
    std::unique_ptr<MovieScreen> NewScreen() const;

    std::shared_ptr<MovieSource> source_;
    TDirectDrawSurface* surface_ = nullptr;
    gui::TRect fit_{};
    static std::atomic<int> workers_;

private:
    bool GoOnStage(bool evict);

    std::shared_ptr<const std::vector<uint8_t>> first_;
    bool started_ = false;
    // The last picture is shown; nothing more until a Restart.
    bool finished_ = false;
    bool onStage_ = false;
    uint64_t restartTick_ = 0;
    uint64_t shownTick_ = 0;
};

class ExactPlayback : public MoviePlayback {
public:
    explicit ExactPlayback(std::shared_ptr<MovieSource> source);
    ~ExactPlayback() override;

private:
    void Enter() override;
    void Leave() override;
    void Rewind() override;
    void ShowAt(int64_t us) override;
    bool Finished() override { return ended_; }
    void Reposition(int64_t us);

    std::unique_ptr<MovieDecoder> decoder_;
    std::unique_ptr<MovieScreen> screen_;
    AVFrame* shown_ = nullptr;
    AVFrame* next_ = nullptr;
    int64_t nextUs_ = 0;
    bool haveNext_ = false;
    // Whether the decoder continues this playback's pictures.
    bool positioned_ = false;
    bool ended_ = false;
    std::vector<uint8_t> converted_;
};

class AheadPlayback : public MoviePlayback {
public:
    explicit AheadPlayback(std::shared_ptr<MovieSource> source);
    ~AheadPlayback() override;

private:
    struct Picture {
        int64_t us = 0;
        std::vector<uint8_t> pixels;
    };

    void Enter() override;
    void Leave() override;
    void Rewind() override;
    void ShowAt(int64_t us) override;
    bool Finished() override;
    void Work();
    std::vector<uint8_t> SparePixels();

    // Handed to the worker while it runs, back when it has ended.
    std::unique_ptr<MovieDecoder> decoder_;
    std::unique_ptr<MovieScreen> screen_;
    std::thread worker_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Picture> queue_;
    std::vector<std::vector<uint8_t>> spare_;
    uint64_t generation_ = 0;
    int64_t wantedUs_ = 0;
    bool workerDone_ = false;
    bool stop_ = false;
};

}  // namespace media
