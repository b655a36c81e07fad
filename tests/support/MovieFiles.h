// Writes small movies with FFmpeg's own encoders, for tests of movie backgrounds: picture k of a
// test movie is a solid colour that tells k, so a picture can be identified after compression,
// scaling and an 8-bit palette.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// Colour (00RRGGBB) of the pixel (x, y) of picture k.
using MoviePainter = std::function<uint32_t(int k, int x, int y)>;

// Writes `frames` pictures of width×height at `fps` with the encoder named `codec`
// ("mpeg1video", "mpeg4", "wmv2"), in the container that the file's extension names (.mpg, .avi,
// .wmv, ...). MPEG-1 and MPEG-4 use B-frames, so that pictures are decoded out of order. Raises
// std::runtime_error when FFmpeg cannot write it.
void WriteMovie(const std::filesystem::path& path, const std::string& codec, int width, int height, int fps,
                int frames, const MoviePainter& paint);

// The colour of picture k (k < kMovieColours): the colours of a cube of the levels 0, 128 and 255
// without black (a layer's colour key) and magenta, all of them entries of the sprite sheet's
// palette.
constexpr int kMovieColours = 25;
uint32_t MovieColour(int k);
// The picture whose colour is nearest to `xrgb`.
int MoviePictureOf(uint32_t xrgb);

// A movie whose picture k is MovieColour(k) all over.
void WriteNumberedMovie(const std::filesystem::path& path, const std::string& codec, int width, int height, int fps,
                        int frames);

// Files that a chart may name as a movie but that are none, each in `dir`, by name: a live HLS
// playlist (no end marker) whose segment holds no packets, a playlist whose segment is a FIFO,
// a FIFO, an XPM picture named .png, and a PNG header of 16000×16000. Returns the names.
std::vector<std::string> WriteMovieImpostors(const std::filesystem::path& dir);

}  // namespace testsupport
