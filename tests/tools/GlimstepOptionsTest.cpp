// The programs' own options that need no window: --help and --version.
#include <gtest/gtest.h>

#include "support/TestFiles.h"
#include "support/ToolRun.h"

namespace {

TEST(GlimstepOptions, HelpAndVersionPrintToStandardOutputAndExitZero) {
    testsupport::ToolRun run = testsupport::RunTool("glimstep", "--help");
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.starts_with("usage: glimstep [--extended]")) << run.out;
    EXPECT_NE(run.out.find("--version"), std::string::npos);
    run = testsupport::RunTool("glimstep", "--extended --version");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "glimstep 1.2\n");
}

TEST(GlimstepOptions, AnUnknownOptionOrMeasureExitsTwoNamingItAndStopWithoutAViewerExitsZero) {
    testsupport::TempDir dir;
    for (const auto& [arguments, line] : {std::pair{"-x song.bms", "glimstep: unknown option -x (see glimstep --help)\n"},
                                          std::pair{"-P -N1000 song.bms",
                                                    "glimstep: -N wants a measure from 0 to 999, not \"1000\" (see "
                                                    "glimstep --help)\n"}}) {
        const testsupport::ToolRun run = testsupport::RunTool("glimstep", arguments, dir / "err");
        EXPECT_EQ(run.status, 2) << arguments;
        EXPECT_EQ(run.err, line);
        EXPECT_EQ(run.out, "");
    }
    const testsupport::ToolRun stop = testsupport::RunTool("glimstep", "-S", dir / "err");
    EXPECT_EQ(stop.status, 0);
    EXPECT_EQ(stop.out + stop.err, "");
}

TEST(GlimstepOptions, TheToolsHaveHelpAndVersionAsThePlayerHas) {
    // Each with options of its own before --help or --version, and no chart or output file.
    for (const std::string tool : {"glimstep-info", "glimstep-render"}) {
        testsupport::ToolRun run = testsupport::RunTool(tool, "--extended --help");
        EXPECT_EQ(run.status, 0) << tool;
        EXPECT_TRUE(run.out.starts_with("usage: " + tool + " ")) << run.out;
        for (const char* option : {"--extended", "--seed N", "--help", "--version"})
            EXPECT_NE(run.out.find(option), std::string::npos) << tool << " " << option;
        run = testsupport::RunTool(tool, "--extended --version");
        EXPECT_EQ(run.status, 0) << tool;
        EXPECT_EQ(run.out, tool + " 1.2\n");
    }
}

}  // namespace
