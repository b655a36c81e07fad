#include "media/MoviePlayback.h"

extern "C" {
#include <libavutil/frame.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <system_error>
#include <utility>

#include "media/DXDraws.h"

namespace media {
namespace {

// Pictures decoded ahead of the one shown, in Ahead timing.
constexpr size_t kPicturesAhead = 4;
// When the worker is this far behind, the decoder drops the pictures nothing else refers to.
constexpr int64_t kFarBehindUs = 200'000;

// The playbacks on stage, and a count of the calls that order them: a playback whose last Show
// came before another's Restart was replaced by it on the screen.
struct Stage {
    std::mutex mutex;
    std::vector<MoviePlayback*> onStage;
    uint64_t tick = 0;
};

Stage& TheStage() {
    static Stage stage;
    return stage;
}

AVFrame* NewFrame() {
    AVFrame* frame = av_frame_alloc();
    if (frame == nullptr) throw std::bad_alloc();
    return frame;
}

}  // namespace

std::atomic<int> MoviePlayback::workers_{0};

int MoviePlayback::WorkerCount() { return workers_.load(); }

std::unique_ptr<MovieScreen> MoviePlayback::NewScreen() const {
    return std::make_unique<MovieScreen>(fit_, surface_->Format(), surface_->PaletteInForce(), source_->Exact());
}

void MoviePlayback::ShowOn(TDirectDrawSurface& surface, const gui::TRect& fit) {
    surface_ = &surface;
    fit_ = fit;
    first_ = source_->FirstScreen(fit, surface.Format(), surface.PaletteInForce());
    Put(*first_);
}

void MoviePlayback::Put(const std::vector<uint8_t>& pixels) {
    TDirectDrawSurface& s = *surface_;
    const int pitch = MovieScreen::Pitch(s.Format());
    // A surface the display has taken back (or one of another shape) keeps what it has.
    if (!s.IsCreated() || s.Lost() || s.Width() != MovieScreen::kWidth || s.Height() != MovieScreen::kHeight ||
        pixels.size() != static_cast<size_t>(pitch) * MovieScreen::kHeight)
        return;
    for (int y = 0; y < MovieScreen::kHeight; ++y)
        std::memcpy(s.Bits() + static_cast<ptrdiff_t>(y) * s.Pitch(), pixels.data() + static_cast<ptrdiff_t>(y) * pitch,
                    static_cast<size_t>(pitch));
}

void MoviePlayback::Restart() {
    if (surface_ == nullptr) return;
    Stage& stage = TheStage();
    std::lock_guard lock(stage.mutex);
    restartTick_ = ++stage.tick;
    started_ = true;
    finished_ = false;
    Put(*first_);
    Rewind();
    // A head start when there is room; the first Show makes room otherwise.
    GoOnStage(false);
}

void MoviePlayback::Show(double elapsedMs) {
    if (!started_ || finished_ || surface_ == nullptr) return;
    const double us = std::floor(std::max(0.0, elapsedMs) * 1000.0);
    const int64_t at = us < 9.0e18 ? static_cast<int64_t>(us) : INT64_MAX;
    Stage& stage = TheStage();
    std::lock_guard lock(stage.mutex);
    shownTick_ = ++stage.tick;
    if (!GoOnStage(true)) return;
    ShowAt(at);
    // One that has shown its last picture leaves the stage; a Restart brings it back.
    if (Finished()) {
        finished_ = true;
        std::erase(stage.onStage, this);
        onStage_ = false;
        Leave();
    }
}

bool MoviePlayback::GoOnStage(bool evict) {
    if (onStage_) return true;
    std::vector<MoviePlayback*>& onStage = TheStage().onStage;
    // Without making room, a playback of the same file on stage keeps its decoder until the
    // first Show tells whether this one replaced it.
    if (!evict && std::any_of(onStage.begin(), onStage.end(), [&](auto* other) { return other->source_ == source_; }))
        return false;
    // A playback of the same file that was replaced by this one hands its decoder over.
    for (MoviePlayback* other : std::vector<MoviePlayback*>(onStage)) {
        if (!evict || other->source_ != source_ || other->shownTick_ >= restartTick_) continue;
        std::erase(onStage, other);
        other->onStage_ = false;
        other->Leave();
    }
    if (onStage.size() >= kMaxOnStage) {
        if (!evict) return false;
        // Else the one replaced on the screen, or the one shown least recently.
        auto leaving = std::min_element(onStage.begin(), onStage.end(), [&](MoviePlayback* a, MoviePlayback* b) {
            const bool aReplaced = a->shownTick_ < restartTick_, bReplaced = b->shownTick_ < restartTick_;
            if (aReplaced != bReplaced) return aReplaced;
            return a->shownTick_ < b->shownTick_;
        });
        MoviePlayback* other = *leaving;
        onStage.erase(leaving);
        other->onStage_ = false;
        other->Leave();
    }
    onStage.push_back(this);
    onStage_ = true;
    Enter();
    return true;
}

void MoviePlayback::LeaveStage() {
    Stage& stage = TheStage();
    std::lock_guard lock(stage.mutex);
    if (!onStage_) return;
    std::erase(stage.onStage, this);
    onStage_ = false;
    Leave();
}

// Exact: every picture is decoded on the calling thread, in order, from the start or from a keyframe.

ExactPlayback::ExactPlayback(std::shared_ptr<MovieSource> source) : MoviePlayback(std::move(source)) {
    shown_ = NewFrame();
    next_ = NewFrame();
}

ExactPlayback::~ExactPlayback() {
    LeaveStage();
    av_frame_free(&shown_);
    av_frame_free(&next_);
}

void ExactPlayback::Enter() {
    decoder_ = source_->TakeDecoder();
    positioned_ = false;
    if (!screen_) screen_ = NewScreen();
}

void ExactPlayback::Leave() {
    haveNext_ = false;
    positioned_ = false;
    av_frame_unref(shown_);
    av_frame_unref(next_);
    screen_.reset();
    source_->ReturnDecoder(std::move(decoder_));
}

void ExactPlayback::Rewind() {
    av_frame_unref(shown_);
    av_frame_unref(next_);
    haveNext_ = false;
    ended_ = false;
    positioned_ = false;
}

void ExactPlayback::Reposition(int64_t us) {
    positioned_ = true;
    haveNext_ = false;
    if (us >= kSeekAheadUs) {
        if (!decoder_) decoder_ = source_->NewDecoder();
        // The keyframe at or before the time and the pictures after it decode as they do in a play
        // from the start; one after the time means the file's index cannot be trusted.
        if (decoder_ && decoder_->SeekTo(us)) {
            haveNext_ = decoder_->Next(next_, nextUs_);
            if (haveNext_ && nextUs_ <= us) return;
            av_frame_unref(next_);
            haveNext_ = false;
        }
        decoder_.reset();
    }
    if (!decoder_ || !decoder_->AtStart()) decoder_ = source_->NewDecoder();
}

void ExactPlayback::ShowAt(int64_t us) {
    if (ended_) return;
    if (!positioned_ || (haveNext_ && us - nextUs_ >= kSeekAheadUs)) Reposition(us);
    bool changed = false;
    while (!ended_) {
        if (!haveNext_) {
            haveNext_ = decoder_ && decoder_->Next(next_, nextUs_);
            if (!haveNext_) {
                // The last picture stays; its decoder has nothing more to give.
                ended_ = true;
                decoder_.reset();
                break;
            }
        }
        if (nextUs_ > us) break;
        std::swap(shown_, next_);
        av_frame_unref(next_);
        haveNext_ = false;
        changed = true;
    }
    if (!changed) return;
    screen_->Convert(*shown_, converted_);
    Put(converted_);
}

// Ahead: a worker decodes and converts a few pictures ahead; Show takes the one due.

AheadPlayback::AheadPlayback(std::shared_ptr<MovieSource> source) : MoviePlayback(std::move(source)) {}

AheadPlayback::~AheadPlayback() { LeaveStage(); }

void AheadPlayback::Enter() {
    decoder_ = source_->TakeDecoder();
    screen_ = NewScreen();
    {
        std::lock_guard lock(mutex_);
        stop_ = false;
        workerDone_ = false;
    }
    try {
        worker_ = std::thread(&AheadPlayback::Work, this);
    } catch (const std::system_error&) {
        // Without a thread the movie holds the picture it shows.
        std::lock_guard lock(mutex_);
        workerDone_ = true;
    }
}

void AheadPlayback::Leave() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        queue_.clear();
    }
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
    screen_.reset();
    spare_.clear();
    source_->ReturnDecoder(std::move(decoder_));
}

void AheadPlayback::Rewind() {
    {
        std::lock_guard lock(mutex_);
        ++generation_;
        for (Picture& picture : queue_) spare_.push_back(std::move(picture.pixels));
        queue_.clear();
        wantedUs_ = 0;
        workerDone_ = false;
    }
    wake_.notify_all();
}

bool AheadPlayback::Finished() {
    std::lock_guard lock(mutex_);
    return workerDone_ && queue_.empty();
}

void AheadPlayback::ShowAt(int64_t us) {
    std::lock_guard lock(mutex_);
    wantedUs_ = us;
    while (queue_.size() >= 2 && queue_[1].us <= us) {
        spare_.push_back(std::move(queue_.front().pixels));
        queue_.pop_front();
    }
    if (!queue_.empty() && queue_.front().us <= us) {
        Put(queue_.front().pixels);
        spare_.push_back(std::move(queue_.front().pixels));
        queue_.pop_front();
    }
    if (spare_.size() > kPicturesAhead) spare_.resize(kPicturesAhead);
    wake_.notify_all();
}

std::vector<uint8_t> AheadPlayback::SparePixels() {
    std::lock_guard lock(mutex_);
    if (spare_.empty()) return {};
    std::vector<uint8_t> pixels = std::move(spare_.back());
    spare_.pop_back();
    return pixels;
}

void AheadPlayback::Work() {
    ++workers_;
    struct Done {
        ~Done() { --workers_; }
    } done;
    std::unique_ptr<AVFrame, void (*)(AVFrame*)> held(av_frame_alloc(), [](AVFrame* f) { av_frame_free(&f); });
    std::unique_ptr<AVFrame, void (*)(AVFrame*)> fresh(av_frame_alloc(), [](AVFrame* f) { av_frame_free(&f); });
    uint64_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        if (!held || !fresh) {
            workerDone_ = true;
            return;
        }
        generation = generation_;
    }
    bool haveHeld = false, seeked = false, sinceSeek = false;
    int64_t heldUs = 0;
    // The decoder handed over continues from the start only if it has read nothing yet.
    bool positioned = decoder_ && decoder_->AtStart();
    // Converts the held picture and queues it, unless the movie was restarted meanwhile.
    auto deliver = [&] {
        std::vector<uint8_t> pixels = SparePixels();
        screen_->Convert(*held, pixels);
        std::lock_guard lock(mutex_);
        if (generation_ == generation) queue_.push_back({heldUs, std::move(pixels)});
    };
    for (;;) {
        int64_t wanted = 0;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] {
                return stop_ || generation_ != generation || (!workerDone_ && queue_.size() < kPicturesAhead);
            });
            if (stop_) return;
            if (generation_ != generation) {
                generation = generation_;
                positioned = false;
                haveHeld = false;
                seeked = false;
                sinceSeek = false;
            }
            wanted = wantedUs_;
        }
        if (!positioned) {
            // From the start: the decoder goes back to its first picture, or the file is opened anew.
            if (!decoder_ || !decoder_->SeekTo(0)) decoder_ = source_->NewDecoder();
            positioned = true;
        }
        // Far behind the time wanted (a start from an offset): on from the keyframe before it.
        if (decoder_ && !seeked && wanted - (haveHeld ? heldUs : 0) >= kSeekAheadUs) {
            seeked = true;
            sinceSeek = decoder_->SeekTo(wanted);
            if (!sinceSeek) decoder_ = source_->NewDecoder();
        }
        int64_t us = 0;
        const bool got = decoder_ && decoder_->Next(fresh.get(), us);
        if (!got && sinceSeek) {
            // A seek that leads to no picture (a damaged or cut file) is undone: on from the start.
            sinceSeek = false;
            decoder_ = source_->NewDecoder();
            continue;
        }
        sinceSeek = false;
        if (!got) {
            decoder_.reset();
            // The last picture is shown however late it is: it stays on at the end.
            if (haveHeld) deliver();
            haveHeld = false;
            std::lock_guard lock(mutex_);
            if (generation_ == generation) workerDone_ = true;
            continue;
        }
        // The held picture is skipped when the one after it is already due.
        if (haveHeld && us > wanted) deliver();
        std::swap(held, fresh);
        av_frame_unref(fresh.get());
        heldUs = us;
        haveHeld = true;
        decoder_->SkipDisposable(wanted - us > kFarBehindUs);
    }
}

}  // namespace media
