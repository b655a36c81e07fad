#include "media/Movie.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <system_error>
#include <utility>

#include "gui/Bitmap.h"
#include "gui/BmpDecode.h"
#include "media/DXDraws.h"

namespace media {
namespace {

constexpr int kScreenWidth = 320;
constexpr int kScreenHeight = 240;
// Pictures decoded ahead of the one shown, in Ahead timing.
constexpr size_t kPicturesAhead = 4;
// When the worker is this far behind, the decoder drops the pictures nothing else refers to.
constexpr int64_t kFarBehindUs = 200'000;
// The time of a picture whose stream gives none and whose rate is unknown.
constexpr int64_t kDefaultPictureUs = 40'000;

void QuietLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_ERROR); });
}

int Interrupted(void* stop) { return static_cast<const std::atomic<bool>*>(stop)->load() ? 1 : 0; }

struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};

AVFrame* NewFrame() {
    AVFrame* frame = av_frame_alloc();
    if (frame == nullptr) throw EMovieError("動画のフレームを確保できません");
    return frame;
}

}  // namespace

// A demuxer and a decoder on the video stream of one file: its pictures in presentation order,
// each with its time from the first one.
class MovieDecoder {
public:
    MovieDecoder(const std::string& path, bool exact, std::atomic<bool>* stop) {
        QuietLog();
        format_ = avformat_alloc_context();
        if (format_ == nullptr) throw EMovieError("動画を開けません");
        format_->interrupt_callback = {&Interrupted, stop};
        if (avformat_open_input(&format_, path.c_str(), nullptr, nullptr) < 0) {
            format_ = nullptr;  // freed by the failed open
            throw EMovieError(gui::Format("動画 %s を開けません", path.c_str()));
        }
        try {
            Open(exact);
        } catch (...) {
            Close();
            throw;
        }
    }
    ~MovieDecoder() { Close(); }
    MovieDecoder(const MovieDecoder&) = delete;
    MovieDecoder& operator=(const MovieDecoder&) = delete;

    int Width() const { return codec_->width; }
    int Height() const { return codec_->height; }

    // The next picture into `frame`, with its time in microseconds from the first one (never
    // earlier than the one before). False at the end of the stream, or where damage ends it.
    bool Next(AVFrame* frame, int64_t& us) {
        for (;;) {
            const int received = avcodec_receive_frame(codec_, frame);
            if (received == 0) {
                us = TimeOf(*frame);
                return true;
            }
            if (received != AVERROR(EAGAIN) || draining_) return false;
            if (av_read_frame(format_, packet_) < 0) {
                // The end of the file (or of what can be read of it): flush what the decoder holds.
                draining_ = true;
                avcodec_send_packet(codec_, nullptr);
                continue;
            }
            // A damaged packet is dropped; the pictures after it decode as well as they can.
            if (packet_->stream_index == stream_) avcodec_send_packet(codec_, packet_);
            av_packet_unref(packet_);
        }
    }

    // Whether to drop the pictures that no other picture is predicted from.
    void SkipDisposable(bool skip) { codec_->skip_frame = skip ? AVDISCARD_NONREF : AVDISCARD_DEFAULT; }

private:
    void Open(bool exact) {
        if (avformat_find_stream_info(format_, nullptr) < 0) throw EMovieError("動画の形式が分かりません");
        const AVCodec* decoder = nullptr;
        stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
        if (stream_ < 0 || decoder == nullptr) throw EMovieError("映像のない動画です");
        for (unsigned i = 0; i < format_->nb_streams; ++i)
            if (static_cast<int>(i) != stream_) format_->streams[i]->discard = AVDISCARD_ALL;
        AVStream* stream = format_->streams[stream_];
        const int64_t w = stream->codecpar->width, h = stream->codecpar->height;
        if (w <= 0 || h <= 0 || w > gui::bmp::kMaxSide || h > gui::bmp::kMaxSide || w * h > gui::bmp::kMaxPixels)
            throw EMovieError("動画の大きさが不正です");
        timeBase_ = stream->time_base;
        const AVRational rate = av_guess_frame_rate(format_, stream, nullptr);
        pictureUs_ = rate.num > 0 && rate.den > 0 ? av_rescale_q(1, av_inv_q(rate), AV_TIME_BASE_Q) : 0;
        if (pictureUs_ <= 0) pictureUs_ = kDefaultPictureUs;

        codec_ = avcodec_alloc_context3(decoder);
        if (codec_ == nullptr || avcodec_parameters_to_context(codec_, stream->codecpar) < 0)
            throw EMovieError("動画を復号できません");
        codec_->thread_count = 1;
        codec_->max_pixels = gui::bmp::kMaxPixels;
        if (exact) codec_->flags |= AV_CODEC_FLAG_BITEXACT;
        if (avcodec_open2(codec_, decoder, nullptr) < 0) throw EMovieError("動画を復号できません");
        packet_ = av_packet_alloc();
        if (packet_ == nullptr) throw EMovieError("動画を復号できません");
    }

    void Close() {
        av_packet_free(&packet_);
        avcodec_free_context(&codec_);
        avformat_close_input(&format_);
    }

    int64_t TimeOf(const AVFrame& frame) {
        const int64_t ts = frame.best_effort_timestamp;
        int64_t us = lastUs_ < 0 ? 0 : lastUs_ + pictureUs_;
        if (ts != AV_NOPTS_VALUE) {
            if (firstTs_ == AV_NOPTS_VALUE) firstTs_ = ts;
            int64_t offset = 0;
            if (!__builtin_sub_overflow(ts, firstTs_, &offset)) us = av_rescale_q(offset, timeBase_, AV_TIME_BASE_Q);
        }
        // Timestamps that run backwards (damage, or pictures before the first one) hold the time.
        us = std::max<int64_t>(us, std::max<int64_t>(lastUs_, 0));
        lastUs_ = us;
        return us;
    }

    AVFormatContext* format_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    AVPacket* packet_ = nullptr;
    int stream_ = -1;
    AVRational timeBase_{1, 1};
    int64_t pictureUs_ = kDefaultPictureUs;
    int64_t firstTs_ = AV_NOPTS_VALUE;
    int64_t lastUs_ = -1;
    bool draining_ = false;
};

// Turns decoded pictures into 320×240 screens in a surface's pixel format: scaled to the movie's
// size as XRGB, placed by the fit rectangle with the canvas copy that chart pictures use, then
// mapped to the format (at 8 bits through a copy of the surface's palette, so that a worker
// thread can map on its own).
class MovieScreen {
public:
    MovieScreen(int width, int height, const gui::TRect& fit, const TDirectDrawSurface& surface, bool exact)
        : fit_(fit),
          format_(surface.Format()),
          flags_(SWS_BILINEAR | (exact ? SWS_BITEXACT | SWS_ACCURATE_RND : 0)) {
        if (const gui::Palette* palette = surface.PaletteInForce()) palette_ = *palette;
        picture_.SetSize(width, height);
        screen_.Canvas().Brush().Color = gui::clBlack;
        screen_.SetSize(kScreenWidth, kScreenHeight);
    }
    ~MovieScreen() { sws_freeContext(scaler_); }
    MovieScreen(const MovieScreen&) = delete;
    MovieScreen& operator=(const MovieScreen&) = delete;

    static int Pitch(gui::PixelFormat format) { return kScreenWidth * gui::BytesPerPixel(format); }

    void Convert(const AVFrame& frame, std::vector<uint8_t>& pixels) {
        scaler_ = sws_getCachedContext(scaler_, frame.width, frame.height, static_cast<AVPixelFormat>(frame.format),
                                       picture_.Width(), picture_.Height(), AV_PIX_FMT_BGR0, flags_, nullptr,
                                       nullptr, nullptr);
        if (scaler_ != nullptr) {
            uint8_t* planes[4] = {reinterpret_cast<uint8_t*>(picture_.ScanLine(0)), nullptr, nullptr, nullptr};
            const int strides[4] = {picture_.Width() * 4, 0, 0, 0};
            sws_scale(scaler_, frame.data, frame.linesize, 0, frame.height, planes, strides);
        }
        screen_.Canvas().StretchDraw(fit_, picture_);
        screen_.Canvas().Release();
        const int pitch = Pitch(format_);
        pixels.resize(static_cast<size_t>(pitch) * kScreenHeight);
        const gui::PixelBuffer out{pixels.data(), kScreenWidth, kScreenHeight, pitch, format_, &palette_};
        for (int y = 0; y < kScreenHeight; ++y) {
            const uint32_t* row = screen_.ScanLine(y);
            for (int x = 0; x < kScreenWidth; ++x) out.Set(x, y, gui::XrgbToPixel(row[x] & 0xFFFFFF, format_, &palette_));
        }
    }

private:
    gui::TRect fit_;
    gui::PixelFormat format_;
    int flags_;
    gui::Palette palette_;
    gui::Bitmap picture_;
    gui::Bitmap screen_;
    SwsContext* scaler_ = nullptr;
};

Movie::Movie(const std::string& path, Timing timing) : path_(path), timing_(timing) {
    shown_ = NewFrame();
    next_ = NewFrame();
    try {
        MovieDecoder decoder(path_, timing_ == Timing::Exact, &stop_);
        int64_t us = 0;
        // Kept in shown_ until ShowOn knows where it goes.
        if (!decoder.Next(shown_, us)) throw EMovieError(gui::Format("動画 %s を復号できません", path.c_str()));
        width_ = decoder.Width();
        height_ = decoder.Height();
    } catch (...) {
        av_frame_free(&shown_);
        av_frame_free(&next_);
        throw;
    }
}

Movie::~Movie() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
    decoder_.reset();
    av_frame_free(&shown_);
    av_frame_free(&next_);
}

void Movie::ShowOn(TDirectDrawSurface& surface, const gui::TRect& fit) {
    surface_ = &surface;
    screen_ = std::make_unique<MovieScreen>(width_, height_, fit, surface, timing_ == Timing::Exact);
    screen_->Convert(*shown_, first_);
    av_frame_unref(shown_);
    Put(first_);
}

void Movie::Put(const std::vector<uint8_t>& pixels) {
    TDirectDrawSurface& s = *surface_;
    const int pitch = MovieScreen::Pitch(s.Format());
    // A surface the display has taken back (or one of another shape) keeps what it has.
    if (!s.IsCreated() || s.Lost() || s.Width() != kScreenWidth || s.Height() != kScreenHeight ||
        pixels.size() != static_cast<size_t>(pitch) * kScreenHeight)
        return;
    for (int y = 0; y < kScreenHeight; ++y)
        std::memcpy(s.Bits() + static_cast<ptrdiff_t>(y) * s.Pitch(), pixels.data() + static_cast<ptrdiff_t>(y) * pitch,
                    static_cast<size_t>(pitch));
}

void Movie::Restart() {
    if (surface_ == nullptr) return;
    started_ = true;
    Put(first_);
    if (timing_ == Timing::Exact) {
        decoder_.reset();
        av_frame_unref(shown_);
        av_frame_unref(next_);
        haveNext_ = false;
        ended_ = false;
        return;
    }
    {
        std::lock_guard lock(mutex_);
        ++generation_;
        for (Picture& picture : queue_) spare_.push_back(std::move(picture.pixels));
        queue_.clear();
        wantedUs_ = 0;
        workerDone_ = false;
    }
    if (!worker_.joinable()) {
        try {
            worker_ = std::thread(&Movie::Work, this);
        } catch (const std::system_error&) {
            // Without a thread the movie holds its first picture.
            std::lock_guard lock(mutex_);
            workerDone_ = true;
        }
    }
    wake_.notify_all();
}

void Movie::Show(double elapsedMs) {
    if (!started_ || surface_ == nullptr) return;
    const double us = std::floor(std::max(0.0, elapsedMs) * 1000.0);
    const int64_t at = us < 9.0e18 ? static_cast<int64_t>(us) : INT64_MAX;
    if (timing_ == Timing::Exact)
        ShowExact(at);
    else
        ShowAhead(at);
}

void Movie::ShowExact(int64_t us) {
    bool changed = false;
    while (!ended_) {
        if (!haveNext_) {
            try {
                if (!decoder_) decoder_ = std::make_unique<MovieDecoder>(path_, true, &stop_);
                haveNext_ = decoder_->Next(next_, nextUs_);
            } catch (const EMovieError&) {
                haveNext_ = false;
            }
            if (!haveNext_) {
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

void Movie::ShowAhead(int64_t us) {
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

std::vector<uint8_t> Movie::SparePixels() {
    std::lock_guard lock(mutex_);
    if (spare_.empty()) return {};
    std::vector<uint8_t> pixels = std::move(spare_.back());
    spare_.pop_back();
    return pixels;
}

void Movie::Work() {
    std::unique_ptr<AVFrame, FrameDeleter> held(av_frame_alloc()), fresh(av_frame_alloc());
    if (!held || !fresh) {
        std::lock_guard lock(mutex_);
        workerDone_ = true;
        return;
    }
    std::unique_ptr<MovieDecoder> decoder;
    uint64_t generation = 0;
    bool haveHeld = false;
    int64_t heldUs = 0;
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
                decoder.reset();
                haveHeld = false;
            }
            wanted = wantedUs_;
        }
        int64_t us = 0;
        bool got = false;
        try {
            // Opened anew at every start: a restart needs no seeking, which not every file allows.
            if (!decoder) decoder = std::make_unique<MovieDecoder>(path_, false, &stop_);
            got = decoder->Next(fresh.get(), us);
        } catch (const EMovieError&) {
        }
        if (!got) {
            decoder.reset();
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
        decoder->SkipDisposable(wanted - us > kFarBehindUs);
    }
}

}  // namespace media
