#include <gtest/gtest.h>

#include "gui/FileNames.h"
#include "support/TestFiles.h"

using gui::FindChartFile;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(FileNames, BackslashesSeparateFoldersAndCaseIsIgnoredFolderByFolder) {
    TempDir dir;
    WriteFile(dir / "Sounds" / "Drums" / "Kick.WAV", "k");
    EXPECT_EQ(FindChartFile(dir.Path(), "Sounds\\Drums\\Kick.WAV"), dir / "Sounds/Drums/Kick.WAV");
    EXPECT_EQ(FindChartFile(dir.Path(), "sounds\\DRUMS\\kick.wav"), dir / "Sounds/Drums/Kick.WAV");
    EXPECT_EQ(FindChartFile(dir.Path(), "sounds/drums/kick.wav"), dir / "Sounds/Drums/Kick.WAV");
    EXPECT_EQ(FindChartFile(dir.Path(), "\\Sounds\\\\Drums\\.\\Kick.wav"), dir / "Sounds/Drums/Kick.WAV");
    EXPECT_TRUE(FindChartFile(dir.Path(), "sounds\\drums\\snare.wav").empty());
    // A folder is not a file.
    EXPECT_TRUE(FindChartFile(dir.Path(), "Sounds\\Drums").empty());
    EXPECT_TRUE(FindChartFile(dir.Path(), "").empty());
}

TEST(FileNames, TheExactNameWinsOverOtherCases) {
    TempDir dir;
    WriteFile(dir / "a.wav", "lower");
    WriteFile(dir / "A.WAV", "upper");
    EXPECT_EQ(FindChartFile(dir.Path(), "A.WAV"), dir / "A.WAV");
    EXPECT_EQ(FindChartFile(dir.Path(), "a.wav"), dir / "a.wav");
    // No exact match: the first in name order, whatever order the folder lists them in.
    EXPECT_EQ(FindChartFile(dir.Path(), "A.wav"), dir / "A.WAV");
}

TEST(FileNames, ShiftJisNamesFindUtf8NamedFiles) {
    TempDir dir;
    WriteFile(dir / "音" / "ドラム.wav", "d");
    // "音\ドラム.WAV" in Shift-JIS; the 2nd byte of ム (83 80) is not a separator.
    EXPECT_EQ(FindChartFile(dir.Path(), "\x89\xB9\\\x83h\x83\x89\x83\x80.WAV"), dir / "音/ドラム.wav");
    // "表" (95 5C) has a backslash as its second byte: it must not split the name.
    WriteFile(dir / "表.wav", "t");
    EXPECT_EQ(FindChartFile(dir.Path(), "\x95\x5C.wav"), dir / "表.wav");
}

TEST(FileNames, Cp949NamesFindUtf8NamedFiles) {
    TempDir dir;
    WriteFile(dir / "소리" / "드럼.wav", "d");
    // "소리\드럼.WAV" in CP949 (which reads as Shift-JIS too).
    EXPECT_EQ(FindChartFile(dir.Path(), "\xBC\xD2\xB8\xAE\\\xB5\xE5\xB7\xB3.WAV"), dir / "소리/드럼.wav");
    // The second bytes of 잸 (A0 41) and 쟞 (A0 61) are the letters A and a: they stay apart.
    WriteFile(dir / "\xA0\x61.wav", "raw");
    EXPECT_TRUE(FindChartFile(dir.Path(), "\xA0\x41.wav").empty());
    EXPECT_EQ(FindChartFile(dir.Path(), "\xA0\x61.WAV"), dir / "\xA0\x61.wav");
}

TEST(FileNames, TrailingBlanksAndDotsAreIgnoredLikeOnWindows) {
    TempDir dir;
    WriteFile(dir / "bgm.wav", "b");
    EXPECT_EQ(FindChartFile(dir.Path(), "bgm.wav  "), dir / "bgm.wav");
    EXPECT_EQ(FindChartFile(dir.Path(), "bgm.wav\t"), dir / "bgm.wav");
    EXPECT_EQ(FindChartFile(dir.Path(), "BGM.wav."), dir / "bgm.wav");
}

TEST(FileNames, AMissingFileIsLookedForUnderTheOtherExtensionsInTheirOrder) {
    TempDir dir;
    const auto find = [&](std::string_view name) {
        static constexpr std::string_view kSounds[] = {".wav", ".ogg", ".flac", ".opus", ".mp3"};
        return gui::FindChartFileOrAlternative(dir.Path(), name, kSounds);
    };
    WriteFile(dir / "kick.ogg", "o");
    WriteFile(dir / "kick.MP3", "m");
    WriteFile(dir / "Snd" / "Snare.FLAC", "f");
    WriteFile(dir / "hat.wav", "w");
    WriteFile(dir / "hat.ogg", "o");
    WriteFile(dir / "v1.0" / "tom.opus", "t");
    // The name as written wins; then .wav, .ogg, .flac, .opus, .mp3, letter case ignored.
    EXPECT_EQ(find("kick.mp3"), dir / "kick.MP3");
    EXPECT_EQ(find("kick.wav"), dir / "kick.ogg");
    EXPECT_EQ(find("KICK.WAV"), dir / "kick.ogg");
    EXPECT_EQ(find("hat.mp3"), dir / "hat.wav");
    EXPECT_EQ(find("snd\\snare.wav"), dir / "Snd/Snare.FLAC");
    // Only the last dot starts the extension, and only in the file's own name; a name without
    // one, or with trailing blanks, gets the extensions added.
    EXPECT_EQ(find("v1.0\\tom"), dir / "v1.0/tom.opus");
    EXPECT_EQ(find("kick"), dir / "kick.ogg");
    EXPECT_EQ(find("kick.wav  "), dir / "kick.ogg");
    EXPECT_TRUE(find("crash.wav").empty());
    EXPECT_TRUE(find(".wav").empty());
    // Only the extensions asked for.
    static constexpr std::string_view kPictures[] = {".bmp", ".png"};
    EXPECT_TRUE(gui::FindChartFileOrAlternative(dir.Path(), "kick.bmp", kPictures).empty());
}

TEST(FileNames, AFolderCacheFindsWhatTheFolderScansFind) {
    TempDir dir;
    for (const char* name : {"a.wav", "A.WAV", "b.Wav", "Sounds/Drums/Kick.WAV", "sounds/drums/kick.ogg", "音/ドラム.wav",
                             "表.wav", "bgm.wav", "hat.ogg", "hat.MP3", "v1.0/tom.opus", "Pics/bg.PNG", "Pics/BG.jpg"})
        WriteFile(dir / name, "x");
    std::filesystem::create_directories(dir / "empty.wav");
    std::filesystem::create_symlink(dir / "gone.wav", dir / "dangling.wav");
    const std::vector<std::string> names = {
        "a.wav", "A.wav", "A.WAV", "B.WAV", "sounds\\drums\\KICK.wav", "Sounds\\Drums\\kick.ogg", "SOUNDS/drums/x.wav",
        "\x89\xB9\\\x83h\x83\x89\x83\x80.WAV", "\x95\x5C.wav", "bgm.wav  ", "BGM.wav.", "hat.wav", "HAT.mp3",
        "v1.0\\tom", "pics\\bg.bmp", "empty.wav", "dangling.wav", "missing.wav", "", ".\\a.wav", "..\\a.wav"};
    static constexpr std::string_view kExtensions[] = {".wav", ".ogg", ".flac", ".opus", ".mp3", ".png", ".jpg"};
    std::vector<std::filesystem::path> scanned;
    for (const std::string& name : names)
        scanned.push_back(gui::FindChartFileOrAlternative(dir.Path(), name, kExtensions));
    {
        const gui::ChartFolderCache cache;
        // Twice: the second round reads only what the first one kept.
        for (int round = 0; round < 2; ++round)
            for (size_t i = 0; i < names.size(); ++i)
                EXPECT_EQ(gui::FindChartFileOrAlternative(dir.Path(), names[i], kExtensions), scanned[i])
                    << "round " << round << ": " << names[i];
        // A cache made inside another one stands in for it only while it lives.
        {
            const gui::ChartFolderCache inner;
            EXPECT_EQ(FindChartFile(dir.Path(), "a.wav"), dir / "a.wav");
        }
        EXPECT_EQ(FindChartFile(dir.Path(), "b.wav"), dir / "b.Wav");
    }
    EXPECT_EQ(scanned[1], dir / "A.WAV");
    EXPECT_EQ(scanned[13], dir / "v1.0/tom.opus");
    EXPECT_TRUE(scanned[15].empty());  // a folder is not a file
    EXPECT_TRUE(scanned[17].empty());
}
