#include "media/VideoEncoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "gui/Convert.h"

namespace media {
namespace {

// Fixed, not the machine's core count: the encoders' output depends on their thread count.
constexpr int kEncoderThreads = 4;
// Work handed over and not yet encoded: a few frames' pictures and sound, so the caller runs
// ahead only so far and the memory stays small.
constexpr size_t kMaxPending = 24;

struct KindInfo {
    VideoKind kind;
    const char* extension;
    const char* muxer;
    const char* video;
    const char* audio;
    const char* names;
};

constexpr KindInfo kKinds[] = {
    {VideoKind::Mp4, ".mp4", "mp4", "libx264", "aac", "H.264 and AAC"},
    {VideoKind::WebM, ".webm", "webm", "libvpx-vp9", "libopus", "VP9 and Opus"},
    {VideoKind::Mkv, ".mkv", "matroska", "libx264", "flac", "H.264 and FLAC"},
};

const KindInfo& Info(VideoKind kind) {
    for (const KindInfo& info : kKinds)
        if (info.kind == kind) return info;
    return kKinds[0];
}

// Per quality level, from the smallest file to the best: the encoders' constant-quality
// factors (lower is better) and the lossy sound's bit rates.
constexpr int kX264Crf[] = {30, 26, 22, 19, 16};
constexpr int kVp9Crf[] = {44, 38, 32, 27, 22};
constexpr int kAacBitRate[] = {96000, 128000, 160000, 192000, 256000};
constexpr int kOpusBitRate[] = {64000, 96000, 128000, 160000, 192000};

std::string ErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

void Check(int result, const char* what) {
    if (result < 0) throw EVideoError(std::string(what) + ": " + ErrorText(result));
}

template <typename T, void (*Free)(T**)>
struct Owned {
    T* p = nullptr;
    Owned() = default;
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() { Free(&p); }
    T* operator->() const { return p; }
    operator T*() const { return p; }
};

void FreeSws(SwsContext** c) {
    sws_freeContext(*c);
    *c = nullptr;
}

void FreeFifo(AVAudioFifo** f) {
    if (*f != nullptr) av_audio_fifo_free(*f);
    *f = nullptr;
}

// Each of `count` bytes `Scale` times over.
template <int Scale>
void RepeatBytes(const uint8_t* in, size_t count, uint8_t* out) {
    for (size_t x = 0; x < count; ++x)
        for (int k = 0; k < Scale; ++k) *out++ = in[x];
}

using RepeatFunction = void (*)(const uint8_t*, size_t, uint8_t*);
constexpr RepeatFunction kRepeat[] = {nullptr,        RepeatBytes<1>, RepeatBytes<2>, RepeatBytes<3>,
                                      RepeatBytes<4>, RepeatBytes<5>, RepeatBytes<6>};

}  // namespace

std::optional<VideoKind> VideoKindOf(const std::string& path) {
    const std::string extension = gui::UpperCase(std::filesystem::path(path).extension().string());
    for (const KindInfo& info : kKinds)
        if (extension == gui::UpperCase(info.extension)) return info.kind;
    return std::nullopt;
}

bool HasEncoder(const std::string& name) { return avcodec_find_encoder_by_name(name.c_str()) != nullptr; }

std::string MissingEncoders(VideoKind kind, const EncoderLookup& has) {
    const KindInfo& info = Info(kind);
    std::string missing;
    for (const char* name : {info.video, info.audio})
        if (!has(name)) missing += std::string(missing.empty() ? "" : " and ") + name;
    if (missing.empty()) return {};
    std::string others;
    for (const KindInfo& other : kKinds)
        if (other.kind != kind && has(other.video) && has(other.audio))
            others += std::string(other.extension) + " (" + other.names + "), ";
    return std::string("FFmpeg on this system has no ") + missing + " encoder, which " + info.extension + " (" +
           info.names + ") needs; write " + others + "or .wav instead";
}

class VideoEncoder::Work {
public:
    Work(const std::string& path, const VideoSettings& settings) : settings_(settings), info_(Info(settings.kind)) {
        av_log_set_level(AV_LOG_ERROR);
        packet_.p = av_packet_alloc();
        if (!packet_) throw EVideoError("out of memory");
        Check(avformat_alloc_output_context2(&format_.p, nullptr, info_.muxer, path.c_str()), "container");
        // No random identifiers and no dates: the same render gives the same file.
        format_->flags |= AVFMT_FLAG_BITEXACT;
        OpenVideo();
        OpenAudio();
        Check(avio_open(&format_->pb, path.c_str(), AVIO_FLAG_WRITE), ("cannot write " + path).c_str());
        AVDictionary* options = nullptr;
        // The index at the front, so that a browser plays the file while it is still loading.
        if (settings_.kind == VideoKind::Mp4) av_dict_set(&options, "movflags", "+faststart", 0);
        const int header = avformat_write_header(format_, &options);
        av_dict_free(&options);
        Check(header, "cannot start the file");
        thread_ = std::thread([this] { Run(); });
    }

    ~Work() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable()) thread_.join();
        if (format_ && format_->pb != nullptr) avio_closep(&format_->pb);
    }

    void AddPicture(const uint32_t* xrgb, int64_t frames) {
        if (frames <= 0) return;
        Item item;
        item.frames = frames;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            WaitForRoom(lock);
            if (!sparePictures_.empty()) {
                item.picture = std::move(sparePictures_.back());
                sparePictures_.pop_back();
            }
        }
        item.picture.assign(xrgb, xrgb + static_cast<size_t>(settings_.width) * settings_.height);
        Push(std::move(item));
    }

    void AddSound(const int16_t* stereo, size_t frames) {
        if (frames == 0) return;
        Item item;
        item.sound.assign(stereo, stereo + frames * 2);
        std::unique_lock<std::mutex> lock(mutex_);
        WaitForRoom(lock);
        lock.unlock();
        Push(std::move(item));
    }

    void Finish() {
        Item end;
        end.end = true;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (failure_.empty()) {
                pending_.push_back(std::move(end));
                changed_.notify_all();
            }
        }
        if (thread_.joinable()) thread_.join();
        if (!failure_.empty()) throw EVideoError(failure_);
        Check(avio_closep(&format_->pb), "cannot complete the file");
    }

    int Width() const { return settings_.width * settings_.scale; }
    int Height() const { return settings_.height * settings_.scale; }
    const char* Names() const { return info_.names; }

private:
    struct Item {
        std::vector<uint32_t> picture;
        std::vector<int16_t> sound;
        int64_t frames = 0;
        bool end = false;
    };

    void WaitForRoom(std::unique_lock<std::mutex>& lock) {
        changed_.wait(lock, [this] { return pending_.size() < kMaxPending || !failure_.empty(); });
        if (!failure_.empty()) throw EVideoError(failure_);
    }

    void Push(Item item) {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.push_back(std::move(item));
        changed_.notify_all();
    }

    // The encoding thread: takes the work in order until the end, then completes the file.
    void Run() {
        try {
            for (;;) {
                Item item;
                {
                    std::unique_lock<std::mutex> lock(mutex_);
                    changed_.wait(lock, [this] { return stop_ || !pending_.empty(); });
                    if (stop_) return;
                    item = std::move(pending_.front());
                    pending_.pop_front();
                    changed_.notify_all();
                }
                if (item.end) break;
                if (!item.picture.empty()) {
                    EncodePicture(item.picture.data(), item.frames);
                    std::lock_guard<std::mutex> lock(mutex_);
                    sparePictures_.push_back(std::move(item.picture));
                } else {
                    EncodeSound(item.sound.data(), item.sound.size() / 2);
                }
            }
            FlushSound();
            Check(avcodec_send_frame(video_, nullptr), "cannot encode the pictures");
            Drain(video_, videoStream_);
            Check(av_write_trailer(format_), "cannot complete the file");
        } catch (const EVideoError& e) {
            std::lock_guard<std::mutex> lock(mutex_);
            failure_ = e.Message();
            changed_.notify_all();
        }
    }

    void OpenVideo() {
        const AVCodec* encoder = avcodec_find_encoder_by_name(info_.video);
        if (encoder == nullptr) throw EVideoError(MissingEncoders(settings_.kind));
        video_.p = avcodec_alloc_context3(encoder);
        if (!video_) throw EVideoError("out of memory");
        video_->width = Width();
        video_->height = Height();
        video_->time_base = {1, settings_.fps};
        video_->framerate = {settings_.fps, 1};
        video_->pix_fmt = AV_PIX_FMT_YUV420P;
        video_->gop_size = 2 * settings_.fps;  // a picture to start from at least every 2 s
        video_->thread_count = kEncoderThreads;
        // Players take the BT.601 matrix for pictures smaller than HD and BT.709 from 720 lines
        // on when a stream does not say; this one says, and matches what they would take.
        const bool hd = Height() >= 720;
        video_->colorspace = hd ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
        video_->color_primaries = AVCOL_PRI_BT709;
        video_->color_trc = AVCOL_TRC_BT709;
        video_->color_range = AVCOL_RANGE_MPEG;
        // Each chroma sample is the mean of its 2×2 pixels.
        video_->chroma_sample_location = AVCHROMA_LOC_CENTER;
        if (format_->oformat->flags & AVFMT_GLOBALHEADER) video_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        const int q = settings_.quality - kMinQuality;
        AVDictionary* options = nullptr;
        if (std::strcmp(info_.video, "libx264") == 0) {
            av_dict_set(&options, "preset", "veryfast", 0);
            av_dict_set_int(&options, "crf", kX264Crf[q], 0);
        } else {
            video_->bit_rate = 0;
            av_dict_set_int(&options, "crf", kVp9Crf[q], 0);
            // The real-time mode: as fast as H.264 at veryfast; the good mode takes three times
            // as long for files about half as big.
            av_dict_set(&options, "deadline", "realtime", 0);
            av_dict_set_int(&options, "cpu-used", 6, 0);
            av_dict_set_int(&options, "row-mt", 1, 0);
            av_dict_set_int(&options, "tile-columns", 2, 0);
        }
        const int opened = avcodec_open2(video_, encoder, &options);
        av_dict_free(&options);
        Check(opened, (std::string("cannot set up the ") + info_.video + " encoder").c_str());
        videoStream_ = NewStream(video_);

        picture_.p = av_frame_alloc();
        if (!picture_) throw EVideoError("out of memory");
        picture_->format = AV_PIX_FMT_YUV420P;
        picture_->width = Width();
        picture_->height = Height();
        Check(av_frame_get_buffer(picture_, 0), "out of memory");
        const int w = settings_.width, h = settings_.height;
        toYuv_.p = sws_getContext(w, h, AV_PIX_FMT_BGR0, w, h, AV_PIX_FMT_YUV444P,
                                  SWS_POINT | SWS_ACCURATE_RND | SWS_BITEXACT, nullptr, nullptr, nullptr);
        if (!toYuv_) throw EVideoError("no colour conversion");
        sws_setColorspaceDetails(toYuv_, sws_getCoefficients(SWS_CS_DEFAULT), 1,
                                 sws_getCoefficients(hd ? SWS_CS_ITU709 : SWS_CS_ITU601), 0, 0, 1 << 16, 1 << 16);
        for (auto& plane : full_) plane.resize(static_cast<size_t>(w) * h);
        // The picture column and row of each pixel of the video.
        for (int x = 0; x < Width(); ++x) column_.push_back(static_cast<uint16_t>(x / settings_.scale));
        for (int y = 0; y < Height(); ++y) row_.push_back(static_cast<uint16_t>(y / settings_.scale));
    }

    void OpenAudio() {
        const AVCodec* encoder = avcodec_find_encoder_by_name(info_.audio);
        if (encoder == nullptr) throw EVideoError(MissingEncoders(settings_.kind));
        audio_.p = avcodec_alloc_context3(encoder);
        if (!audio_) throw EVideoError("out of memory");
        // The mixer's rate where the encoder takes it (Opus takes 48 kHz).
        int rate = settings_.sampleRate;
        if (encoder->supported_samplerates != nullptr) {
            int best = 0;
            for (const int* r = encoder->supported_samplerates; *r != 0; ++r) {
                if (*r == settings_.sampleRate) best = *r;
                if (best != settings_.sampleRate) best = std::max(best, *r);
            }
            rate = best;
        }
        audio_->sample_rate = rate;
        audio_->time_base = {1, rate};
        audio_->sample_fmt = encoder->sample_fmts != nullptr ? encoder->sample_fmts[0] : AV_SAMPLE_FMT_S16;
        av_channel_layout_default(&audio_->ch_layout, 2);
        const int q = settings_.quality - kMinQuality;
        if (std::strcmp(info_.audio, "aac") == 0) audio_->bit_rate = kAacBitRate[q];
        if (std::strcmp(info_.audio, "libopus") == 0) audio_->bit_rate = kOpusBitRate[q];
        if (format_->oformat->flags & AVFMT_GLOBALHEADER) audio_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        Check(avcodec_open2(audio_, encoder, nullptr), (std::string("cannot set up the ") + info_.audio + " encoder").c_str());
        audioStream_ = NewStream(audio_);
        frameSize_ = audio_->frame_size > 0 ? audio_->frame_size : 4096;

        if (audio_->sample_fmt != AV_SAMPLE_FMT_S16 || rate != settings_.sampleRate) {
            AVChannelLayout stereo;
            av_channel_layout_default(&stereo, 2);
            Check(swr_alloc_set_opts2(&resample_.p, &audio_->ch_layout, audio_->sample_fmt, rate, &stereo,
                                      AV_SAMPLE_FMT_S16, settings_.sampleRate, 0, nullptr),
                  "no sound conversion");
            Check(swr_init(resample_), "no sound conversion");
        }
        fifo_.p = av_audio_fifo_alloc(audio_->sample_fmt, 2, frameSize_ * 2);
        sound_.p = av_frame_alloc();
        if (!fifo_ || !sound_) throw EVideoError("out of memory");
    }

    AVStream* NewStream(AVCodecContext* codec) {
        AVStream* stream = avformat_new_stream(format_, nullptr);
        if (stream == nullptr) throw EVideoError("out of memory");
        Check(avcodec_parameters_from_context(stream->codecpar, codec), "stream parameters");
        stream->time_base = codec->time_base;
        if (codec == video_.p) stream->avg_frame_rate = codec->framerate;
        return stream;
    }

    void EncodePicture(const uint32_t* xrgb, int64_t frames) {
        Check(av_frame_make_writable(picture_), "out of memory");
        Enlarge(xrgb);
        for (int64_t i = 0; i < frames; ++i) {
            picture_->pts = nextPicture_++;
            Check(avcodec_send_frame(video_, picture_), "cannot encode the pictures");
            Drain(video_, videoStream_);
        }
    }

    // The picture in the video's colours at full resolution, then each pixel repeated scale ×
    // scale times; a chroma sample is the mean of the four pixels it stands for, which with odd
    // scales may come from two picture pixels in each direction.
    void Enlarge(const uint32_t* xrgb) {
        const int w = settings_.width, h = settings_.height, s = settings_.scale;
        const uint8_t* source[4] = {reinterpret_cast<const uint8_t*>(xrgb), nullptr, nullptr, nullptr};
        const int sourcePitch[4] = {w * 4, 0, 0, 0};
        uint8_t* planes[4] = {full_[0].data(), full_[1].data(), full_[2].data(), nullptr};
        const int pitches[4] = {w, w, w, 0};
        sws_scale(toYuv_, source, sourcePitch, 0, h, planes, pitches);

        const size_t outWidth = static_cast<size_t>(w) * s;
        const RepeatFunction repeat = kRepeat[std::clamp(s, 1, 6)];
        for (int y = 0; y < h; ++y) {
            uint8_t* first = picture_->data[0] + static_cast<ptrdiff_t>(y) * s * picture_->linesize[0];
            repeat(full_[0].data() + static_cast<size_t>(y) * w, static_cast<size_t>(w), first);
            for (int k = 1; k < s; ++k) std::memcpy(first + k * picture_->linesize[0], first, outWidth);
        }
        const size_t chromaWidth = outWidth / 2;
        for (int plane = 1; plane <= 2; ++plane) {
            const uint8_t* in = full_[plane].data();
            for (int cy = 0; cy < h * s / 2; ++cy) {
                const uint8_t* top = in + static_cast<size_t>(row_[2 * cy]) * w;
                const uint8_t* bottom = in + static_cast<size_t>(row_[2 * cy + 1]) * w;
                uint8_t* out = picture_->data[plane] + static_cast<ptrdiff_t>(cy) * picture_->linesize[plane];
                if (s % 2 == 0) {
                    // Each 2×2 block lies in one picture pixel.
                    kRepeat[s / 2](top, static_cast<size_t>(w), out);
                    continue;
                }
                for (size_t cx = 0; cx < chromaWidth; ++cx) {
                    const uint16_t left = column_[2 * cx], right = column_[2 * cx + 1];
                    out[cx] = static_cast<uint8_t>((top[left] + top[right] + bottom[left] + bottom[right] + 2) >> 2);
                }
            }
        }
    }

    void EncodeSound(const int16_t* stereo, size_t frames) {
        if (!resample_) {
            const void* data[1] = {stereo};
            WriteFifo(const_cast<void**>(data), static_cast<int>(frames));
        } else {
            Resample(reinterpret_cast<const uint8_t*>(stereo), static_cast<int>(frames));
        }
        while (av_audio_fifo_size(fifo_) >= frameSize_) SendSound(frameSize_);
    }

    // Converts `frames` of the mixer's sound (all that the resampler holds back with none) into
    // the encoder's format and rate, into the FIFO.
    void Resample(const uint8_t* stereo, int frames) {
        const int room = swr_get_out_samples(resample_, frames);
        Check(room, "cannot convert the sound");
        if (room > convertedRoom_) {
            av_freep(&converted_[0]);
            Check(av_samples_alloc(converted_, nullptr, 2, room, audio_->sample_fmt, 0), "out of memory");
            convertedRoom_ = room;
        }
        const uint8_t* in[1] = {stereo};
        const int got = swr_convert(resample_, converted_, room, frames > 0 ? in : nullptr, frames);
        Check(got, "cannot convert the sound");
        WriteFifo(reinterpret_cast<void**>(converted_), got);
    }

    void WriteFifo(void** data, int frames) {
        if (frames > 0 && av_audio_fifo_write(fifo_, data, frames) < frames) throw EVideoError("out of memory");
    }

    void SendSound(int frames) {
        av_frame_unref(sound_);
        sound_->nb_samples = frames;
        sound_->format = audio_->sample_fmt;
        sound_->sample_rate = audio_->sample_rate;
        Check(av_channel_layout_copy(&sound_->ch_layout, &audio_->ch_layout), "out of memory");
        Check(av_frame_get_buffer(sound_, 0), "out of memory");
        const int got = av_audio_fifo_read(fifo_, reinterpret_cast<void**>(sound_->data), frames);
        if (got < frames) {
            // The last frame of an encoder that takes whole frames only: silence after the end.
            av_samples_set_silence(sound_->data, got, frames - got, 2, audio_->sample_fmt);
        }
        sound_->pts = nextSound_;
        nextSound_ += frames;
        Check(avcodec_send_frame(audio_, sound_), "cannot encode the sound");
        Drain(audio_, audioStream_);
    }

    void FlushSound() {
        if (resample_) Resample(nullptr, 0);
        while (av_audio_fifo_size(fifo_) >= frameSize_) SendSound(frameSize_);
        const int rest = av_audio_fifo_size(fifo_);
        if (rest > 0) {
            const bool shortLast = audio_->codec->capabilities &
                                   (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
            SendSound(shortLast ? rest : frameSize_);
        }
        Check(avcodec_send_frame(audio_, nullptr), "cannot encode the sound");
        Drain(audio_, audioStream_);
        av_freep(&converted_[0]);
    }

    // The packets the encoder has ready, into the file.
    void Drain(AVCodecContext* codec, AVStream* stream) {
        for (;;) {
            const int got = avcodec_receive_packet(codec, packet_);
            if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return;
            Check(got, codec == video_.p ? "cannot encode the pictures" : "cannot encode the sound");
            // Every picture lasts one frame, the last one too.
            if (codec == video_.p && packet_->duration == 0) packet_->duration = 1;
            av_packet_rescale_ts(packet_, codec->time_base, stream->time_base);
            packet_->stream_index = stream->index;
            Check(av_interleaved_write_frame(format_, packet_), "cannot write the file");
        }
    }

    static void FreeFormat(AVFormatContext** f) {
        avformat_free_context(*f);
        *f = nullptr;
    }

    const VideoSettings settings_;
    const KindInfo& info_;
    Owned<AVFormatContext, FreeFormat> format_;
    Owned<AVCodecContext, avcodec_free_context> video_;
    Owned<AVCodecContext, avcodec_free_context> audio_;
    AVStream* videoStream_ = nullptr;
    AVStream* audioStream_ = nullptr;
    Owned<AVFrame, av_frame_free> picture_;
    Owned<AVFrame, av_frame_free> sound_;
    Owned<AVPacket, av_packet_free> packet_;
    Owned<SwsContext, FreeSws> toYuv_;
    Owned<SwrContext, swr_free> resample_;
    Owned<AVAudioFifo, FreeFifo> fifo_;
    std::vector<uint8_t> full_[3];
    std::vector<uint16_t> column_;
    std::vector<uint16_t> row_;
    uint8_t* converted_[AV_NUM_DATA_POINTERS] = {};  // one buffer, a pointer per plane
    int convertedRoom_ = 0;
    int frameSize_ = 0;
    int64_t nextPicture_ = 0;
    int64_t nextSound_ = 0;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Item> pending_;
    std::vector<std::vector<uint32_t>> sparePictures_;
    std::string failure_;
    bool stop_ = false;
    std::thread thread_;
};

VideoEncoder::VideoEncoder(const std::string& path, const VideoSettings& settings)
    : work_(std::make_unique<Work>(path, settings)) {}
VideoEncoder::~VideoEncoder() = default;
void VideoEncoder::AddPicture(const uint32_t* xrgb, int64_t frames) { work_->AddPicture(xrgb, frames); }
void VideoEncoder::AddSound(const int16_t* stereo, size_t frames) { work_->AddSound(stereo, frames); }
void VideoEncoder::Finish() { work_->Finish(); }
int VideoEncoder::OutputWidth() const { return work_->Width(); }
int VideoEncoder::OutputHeight() const { return work_->Height(); }
const char* VideoEncoder::CodecNames() const { return work_->Names(); }

}  // namespace media
