// Writes a seed corpus for fuzz_movie: tiny movies of each codec and container a chart may name,
// with moving content and B-frames, so that fuzzing starts inside the demuxers and decoders
// rather than at the allow-lists. Encoders this FFmpeg lacks are skipped.
//     fuzz_movie_seeds <folder>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "support/MovieFiles.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_movie_seeds <folder>\n");
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);
    struct Seed {
        const char* file;
        const char* codec;
    };
    const Seed seeds[] = {{"mpeg1.mpg", "mpeg1video"}, {"mpeg2.mpg", "mpeg2video"}, {"mpeg2.m2v", "mpeg2video"},
                          {"divx.avi", "mpeg4"},       {"msmpeg4.avi", "msmpeg4"},  {"wmv1.wmv", "wmv1"},
                          {"wmv2.asf", "wmv2"},        {"mpeg4.mp4", "mpeg4"},      {"mpeg4.mov", "mpeg4"},
                          {"vp8.webm", "libvpx"},      {"vp9.mkv", "libvpx-vp9"},   {"theora.mkv", "libtheora"},
                          {"h264.mp4", "libx264"}};
    int written = 0;
    for (const Seed& seed : seeds) {
        try {
            testsupport::WriteMovie(folder / seed.file, seed.codec, 24, 16, 25, 8, [](int k, int x, int y) {
                return static_cast<uint32_t>((x * 10 + k * 30) & 0xFF) << 16 | static_cast<uint32_t>((y * 15) & 0xFF) << 8 |
                       static_cast<uint32_t>(k * 31 & 0xFF);
            });
            ++written;
        } catch (const std::exception& error) {
            std::fprintf(stderr, "%s skipped: %s\n", seed.file, error.what());
            std::filesystem::remove(folder / seed.file);
        }
    }
    std::printf("%d seeds in %s\n", written, folder.c_str());
    return written > 0 ? 0 : 1;
}
