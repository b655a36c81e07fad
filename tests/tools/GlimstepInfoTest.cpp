// Runs glimstep-info on charts the tests write and checks its exit status and JSON.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

#include "support/TestFiles.h"
#include "support/ToolRun.h"

namespace {

using testsupport::ToolRun;

ToolRun Info(const std::string& arguments, const std::filesystem::path& errFile = {}) {
    return testsupport::RunTool("glimstep-info", arguments, errFile);
}

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
                           "#WAV02 gone.wav\r\n#WAV03 GONE.wav\r\n#WAV04 gone.wav\r\n#MIDIFILE none.mid\r\n"
                           "#00111:0100\r\n#00103:F0\r\n");
    const ToolRun run = Info("'" + (dir / "a.bms").string() + "'", dir / "err.txt");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out,
              "{\"loaded\":true,\"title\":\"\\\"曲\\\\\",\"artist\":\"me\",\"genre\":\"g\",\"chartType\":\"t\","
              "\"bpm\":133.5,\"playLevel\":4,\"rank\":1,\"total\":250,\"volWav\":90,\"playerMode\":2,"
              "\"midiFile\":\"\",\"sounds\":[1],\"soundFiles\":{\"1\":\"Sound/Kick.wav\"},"
              "\"missingFiles\":[\"gone.wav\",\"none.mid\"],"
              "\"objects\":[[11,128,1],[200,128,240],[200,384,120]],"
              "\"tempoMap\":[[0,0],[1798,128],[3798,384]],\"endPosition\":640}\n");
    // Each missing file once (letter case aside) on stderr, with the names looked for.
    EXPECT_EQ(run.err,
              "glimstep-info: " + dir.Path().string() + ": line 12: file not found: gone.wav (tried gone.wav, gone.ogg, "
              "gone.flac, gone.opus, gone.mp3)\n" +
              "glimstep-info: " + dir.Path().string() + ": line 15: file not found: none.mid (tried none.mid)\n");
}

TEST(GlimstepInfo, FailedLoadsSayTheRealCauseAndVerboseListsTheDroppedLines) {
    testsupport::TempDir dir;
    std::string longMeasures;
    for (int m = 100; m < 200; ++m) longMeasures += "#" + std::to_string(m) + "02:2000000\n";
    testsupport::WriteFile(dir / "zero.bms", "#BPM 0\n#00111:01\n");
    testsupport::WriteFile(dir / "long.bms", "#BPM 120\n" + longMeasures + "#99911:01\n");
    const struct {
        std::string chart;
        const char* cause;
    } failures[] = {{"missing.bms", "missing.bms: there is no such file\n"},
                    {"zero.bms", "zero.bms: the tempo (#BPM) is 0: a chart needs a tempo above 0\n"},
                    {"long.bms", "long.bms: the length of measure 191 (2000000.000, channel 02) moves the chart"}};
    for (const auto& f : failures) {
        const ToolRun run = Info("'" + (dir / f.chart).string() + "'", dir / "err.txt");
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "{\"loaded\":false}\n");
        EXPECT_NE(run.err.find(f.cause), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("tempo") != std::string::npos, f.chart == "zero.bms") << run.err;
    }

    testsupport::WriteFile(dir / "a.bms", "#TITLE a\r\n#00111:01ZZ\r\n#PLAYLEVEL x\r\n");
    const std::string chart = (dir / "a.bms").string();
    ToolRun run = Info("--verbose '" + chart + "'", dir / "err.txt");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "glimstep-info: " + chart + ":2: line dropped: 'ZZ' は 16 進数ではありません\n" +
                           "glimstep-info: " + chart + ":3: line dropped: 'x' は整数ではありません\n");
    EXPECT_EQ(Info("'" + chart + "'", dir / "err.txt").err, "");
    EXPECT_EQ(Info("--verbose --bogus '" + chart + "'").status, 2);
}

TEST(GlimstepInfo, FilesTooLargeToHoldWhatTheyShouldAreRefusedUnreadWithAMessage) {
    // Sparse files: gigabytes that take no disk, and must take no memory either.
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "huge.wav", "");
    std::filesystem::resize_file(dir / "huge.wav", uint64_t{20} << 30);
    testsupport::WriteFile(dir / "a.bms", "#WAV01 huge.wav\r\n#00111:01\r\n");
    ToolRun run = Info("--verbose '" + (dir / "a.bms").string() + "'", dir / "err.txt");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("\"sounds\":[],"), std::string::npos) << run.out;
    const std::string why = "too large for a sound file (20480 MB; at most 3516 MB)";
    EXPECT_NE(run.err.find("huge.wav: not loaded: " + why + "\n"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(":1: line dropped: " + why + "\n"), std::string::npos) << run.err;

    std::filesystem::resize_file(dir / "a.bms", uint64_t{1} << 30);
    run = Info("'" + (dir / "a.bms").string() + "'", dir / "err.txt");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "{\"loaded\":false}\n");
    EXPECT_NE(run.err.find("a.bms: too large for a chart file (1024 MB; at most 64 MB)\n"), std::string::npos) << run.err;
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

TEST(GlimstepInfo, ExtendedAddsTheScheduleAndTheArrowsWithExactTimes) {
    testsupport::TempDir dir;
    // 120 BPM. A key on channel 18 shares beat 2 with a one-beat stop (500 ms); the turntable
    // and a long note start at beat 4, the long note's end at beat 6 is silent. The base and
    // layer pictures are objects, but neither sounds nor draws an arrow. Without sound files the
    // song ends a measure after the long note's end.
    testsupport::WriteFile(dir / "a.bms",
                           "#BPM 120\r\n#STOP01 48\r\n#00011:01\r\n#00018:0001\r\n#00009:0001\r\n#00116:0A\r\n"
                           "#00151:0B0C\r\n#00004:0002\r\n#00107:03\r\n");
    const ToolRun run = Info("--extended '" + (dir / "a.bms").string() + "'");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out,
              "{\"loaded\":true,\"title\":\"\",\"artist\":\"\",\"genre\":\"\",\"chartType\":\"\",\"bpm\":120.0,"
              "\"playLevel\":2,\"rank\":0,\"total\":200,\"volWav\":0,\"playerMode\":1,\"midiFile\":\"\",\"sounds\":[],"
              "\"soundFiles\":{},\"missingFiles\":[],"
              "\"objects\":[[11,0,1],[18,64,1],[104,64,2],[16,128,10],[11,128,11],[105,128,3],[200,320,120]],"
              "\"tempoMap\":[[0,0],[1000,64],[1500,64],[5500,320]],\"endPosition\":320,"
              "\"schedule\":[[0.000,1],[1000.000,1],[2500.000,10],[2500.000,11]],"
              "\"lanes\":[[0.000,0],[2500.000,3],[2500.000,0]]}\n");
    // Without the option the same chart reads as the fixed dialect: no schedule. Under the names
    // the fixed dialect never took it is read extended all the same.
    EXPECT_EQ(Info("'" + (dir / "a.bms").string() + "'").out.find("schedule"), std::string::npos);
    std::filesystem::copy_file(dir / "a.bms", dir / "a.BML");
    EXPECT_EQ(Info("'" + (dir / "a.BML").string() + "'").out, run.out);
}

TEST(GlimstepInfo, TheSameSeedDrawsTheSameBranches) {
    testsupport::TempDir dir;
    std::string chart = "#RANDOM 9\n";
    for (int k = 1; k <= 9; ++k) chart += "#IF " + std::to_string(k) + "\n#00111:0" + std::to_string(k) + "\n#ENDIF\n";
    testsupport::WriteFile(dir / "r.bms", chart);
    const std::string path = "'" + (dir / "r.bms").string() + "'";
    const ToolRun first = Info("--extended --seed 7 " + path);
    ASSERT_EQ(first.status, 0);
    EXPECT_EQ(Info("--seed 7 --extended -- " + path).out, first.out);
    std::set<std::string> outputs;
    for (int seed = 1; seed <= 8; ++seed) outputs.insert(Info("--extended --seed " + std::to_string(seed) + " " + path).out);
    EXPECT_GT(outputs.size(), 1u);
    EXPECT_EQ(Info("--extended --seed x " + path).status, 2);
    EXPECT_EQ(Info("--extended --seed").status, 2);
    EXPECT_EQ(Info("--bogus " + path).status, 2);
    EXPECT_EQ(Info("--extended").status, 2);
}

}  // namespace

// Ctrl+C ends glimstep-info at once, killed by SIGINT as programs are, also in the middle of
// loading a huge chart. The chart comes through a pipe, so that the program is sure to be
// reading it when the signal arrives.
TEST(GlimstepInfo, CtrlCEndsItWhileItLoads) {
    testsupport::TempDir dir;
    const std::filesystem::path chart = dir / "huge.bms";
    ASSERT_EQ(mkfifo(chart.c_str(), 0600), 0);
    const std::string program = std::string(GLIMSTEP_BINARY_DIR) + "/glimstep-info";
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // As from a terminal: SIGINT at its default, whatever the test runner left.
        signal(SIGINT, SIG_DFL);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execl(program.c_str(), program.c_str(), chart.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    const auto previousPipe = signal(SIGPIPE, SIG_IGN);
    // Opening waits for the program to open the chart; every write after the pipe's buffer
    // waits for it to read.
    const int fd = open(chart.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    std::string lines;
    for (int m = 0; m < 1000; ++m)
        for (int channel : {11, 13, 15, 16}) {
            char head[16];
            std::snprintf(head, sizeof head, "#%03d%02d:", m, channel);
            lines += head + std::string(128, '1') + "\n";
        }
    size_t written = 0;
    while (written < 4 * lines.size()) {
        const ssize_t n = write(fd, lines.data() + written % lines.size(), lines.size() - written % lines.size());
        ASSERT_GT(n, 0);
        written += static_cast<size_t>(n);
    }
    ASSERT_EQ(kill(pid, SIGINT), 0);
    int status = 0;
    pid_t done = 0;
    for (int i = 0; i < 2000 && done == 0; ++i) {
        done = waitpid(pid, &status, WNOHANG);
        if (done == 0) usleep(5000);
    }
    close(fd);
    signal(SIGPIPE, previousPipe);
    if (done == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        FAIL() << "glimstep-info went on after SIGINT";
    }
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << "status " << status;
}
