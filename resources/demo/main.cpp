// Writes the demo chart with its sounds, pictures and MIDI backing track into a folder.
// With --mixdown FILE it also writes the chart's sounds mixed at their times, for listening.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "Files.h"
#include "Song.h"

int main(int argc, char** argv)
{
    if (argc != 2 && !(argc == 4 && std::string(argv[2]) == "--mixdown")) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER [--mixdown FILE.wav]\n", argv[0]);
        return 2;
    }
    try {
        const std::filesystem::path folder = argv[1];
        std::filesystem::create_directories(folder);
        demo::Song song;
        for (const demo::SoundFile& file : song.Sounds()) demo::WriteBytes(folder / file.name, demo::EncodeWav(file.sound));
        for (const demo::PictureFile& file : song.Pictures()) {
            demo::WriteBytes(folder / file.name, demo::EncodeBmp(file.picture));
        }
        demo::WriteBytes(folder / "demo.mid", song.Midi());
        std::string chart = song.ChartText();
        demo::WriteBytes(folder / "demo.bms", std::vector<uint8_t>(chart.begin(), chart.end()));
        if (argc == 4) {
            demo::Stereo mix = song.Mixdown();
            std::printf("mixdown: %.1f s, peak %.3f, %zu sounds\n", mix.Frames() / double(demo::kSampleRate), mix.Peak(),
                        song.Sounds().size());
            demo::WriteBytes(argv[3], demo::EncodeWav(mix));
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "demo generator: %s\n", e.what());
        return 1;
    }
    return 0;
}
