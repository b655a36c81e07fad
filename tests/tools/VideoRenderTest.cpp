// glimstep-render into video files: what the files hold (codecs, picture size per scale, frame
// rate, length, keyframes, sound rate and channels), that their pictures decode to the BMP frames
// of the same render and their sound to the WAV render, that two renders give the same file, and
// that bad input and Ctrl+C leave no file behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "gui/Bitmap.h"
#include "media/VideoEncoder.h"
#include "media/Wave.h"
#include "support/ClickChart.h"
#include "support/TestFiles.h"
#include "support/ToolRun.h"

namespace {

namespace fs = std::filesystem;

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

testsupport::ToolRun Render(const testsupport::TempDir& dir, const std::string& arguments) {
    return testsupport::RunTool("glimstep-render", arguments, dir / "stderr.txt");
}

// What a video file holds, as FFmpeg reads it back.
struct Decoded {
    std::string videoCodec, audioCodec;
    int width = 0, height = 0;
    AVRational frameRate{0, 1};
    AVPixelFormat pixelFormat = AV_PIX_FMT_NONE;
    AVColorSpace colorSpace = AVCOL_SPC_UNSPECIFIED;
    int64_t pictures = 0;
    int64_t longestKeyGap = 0;  // pictures from one keyframe to the next, or to the end
    int sampleRate = 0, channels = 0;
    int audioFrameSize = 0;  // the longest frame decoded
    std::map<int64_t, std::vector<uint32_t>> kept;  // the pictures asked for, as 00RRGGBB
    std::vector<int16_t> sound;                      // interleaved 16-bit
};

Decoded Decode(const fs::path& path, const std::vector<int64_t>& keep = {}) {
    av_log_set_level(AV_LOG_ERROR);
    Decoded d;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) {
        ADD_FAILURE() << "cannot open " << path;
        return d;
    }
    avformat_find_stream_info(format, nullptr);
    const int v = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const int a = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    EXPECT_GE(v, 0);
    EXPECT_GE(a, 0);
    AVCodecContext* codecs[2] = {};
    for (int i = 0; i < 2 && v >= 0 && a >= 0; ++i) {
        const AVCodecParameters* par = format->streams[i == 0 ? v : a]->codecpar;
        const AVCodec* decoder = avcodec_find_decoder(par->codec_id);
        codecs[i] = avcodec_alloc_context3(decoder);
        avcodec_parameters_to_context(codecs[i], par);
        avcodec_open2(codecs[i], decoder, nullptr);
    }
    if (v >= 0 && a >= 0) {
        const AVStream* vs = format->streams[v];
        d.videoCodec = avcodec_get_name(vs->codecpar->codec_id);
        d.audioCodec = avcodec_get_name(format->streams[a]->codecpar->codec_id);
        d.width = vs->codecpar->width;
        d.height = vs->codecpar->height;
        d.frameRate = vs->avg_frame_rate;
        d.pixelFormat = static_cast<AVPixelFormat>(vs->codecpar->format);
        d.colorSpace = vs->codecpar->color_space;
        d.sampleRate = format->streams[a]->codecpar->sample_rate;
        d.channels = format->streams[a]->codecpar->ch_layout.nb_channels;
    }
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    SwrContext* toS16 = nullptr;
    int64_t packets = 0, lastKey = 0;
    auto receive = [&](int which) {
        while (avcodec_receive_frame(codecs[which], frame) == 0) {
            if (which == 0) {
                const int64_t n = d.pictures++;
                if (std::find(keep.begin(), keep.end(), n) != keep.end()) {
                    // The stream's own matrix and range, each chroma sample spread over its pixels.
                    SwsContext* toRgb = sws_getContext(frame->width, frame->height, AVPixelFormat(frame->format),
                                                       frame->width, frame->height, AV_PIX_FMT_BGR0,
                                                       SWS_BILINEAR | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr,
                                                       nullptr, nullptr);
                    const int matrix = frame->colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_ITU601;
                    sws_setColorspaceDetails(toRgb, sws_getCoefficients(matrix), 0, sws_getCoefficients(matrix), 1,
                                             0, 1 << 16, 1 << 16);
                    std::vector<uint32_t>& out = d.kept[n];
                    out.resize(static_cast<size_t>(frame->width) * frame->height);
                    uint8_t* planes[4] = {reinterpret_cast<uint8_t*>(out.data())};
                    const int pitches[4] = {frame->width * 4};
                    sws_scale(toRgb, frame->data, frame->linesize, 0, frame->height, planes, pitches);
                    sws_freeContext(toRgb);
                    for (uint32_t& pixel : out) pixel &= 0xFFFFFF;
                }
            } else {
                if (toS16 == nullptr) {
                    swr_alloc_set_opts2(&toS16, &frame->ch_layout, AV_SAMPLE_FMT_S16, frame->sample_rate,
                                        &frame->ch_layout, AVSampleFormat(frame->format), frame->sample_rate, 0,
                                        nullptr);
                    swr_init(toS16);
                }
                const size_t at = d.sound.size();
                d.sound.resize(at + static_cast<size_t>(frame->nb_samples) * frame->ch_layout.nb_channels);
                uint8_t* out[1] = {reinterpret_cast<uint8_t*>(d.sound.data() + at)};
                const int got = swr_convert(toS16, out, frame->nb_samples, const_cast<const uint8_t**>(frame->extended_data),
                                            frame->nb_samples);
                d.sound.resize(at + static_cast<size_t>(std::max(got, 0)) * frame->ch_layout.nb_channels);
                d.audioFrameSize = std::max(d.audioFrameSize, frame->nb_samples);
            }
        }
    };
    while (codecs[0] != nullptr && av_read_frame(format, packet) >= 0) {
        const int which = packet->stream_index == v ? 0 : packet->stream_index == a ? 1 : -1;
        if (which == 0) {
            if (packet->flags & AV_PKT_FLAG_KEY) {
                d.longestKeyGap = std::max(d.longestKeyGap, packets - lastKey);
                lastKey = packets;
            }
            ++packets;
        }
        if (which >= 0) {
            avcodec_send_packet(codecs[which], packet);
            receive(which);
        }
        av_packet_unref(packet);
    }
    d.longestKeyGap = std::max(d.longestKeyGap, packets - lastKey);
    for (int i = 0; i < 2 && codecs[0] != nullptr; ++i) {
        avcodec_send_packet(codecs[i], nullptr);
        receive(i);
    }
    swr_free(&toS16);
    av_frame_free(&frame);
    av_packet_free(&packet);
    for (AVCodecContext*& c : codecs) avcodec_free_context(&c);
    avformat_close_input(&format);
    return d;
}

std::vector<int16_t> WavSamples(const fs::path& path) {
    media::TWave wave;
    wave.LoadFromFile(path.string());
    const auto* samples = reinterpret_cast<const int16_t*>(wave.Data());
    return std::vector<int16_t>(samples, samples + wave.Size() / 2);
}

struct Kind {
    const char* extension;
    const char* video;
    const char* audio;
    int sampleRate;
};
constexpr Kind kMp4{".mp4", "h264", "aac", 44100};
constexpr Kind kWebM{".webm", "vp9", "opus", 48000};
constexpr Kind kMkv{".mkv", "h264", "flac", 44100};

// One measure at 480 BPM: two seconds of song after the pause and the lead-in.
void WriteShortChart(const testsupport::TempDir& dir) {
    testsupport::WriteClickChart(dir.Path(), 5);  // for its click sounds
    testsupport::WriteFile(dir / "short.bms", "#BPM 480\n#WAV01 beat.wav\n#00011:01010101\n");
}

TEST(VideoRender, EachKindAndScaleHasItsCodecsSizeRateLengthAndKeyframes) {
    testsupport::TempDir dir;
    WriteShortChart(dir);
    const std::string chart = Quoted(dir / "short.bms");
    constexpr int kFps = 5;
    ASSERT_EQ(Render(dir, chart + " --fps 5 -o " + Quoted(dir / "short.wav")).status, 0);
    const double seconds = static_cast<double>(WavSamples(dir / "short.wav").size() / 2) / 44100;
    const Kind kinds[] = {kMp4, kWebM, kMkv, kMp4, kWebM, kMkv};
    for (int scale = 1; scale <= 6; ++scale) {
        const Kind& kind = kinds[scale - 1];
        SCOPED_TRACE(std::string(kind.extension) + " at scale " + std::to_string(scale));
        const fs::path out = dir / ("out" + std::string(kind.extension));
        const testsupport::ToolRun run =
            Render(dir, chart + " --fps 5 --scale " + std::to_string(scale) + " -o " + Quoted(out));
        ASSERT_EQ(run.status, 0) << run.err;
        // Not a terminal: no bar, one line at the end.
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_NE(run.err.find("x real time"), std::string::npos) << run.err;
        const Decoded d = Decode(out);
        EXPECT_EQ(d.videoCodec, kind.video);
        EXPECT_EQ(d.audioCodec, kind.audio);
        EXPECT_EQ(d.width, 320 * scale);
        EXPECT_EQ(d.height, 240 * scale);
        EXPECT_EQ(d.pixelFormat, AV_PIX_FMT_YUV420P);
        EXPECT_EQ(d.colorSpace, scale >= 3 ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M);
        EXPECT_EQ(av_cmp_q(d.frameRate, AVRational{kFps, 1}), 0) << d.frameRate.num << "/" << d.frameRate.den;
        EXPECT_NEAR(static_cast<double>(d.pictures) / kFps, seconds, 1.0 / kFps);
        EXPECT_LE(d.longestKeyGap, 2 * kFps);
        EXPECT_EQ(d.sampleRate, kind.sampleRate);
        EXPECT_EQ(d.channels, 2);
        EXPECT_NEAR(static_cast<double>(d.sound.size() / 2) / d.sampleRate, seconds,
                    static_cast<double>(std::max(d.audioFrameSize, 1)) / d.sampleRate);
        if (kind.extension == kMp4.extension) {
            // The index ahead of the pictures, for browsers to play while loading.
            const std::string bytes = testsupport::ReadFile(out);
            ASSERT_NE(bytes.find("moov"), std::string::npos);
            EXPECT_LT(bytes.find("moov"), bytes.find("mdat"));
        }
    }
}

// The PSNR of the luma (by the BT.709 or the BT.601 weights). The colour of a pixel at an edge
// of the pixel art also depends on how the player spreads each chroma sample over four pixels,
// so colours are checked apart.
double LumaPsnr(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b, bool bt709) {
    const double kr = bt709 ? 0.2126 : 0.299, kb = bt709 ? 0.0722 : 0.114;
    const auto luma = [kr, kb](uint32_t p) {
        return kr * ((p >> 16) & 0xFF) + (1 - kr - kb) * ((p >> 8) & 0xFF) + kb * (p & 0xFF);
    };
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += (luma(a[i]) - luma(b[i])) * (luma(a[i]) - luma(b[i]));
    const double mse = sum / static_cast<double>(a.size());
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

int ChannelDistance(uint32_t a, uint32_t b) {
    int most = 0;
    for (int shift : {0, 8, 16})
        most = std::max(most, std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)));
    return most;
}

// The click chart into a video with a few BMP frames of the same render beside it: each picture
// decodes to its frame (enlarged), the receptors in their colours, at an odd and an even scale
// with either matrix; and the sound to the WAV render's clicks, each within one audio frame of
// the encoder, with FLAC to the very samples.
TEST(VideoRender, PicturesDecodeToTheBmpFramesAndSoundToTheWavRender) {
    testsupport::TempDir dir;
    testsupport::WriteClickChart(dir.Path(), 5);
    const std::string chart = Quoted(dir / "song.bms");
    constexpr int kFps = 20;
    constexpr int kEvery = 31;
    ASSERT_EQ(Render(dir, chart + " --fps 20 -o " + Quoted(dir / "song.wav")).status, 0);
    const std::vector<int16_t> wav = WavSamples(dir / "song.wav");
    const std::vector<size_t> wavOnsets = testsupport::FindOnsets(wav.data(), wav.size() / 2);
    ASSERT_GT(wavOnsets.size(), 20u);

    for (const auto& [kind, scale] : {std::pair{kMp4, 3}, {kWebM, 2}, {kMkv, 1}}) {
        SCOPED_TRACE(kind.extension);
        const fs::path out = dir / ("song" + std::string(kind.extension));
        const fs::path frames = dir / ("frames" + std::string(kind.extension));
        const testsupport::ToolRun run =
            Render(dir, chart + " --fps 20 --scale " + std::to_string(scale) + " -o " + Quoted(out) + " --frames " +
                            Quoted(frames) + " --frame-every " + std::to_string(kEvery));
        ASSERT_EQ(run.status, 0) << run.err;
        // The song starts two seconds after the frame of the start step, and play frame n is the
        // nth after that one.
        const size_t from = run.out.find("the song from ");
        ASSERT_NE(from, std::string::npos) << run.out;
        const int64_t start = std::llround((std::stod(run.out.substr(from + 14)) - 2) * kFps);
        const auto bmpOf = [&frames, start](int64_t picture) {
            char name[32];
            std::snprintf(name, sizeof name, "frame-%06d.bmp", static_cast<int>(picture - start));
            return frames / name;
        };
        std::vector<int64_t> wanted;
        for (int64_t picture = start + 1; fs::exists(bmpOf(picture)); picture += kEvery) wanted.push_back(picture);
        ASSERT_GE(wanted.size(), 5u);
        const Decoded d = Decode(out, wanted);
        ASSERT_EQ(d.kept.size(), wanted.size());
        for (const auto& [picture, pixels] : d.kept) {
            const int64_t n = picture - start;
            gui::Bitmap bmp;
            bmp.LoadFromFile(bmpOf(picture).string());
            const int width = 320 * scale;
            std::vector<uint32_t> expected(pixels.size());
            for (int y = 0; y < 240 * scale; ++y)
                for (int x = 0; x < width; ++x)
                    expected[static_cast<size_t>(y) * width + x] = bmp.Pixel(x / scale, y / scale) & 0xFFFFFF;
            EXPECT_GE(LumaPsnr(pixels, expected, d.colorSpace == AVCOL_SPC_BT709), 35.0) << "frame " << n;
            // The receptor row (y 32 to 61): each pixel amid pixels of its colour (as far as a
            // player spreads a chroma sample at scale 1), at the middle of its block.
            int checked = 0, off = 0;
            for (int y = 34; y < 60; ++y)
                for (int x = 2; x < 318; ++x) {
                    const uint32_t colour = bmp.Pixel(x, y) & 0xFFFFFF;
                    bool uniform = true;
                    for (int dy = -2; dy <= 2; ++dy)
                        for (int dx = -2; dx <= 2; ++dx) uniform = uniform && (bmp.Pixel(x + dx, y + dy) & 0xFFFFFF) == colour;
                    if (!uniform) continue;
                    ++checked;
                    const size_t middle = static_cast<size_t>(scale * y + scale / 2) * width + scale * x + scale / 2;
                    off += ChannelDistance(pixels[middle], colour) > 12;
                }
            EXPECT_GT(checked, 1000);
            EXPECT_LE(off, checked / 100) << "frame " << n << ": " << off << " of " << checked << " receptor pixels off";
        }

        if (kind.audio == kMkv.audio) {
            EXPECT_TRUE(d.sound == wav) << d.sound.size() << " samples, the WAV " << wav.size();
            continue;
        }
        // The WAV's rate to the file's; each click within one encoder frame.
        const std::vector<size_t> onsets = testsupport::FindOnsets(d.sound.data(), d.sound.size() / 2);
        ASSERT_EQ(onsets.size(), wavOnsets.size());
        for (size_t i = 0; i < onsets.size(); ++i)
            EXPECT_NEAR(static_cast<double>(onsets[i]), static_cast<double>(wavOnsets[i]) * kind.sampleRate / 44100,
                        d.audioFrameSize)
                << "click " << i;
    }
}

TEST(VideoRender, TwoRendersGiveTheSameFile) {
    testsupport::TempDir dir;
    WriteShortChart(dir);
    for (const Kind& kind : {kMp4, kWebM}) {
        const fs::path a = dir / ("a" + std::string(kind.extension)), b = dir / ("b" + std::string(kind.extension));
        for (const fs::path& out : {a, b})
            ASSERT_EQ(Render(dir, Quoted(dir / "short.bms") + " --fps 30 --scale 2 -o " + Quoted(out)).status, 0);
        EXPECT_TRUE(testsupport::ReadFile(a) == testsupport::ReadFile(b)) << kind.extension;
    }
}

TEST(VideoRender, BadInputGivesAMessageAndLeavesNoFile) {
    testsupport::TempDir dir;
    WriteShortChart(dir);
    testsupport::WriteFile(dir / "broken.bms", "#BPM 0\n#00111:01\n");
    testsupport::WriteFile(dir / "file", "");
    const std::string chart = Quoted(dir / "short.bms");
    struct Case {
        std::string arguments;
        int status;
        std::string message;
    };
    const Case cases[] = {
        {chart + " -o " + Quoted(dir / "missing" / "out.mp4"), 2, "cannot write"},
        {chart + " -o " + Quoted(dir / "file" / "out.webm"), 2, "cannot write"},
        {chart + " -o " + Quoted(dir / "out.avi"), 2, ".wav, .mp4, .webm or .mkv"},
        {chart + " -o " + Quoted(dir / "out.mp4") + " --scale 0", 2, "--scale wants a whole number from 1 to 6"},
        {chart + " -o " + Quoted(dir / "out.mkv") + " --scale 7", 2, "--scale wants a whole number from 1 to 6"},
        {chart + " -o " + Quoted(dir / "out.mp4") + " --quality 6", 2, "--quality wants a whole number from 1 to 5"},
        {chart + " -o " + Quoted(dir / "out.wav") + " --scale 2", 2, "for video files"},
        {Quoted(dir / "broken.bms") + " -o " + Quoted(dir / "out.mp4"), 1, "異常"},
        {Quoted(dir / "none.bms") + " -o " + Quoted(dir / "out.webm"), 1, "何らかの異常があります"},
    };
    for (const Case& c : cases) {
        const testsupport::ToolRun run = Render(dir, c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.arguments << "\n" << run.err;
    }
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.Path())) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"beat.wav", "broken.bms", "file", "off.wav", "short.bms", "song.bms",
                                                "stderr.txt"}));
}

// A missing encoder is named, with the kinds that can be written instead.
TEST(VideoRender, AMissingEncoderIsNamedWithTheAlternatives) {
    const auto without = [](std::string missing) {
        return [missing](const std::string& name) { return name != missing; };
    };
    EXPECT_EQ(media::MissingEncoders(media::VideoKind::Mp4, without("none")), "");
    const std::string noX264 = media::MissingEncoders(media::VideoKind::Mp4, without("libx264"));
    EXPECT_NE(noX264.find("libx264"), std::string::npos) << noX264;
    EXPECT_NE(noX264.find(".webm"), std::string::npos) << noX264;
    EXPECT_EQ(noX264.find(".mkv"), std::string::npos) << noX264;
    const std::string noOpus = media::MissingEncoders(media::VideoKind::WebM, without("libopus"));
    EXPECT_NE(noOpus.find("libopus"), std::string::npos) << noOpus;
    EXPECT_NE(noOpus.find(".mp4"), std::string::npos) << noOpus;
    EXPECT_NE(noOpus.find(".mkv"), std::string::npos) << noOpus;
    EXPECT_NE(noOpus.find(".wav"), std::string::npos) << noOpus;
}

// Ctrl+C while the video is being encoded: the program ends and leaves no file, neither under
// the name asked for nor the temporary one.
TEST(VideoRender, CtrlCWhileEncodingLeavesNoFile) {
    testsupport::TempDir dir;
    const std::string program = std::string(GLIMSTEP_BINARY_DIR) + "/glimstep-render";
    const std::string demo = (fs::path(GLIMSTEP_BINARY_DIR) / "demo" / "demo.bms").string();
    const fs::path out = dir / "demo.mp4";
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        signal(SIGINT, SIG_DFL);
        execl(program.c_str(), program.c_str(), demo.c_str(), "-o", out.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // Until the encoder has written part of the file (or the program has ended).
    const fs::path part = out.string() + ".part-" + std::to_string(pid);
    int status = 0;
    pid_t done = 0;
    const auto written = [&part] {
        std::error_code ec;
        const uintmax_t size = fs::file_size(part, ec);
        return !ec && size > 100000;
    };
    while ((done = waitpid(pid, &status, WNOHANG)) == 0 && !written()) usleep(10000);
    ASSERT_EQ(done, 0) << "glimstep-render ended before it was interrupted";
    ASSERT_EQ(kill(pid, SIGINT), 0);
    for (int i = 0; i < 3000 && (done = waitpid(pid, &status, WNOHANG)) == 0; ++i) usleep(10000);
    if (done == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        FAIL() << "glimstep-render went on after SIGINT";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGINT) << status;
    EXPECT_TRUE(fs::is_empty(dir.Path()));
}

}  // namespace
