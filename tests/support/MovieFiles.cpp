#include "support/MovieFiles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <sys/stat.h>

#include <limits>
#include <memory>
#include <stdexcept>
#include <vector>

#include "support/TestFiles.h"

namespace testsupport {
namespace {

void Check(int result, const char* what) {
    if (result < 0) throw std::runtime_error(std::string("cannot write the test movie: ") + what);
}

// The packets the encoder has ready, into the file.
void Drain(AVCodecContext* codec, AVFormatContext* format, AVStream* stream, AVPacket* packet) {
    for (;;) {
        const int got = avcodec_receive_packet(codec, packet);
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return;
        Check(got, "encode");
        av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
        packet->stream_index = stream->index;
        Check(av_interleaved_write_frame(format, packet), "write");
    }
}

}  // namespace

void WriteMovie(const std::filesystem::path& path, const std::string& codecName, int width, int height, int fps,
                int frames, const MoviePainter& paint) {
    av_log_set_level(AV_LOG_ERROR);
    AVFormatContext* format = nullptr;
    Check(avformat_alloc_output_context2(&format, nullptr, nullptr, path.c_str()), "container");
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> formatOwner(format, [](AVFormatContext* f) {
        if (f->pb != nullptr) avio_closep(&f->pb);
        avformat_free_context(f);
    });
    const AVCodec* encoder = avcodec_find_encoder_by_name(codecName.c_str());
    if (encoder == nullptr) throw std::runtime_error("no encoder " + codecName);
    AVStream* stream = avformat_new_stream(format, nullptr);
    if (stream == nullptr) throw std::runtime_error("cannot add a stream");
    std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> codec(avcodec_alloc_context3(encoder),
                                                                    [](AVCodecContext* c) { avcodec_free_context(&c); });
    codec->width = width;
    codec->height = height;
    codec->time_base = {1, fps};
    codec->framerate = {fps, 1};
    codec->pix_fmt = AV_PIX_FMT_YUV420P;
    codec->gop_size = 6;
    // The Windows Media and MS-MPEG4 encoders have no B-frames.
    const bool noBFrames = codecName.starts_with("wmv") || codecName.starts_with("msmpeg4");
    codec->max_b_frames = noBFrames ? 0 : 2;
    // The rate the MPEG program stream muxer reserves: enough for the fine quantiser below.
    codec->bit_rate = static_cast<int64_t>(width) * height * fps * 8;
    codec->flags |= AV_CODEC_FLAG_QSCALE;
    codec->global_quality = FF_QP2LAMBDA * 2;
    if (format->oformat->flags & AVFMT_GLOBALHEADER) codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    Check(avcodec_open2(codec.get(), encoder, nullptr), "open the encoder");
    Check(avcodec_parameters_from_context(stream->codecpar, codec.get()), "stream parameters");
    stream->time_base = codec->time_base;
    Check(avio_open(&format->pb, path.c_str(), AVIO_FLAG_WRITE), "open the file");
    Check(avformat_write_header(format, nullptr), "header");

    std::unique_ptr<AVFrame, void (*)(AVFrame*)> frame(av_frame_alloc(), [](AVFrame* f) { av_frame_free(&f); });
    std::unique_ptr<AVPacket, void (*)(AVPacket*)> packet(av_packet_alloc(), [](AVPacket* p) { av_packet_free(&p); });
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width;
    frame->height = height;
    Check(av_frame_get_buffer(frame.get(), 0), "picture");
    SwsContext* scaler = sws_getContext(width, height, AV_PIX_FMT_BGR0, width, height, AV_PIX_FMT_YUV420P,
                                        SWS_POINT | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
    if (scaler == nullptr) throw std::runtime_error("no colour conversion");
    std::vector<uint32_t> rgb(static_cast<size_t>(width) * height);
    for (int k = 0; k < frames; ++k) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) rgb[static_cast<size_t>(y) * width + x] = paint(k, x, y);
        Check(av_frame_make_writable(frame.get()), "picture");
        const uint8_t* planes[4] = {reinterpret_cast<const uint8_t*>(rgb.data()), nullptr, nullptr, nullptr};
        const int strides[4] = {width * 4, 0, 0, 0};
        sws_scale(scaler, planes, strides, 0, height, frame->data, frame->linesize);
        frame->pts = k;
        frame->quality = codec->global_quality;
        Check(avcodec_send_frame(codec.get(), frame.get()), "encode");
        Drain(codec.get(), format, stream, packet.get());
    }
    sws_freeContext(scaler);
    Check(avcodec_send_frame(codec.get(), nullptr), "flush");
    Drain(codec.get(), format, stream, packet.get());
    Check(av_write_trailer(format), "trailer");
}

uint32_t MovieColour(int k) {
    static const std::vector<uint32_t> colours = [] {
        std::vector<uint32_t> out;
        const uint32_t levels[3] = {0x00, 0x80, 0xFF};
        for (uint32_t r : levels)
            for (uint32_t g : levels)
                for (uint32_t b : levels) {
                    const uint32_t c = r << 16 | g << 8 | b;
                    if (c != 0 && c != 0xFF00FF) out.push_back(c);
                }
        return out;
    }();
    return colours.at(static_cast<size_t>(k));
}

int MoviePictureOf(uint32_t xrgb) {
    int best = -1;
    int64_t bestDistance = std::numeric_limits<int64_t>::max();
    for (int k = 0; k < kMovieColours; ++k) {
        int64_t distance = 0;
        for (int shift : {0, 8, 16}) {
            const int64_t d = static_cast<int64_t>((xrgb >> shift) & 0xFF) - ((MovieColour(k) >> shift) & 0xFF);
            distance += d * d;
        }
        if (distance < bestDistance) {
            bestDistance = distance;
            best = k;
        }
    }
    return best;
}

void WriteNumberedMovie(const std::filesystem::path& path, const std::string& codec, int width, int height, int fps,
                        int frames) {
    WriteMovie(path, codec, width, height, fps, frames, [](int k, int, int) { return MovieColour(k); });
}

std::vector<std::string> WriteMovieImpostors(const std::filesystem::path& dir) {
    const std::string live = "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXT-X-MEDIA-SEQUENCE:0\n#EXTINF:2,\n";
    WriteFile(dir / "live.m3u8", live + "empty.ts\n");
    WriteFile(dir / "empty.ts", "");
    WriteFile(dir / "piped.m3u8", live + "pipe.ts\n");
    if (mkfifo((dir / "pipe.ts").c_str(), 0600) != 0 || mkfifo((dir / "pipe.mpg").c_str(), 0600) != 0)
        throw std::runtime_error("cannot make a FIFO");
    WriteFile(dir / "picture.png",
              "/* XPM */\nstatic char *p[] = {\n\"2 2 2 1\",\n\"a c #FF0000\",\n\"b c #00FF00\",\n\"ab\",\n\"ba\"};\n");
    Bytes huge;
    huge.Text("\x89PNG\r\n\x1a\n").U32(0x0D000000).Text("IHDR");
    huge.U8(0).U8(0).U8(0x3E).U8(0x80).U8(0).U8(0).U8(0x3E).U8(0x80).U8(8).U8(2).Zeros(7);  // 16000 × 16000 RGB
    huge.U32(0x10000000).Text("IDAT").Zeros(20).Zeros(4).Text("IEND").Zeros(4);
    WriteFile(dir / "huge.png", huge.Data());
    return {"live.m3u8", "piped.m3u8", "pipe.mpg", "picture.png", "huge.png"};
}

}  // namespace testsupport
