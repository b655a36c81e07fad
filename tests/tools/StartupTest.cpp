// What the programs load before they open a window: --version, -S with no viewer, a hand-over to
// the viewer that plays and glimstep-info load none of the display, font and window-system
// libraries (they load at their first call); the viewer does, once it opens its window.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TestFiles.h"

namespace {

namespace fs = std::filesystem;

#if GLIMSTEP_DELAY_LOAD

constexpr auto kExit = std::chrono::minutes(1);
const char* const kDisplayLibraries[] = {"libSDL2", "libSDL2_ttf", "libfontconfig", "libxcb.", "libstb"};

struct Startup : ::testing::Test {
    testsupport::TempDir dir;
    fs::path run = dir / "run";
    void SetUp() override {
        fs::create_directory(run);
        fs::permissions(run, fs::perms::owner_all, fs::perm_options::replace);
        // A minute and more of play at 60 BPM, without sounds.
        testsupport::WriteFile(dir / "long.bms", "#BPM 60\n#00111:01\n#02011:01\n");
    }
    // The dynamic loader lists on standard error every library it loads.
    testsupport::ChildOptions Traced(const std::string& errName) const {
        return {{{"LD_DEBUG", "files"}, {"XDG_RUNTIME_DIR", run.string()}, {"SDL_VIDEODRIVER", "dummy"},
                 {"SDL_AUDIODRIVER", "dummy"}},
                dir / errName,
                {},
                false};
    }
    std::string Err(const std::string& name) const { return testsupport::ReadFile(dir / name); }
    static std::vector<std::string> DisplayLibrariesIn(const std::string& trace) {
        std::vector<std::string> found;
        for (const char* library : kDisplayLibraries)
            if (trace.find(std::string("file=") + library) != std::string::npos) found.emplace_back(library);
        return found;
    }
};

TEST_F(Startup, ProgramsLoadTheDisplayLibrariesOnlyWhenTheyOpenAWindow) {
    const struct {
        const char* program;
        std::vector<std::string> args;
    } launches[] = {{"glimstep", {"--version"}}, {"glimstep", {"-S"}}, {"glimstep-info", {(dir / "long.bms").string()}}};
    for (const auto& launch : launches) {
        testsupport::Program program(launch.program, launch.args, Traced("alone.err"));
        EXPECT_EQ(program.WaitForExit(kExit), 0) << launch.program << " " << launch.args[0];
        const std::string trace = Err("alone.err");
        ASSERT_NE(trace.find("file=libc.so.6"), std::string::npos) << trace;
        EXPECT_EQ(DisplayLibrariesIn(trace), std::vector<std::string>{}) << launch.program << " " << launch.args[0];
    }

    testsupport::Program viewer("glimstep", {"-P", (dir / "long.bms").string()}, Traced("viewer.err"));
    ASSERT_TRUE(testsupport::WaitUntil([&] { return fs::is_socket(run / "glimstep-viewer.sock"); })) << Err("viewer.err");
    testsupport::Program client("glimstep", {"-P", "-N1", (dir / "long.bms").string()}, Traced("client.err"));
    EXPECT_EQ(client.WaitForExit(kExit), 0) << Err("client.err");
    EXPECT_EQ(DisplayLibrariesIn(Err("client.err")), std::vector<std::string>{});
    ASSERT_TRUE(testsupport::WaitUntil([&] { return Err("viewer.err").find("from measure 1") != std::string::npos; }));
    // The viewer's window brought them in: the trace shows them when they are loaded.
    EXPECT_NE(Err("viewer.err").find("file=libSDL2-2.0.so.0"), std::string::npos);
    testsupport::Program stop("glimstep", {"-S"}, Traced("stop.err"));
    EXPECT_EQ(stop.WaitForExit(kExit), 0);
    EXPECT_EQ(viewer.WaitForExit(kExit), 0);
}

#else

TEST(Startup, ProgramsLoadTheDisplayLibrariesOnlyWhenTheyOpenAWindow) { GTEST_SKIP() << "linked, not delay-loaded"; }

#endif

}  // namespace
