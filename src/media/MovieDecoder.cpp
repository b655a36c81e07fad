#include "media/MovieDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <utility>

namespace media {
namespace {

// The demuxers of movie backgrounds: MPEG program and elementary streams, AVI, ASF (WMV), MP4/MOV,
// Matroska/WebM. Playlists, concatenation lists and picture formats are not among them.
constexpr const char* kFormats = "mpeg,mpegvideo,avi,asf,mov,matroska";
// Motion JPEG is left out: its pictures are JPEGs, whose progressive scans cost unbounded time.
constexpr AVCodecID kCodecs[] = {
    AV_CODEC_ID_MPEG1VIDEO, AV_CODEC_ID_MPEG2VIDEO, AV_CODEC_ID_MPEG4, AV_CODEC_ID_MSMPEG4V1, AV_CODEC_ID_MSMPEG4V2,
    AV_CODEC_ID_MSMPEG4V3,  AV_CODEC_ID_WMV1,       AV_CODEC_ID_WMV2,  AV_CODEC_ID_WMV3,      AV_CODEC_ID_VC1,
    AV_CODEC_ID_H264,       AV_CODEC_ID_HEVC,       AV_CODEC_ID_VP8,   AV_CODEC_ID_VP9,       AV_CODEC_ID_AV1,
    AV_CODEC_ID_THEORA,
};
// Time for opening a file and decoding one picture; reading a regular file takes milliseconds.
constexpr int64_t kOpenBudgetMs = 3000;
constexpr int64_t kPictureBudgetMs = 2000;
// The time of a picture whose stream gives none and whose rate is unknown.
constexpr int64_t kDefaultPictureUs = 40'000;
constexpr int kIoBufferSize = 32768;

std::atomic<int> openDecoders{0};
std::atomic<int64_t> decodedPictures{0};

// FFmpeg's own messages stay off stderr: a file it refuses or finds damaged is told by EMovieError.
void QuietLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool IsKeyFrame(const AVFrame& frame) {
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(58, 7, 100)
    return (frame.flags & AV_FRAME_FLAG_KEY) != 0;
#else
    return frame.key_frame != 0;
#endif
}

bool SizeTaken(int64_t w, int64_t h) {
    return w > 0 && h > 0 && w <= kMaxMovieSide && h <= kMaxMovieSide && w * h <= kMaxMoviePixels;
}

}  // namespace

MovieDecoder::MovieDecoder(const std::string& path, bool exact, const MovieInfo* known) : exact_(exact) {
    QuietLog();
    try {
        Open(path, known);
    } catch (...) {
        Close();
        throw;
    }
    ++openDecoders;
}

MovieDecoder::~MovieDecoder() {
    Close();
    --openDecoders;
}

int MovieDecoder::OpenCount() { return openDecoders.load(); }

int64_t MovieDecoder::PictureCount() { return decodedPictures.load(); }

void MovieDecoder::Open(const std::string& path, const MovieInfo* known) {
    const std::string refused = gui::Format("動画 %s を開けません", path.c_str());
    // Non-blocking, so that a FIFO cannot hold the open; it is refused below as not a regular file.
    fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (fd_ < 0 || fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) throw EMovieError(refused);
    StartDeadline(kOpenBudgetMs);

    auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
    if (buffer == nullptr) throw EMovieError(refused);
    io_ = avio_alloc_context(buffer, kIoBufferSize, 0, this, &Read, nullptr, &Seek);
    if (io_ == nullptr) {
        av_free(buffer);
        throw EMovieError(refused);
    }
    format_ = avformat_alloc_context();
    if (format_ == nullptr) throw EMovieError(refused);
    format_->pb = io_;
    format_->interrupt_callback = {&Interrupted, this};
    AVDictionary* options = nullptr;
    av_dict_set(&options, "format_whitelist", kFormats, 0);
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    const int opened = avformat_open_input(&format_, nullptr, nullptr, &options);
    av_dict_free(&options);
    if (opened < 0) {
        format_ = nullptr;  // freed by the failed open
        throw EMovieError(gui::Format("動画 %s は対応している動画の形式ではありません", path.c_str()));
    }
    if (avformat_find_stream_info(format_, nullptr) < 0 || Expired())
        throw EMovieError(gui::Format("動画 %s の形式が分かりません", path.c_str()));
    const AVCodec* decoder = nullptr;
    stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (stream_ < 0 || decoder == nullptr) throw EMovieError(gui::Format("動画 %s には映像がありません", path.c_str()));
    if (std::find(std::begin(kCodecs), std::end(kCodecs), decoder->id) == std::end(kCodecs))
        throw EMovieError(gui::Format("動画 %s の映像の形式 (%s) には対応していません", path.c_str(), decoder->name));
    for (unsigned i = 0; i < format_->nb_streams; ++i)
        if (static_cast<int>(i) != stream_) format_->streams[i]->discard = AVDISCARD_ALL;
    AVStream* stream = format_->streams[stream_];
    const int64_t w = stream->codecpar->width, h = stream->codecpar->height;
    if (w > 0 && h > 0 && !SizeTaken(w, h))
        throw EMovieError(gui::Format("動画 %s は大きすぎます (%lld×%lld、上限 %lld 画素)", path.c_str(),
                                      static_cast<long long>(w), static_cast<long long>(h),
                                      static_cast<long long>(kMaxMoviePixels)));
    timeBaseNum_ = stream->time_base.num;
    timeBaseDen_ = stream->time_base.den;
    const AVRational rate = av_guess_frame_rate(format_, stream, nullptr);
    pictureUs_ = rate.num > 0 && rate.den > 0 ? av_rescale_q(1, av_inv_q(rate), AV_TIME_BASE_Q) : 0;
    if (pictureUs_ <= 0) pictureUs_ = kDefaultPictureUs;

    const std::string undecodable = gui::Format("動画 %s を復号できません", path.c_str());
    codec_ = avcodec_alloc_context3(decoder);
    if (codec_ == nullptr || avcodec_parameters_to_context(codec_, stream->codecpar) < 0)
        throw EMovieError(undecodable);
    codec_->thread_count = 1;
    codec_->max_pixels = kMaxMoviePixels;
    if (exact_) codec_->flags |= AV_CODEC_FLAG_BITEXACT;
    if (avcodec_open2(codec_, decoder, nullptr) < 0) throw EMovieError(undecodable);
    packet_ = av_packet_alloc();
    if (packet_ == nullptr) throw EMovieError(undecodable);

    if (known != nullptr) {
        info_ = *known;
        return;
    }
    first_ = av_frame_alloc();
    int64_t us = 0;
    if (first_ == nullptr || !ReadPicture(first_, us)) throw EMovieError(undecodable);
    if (!SizeTaken(first_->width, first_->height))
        throw EMovieError(gui::Format("動画 %s は大きすぎます (%d×%d、上限 %lld 画素)", path.c_str(), first_->width,
                                      first_->height, static_cast<long long>(kMaxMoviePixels)));
    info_.width = first_->width;
    info_.height = first_->height;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        info_.durationUs = av_rescale_q(stream->duration, stream->time_base, AV_TIME_BASE_Q);
    else if (format_->duration != AV_NOPTS_VALUE && format_->duration > 0)
        info_.durationUs = format_->duration;
}

void MovieDecoder::Close() {
    av_frame_free(&first_);
    av_packet_free(&packet_);
    avcodec_free_context(&codec_);
    avformat_close_input(&format_);
    if (io_ != nullptr) {
        av_freep(&io_->buffer);
        avio_context_free(&io_);
    }
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

AVFrame* MovieDecoder::TakeFirstPicture() { return std::exchange(first_, nullptr); }

void MovieDecoder::StartDeadline(int64_t budgetMs) { deadlineNs_ = NowNs() + budgetMs * 1'000'000; }

bool MovieDecoder::Expired() const { return NowNs() > deadlineNs_; }

int MovieDecoder::Interrupted(void* self) { return static_cast<const MovieDecoder*>(self)->Expired() ? 1 : 0; }

int MovieDecoder::Read(void* self, uint8_t* buffer, int size) {
    auto* decoder = static_cast<MovieDecoder*>(self);
    if (decoder->Expired()) return AVERROR_EXIT;
    for (;;) {
        const ssize_t n = ::read(decoder->fd_, buffer, static_cast<size_t>(size));
        if (n > 0) return static_cast<int>(n);
        if (n == 0) return AVERROR_EOF;
        if (errno != EINTR) return AVERROR(errno);
    }
}

int64_t MovieDecoder::Seek(void* self, int64_t offset, int whence) {
    auto* decoder = static_cast<MovieDecoder*>(self);
    if (whence & AVSEEK_SIZE) {
        struct stat st {};
        return fstat(decoder->fd_, &st) == 0 ? st.st_size : AVERROR(errno);
    }
    const off_t at = lseek(decoder->fd_, offset, whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : at;
}

bool MovieDecoder::Next(AVFrame* frame, int64_t& us) {
    atStart_ = false;
    return ReadPicture(frame, us);
}

bool MovieDecoder::ReadPicture(AVFrame* frame, int64_t& us) {
    StartDeadline(kPictureBudgetMs);
    for (;;) {
        const int received = avcodec_receive_frame(codec_, frame);
        if (received == 0) {
            // A picture whose size the movie does not have is damage: it is dropped.
            const bool sized = info_.width == 0 || (frame->width == info_.width && frame->height == info_.height);
            const int64_t ts = frame->best_effort_timestamp;
            if (sized && seeking_ && IsKeyFrame(*frame) && ts != AV_NOPTS_VALUE) {
                seeking_ = false;
                seekTs_ = ts;
            }
            if (!sized || seeking_ || (seekTs_ != AV_NOPTS_VALUE && ts != AV_NOPTS_VALUE && ts < seekTs_)) {
                av_frame_unref(frame);
                continue;
            }
            us = TimeOf(ts);
            ++decodedPictures;
            return true;
        }
        if (received != AVERROR(EAGAIN) || draining_ || Expired()) return false;
        if (av_read_frame(format_, packet_) < 0) {
            // The end of the file (or of what can be read of it): flush what the decoder holds.
            if (Expired()) return false;
            draining_ = true;
            avcodec_send_packet(codec_, nullptr);
            continue;
        }
        // A damaged packet is dropped; the pictures after it decode as well as they can.
        if (packet_->stream_index == stream_) avcodec_send_packet(codec_, packet_);
        av_packet_unref(packet_);
    }
}

bool MovieDecoder::SeekTo(int64_t us) {
    if (!info_.timed) return false;
    const AVRational timeBase{timeBaseNum_, timeBaseDen_};
    const int64_t offset = av_rescale_q(us, AV_TIME_BASE_Q, timeBase);
    int64_t target = 0;
    if (__builtin_add_overflow(info_.firstTs, offset, &target)) return false;
    atStart_ = false;
    StartDeadline(kPictureBudgetMs);
    if (avformat_seek_file(format_, stream_, INT64_MIN, target, target, 0) < 0 || Expired()) return false;
    avcodec_flush_buffers(codec_);
    draining_ = false;
    seeking_ = true;
    seekTs_ = AV_NOPTS_VALUE;
    lastUs_ = -1;
    return true;
}

void MovieDecoder::SkipDisposable(bool skip) { codec_->skip_frame = skip ? AVDISCARD_NONREF : AVDISCARD_DEFAULT; }

int64_t MovieDecoder::TimeOf(int64_t ts) {
    int64_t us = lastUs_ < 0 ? 0 : lastUs_ + pictureUs_;
    if (ts != AV_NOPTS_VALUE) {
        if (!info_.timed) {
            info_.timed = true;
            info_.firstTs = ts;
        }
        int64_t offset = 0;
        if (!__builtin_sub_overflow(ts, info_.firstTs, &offset))
            us = av_rescale_q(offset, AVRational{timeBaseNum_, timeBaseDen_}, AV_TIME_BASE_Q);
    }
    // Timestamps that run backwards (damage, or pictures before the first one) hold the time.
    us = std::max<int64_t>(us, std::max<int64_t>(lastUs_, 0));
    lastUs_ = us;
    return us;
}

}  // namespace media
