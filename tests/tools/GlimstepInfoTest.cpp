// Runs glimstep-info on charts the tests write and checks its exit status and JSON.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/TestFiles.h"
#include "support/ToolRun.h"

namespace {

using testsupport::ToolRun;

ToolRun Info(const std::string& arguments) { return testsupport::RunTool("glimstep-info", arguments); }

TEST(GlimstepInfo, PrintsTheLoadedChartAsOneLineOfJson) {
    testsupport::TempDir dir;
    testsupport::Bytes wav;
    wav.Text("RIFF").U32(40).Text("WAVE").Text("fmt ").U32(16).U16(1).U16(1).U32(8000).U32(16000).U16(2).U16(16);
    wav.Text("data").U32(4).U16(0).U16(0);
    testsupport::WriteFile(dir / "Sound" / "Kick.wav", wav.Data());
    // Shift-JIS title "曲" with a quote and a backslash around it.
    testsupport::WriteFile(dir / "a.bms",
                           "#TITLE \"\x8B\xC8\\\r\n#ARTIST me\r\n#GENRE g\r\n#TYPE t\r\n#BPM 133.5\r\n#PLAYLEVEL 4\r\n"
                           "#RANK 1\r\n#TOTAL 250\r\n#VOLWAV 90\r\n#PLAYER 2\r\n#WAV01 sound\\kick.WAV\r\n"
                           "#WAV02 gone.wav\r\n#00111:0100\r\n#00103:F0\r\n");
    const ToolRun run = Info("'" + (dir / "a.bms").string() + "'");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out,
              "{\"loaded\":true,\"title\":\"\\\"曲\\\\\",\"artist\":\"me\",\"genre\":\"g\",\"chartType\":\"t\","
              "\"bpm\":133.5,\"playLevel\":4,\"rank\":1,\"total\":250,\"volWav\":90,\"playerMode\":2,"
              "\"midiFile\":\"\",\"sounds\":[1],\"soundFiles\":{\"1\":\"Sound/Kick.wav\"},"
              "\"objects\":[[11,128,1],[200,128,240],[200,384,120]],"
              "\"tempoMap\":[[0,0],[1798,128],[3798,384]],\"endPosition\":640}\n");
}

TEST(GlimstepInfo, FailedLoadsAndUsageErrors) {
    testsupport::TempDir dir;
    ToolRun run = Info("'" + (dir / "missing.bms").string() + "'");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "{\"loaded\":false}\n");
    testsupport::WriteFile(dir / "zero.bms", "#BPM 0\n#00111:01\n");
    run = Info("'" + (dir / "zero.bms").string() + "'");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "{\"loaded\":false}\n");
    EXPECT_EQ(Info("").status, 2);
    EXPECT_EQ(Info("a b").status, 2);
}

}  // namespace
