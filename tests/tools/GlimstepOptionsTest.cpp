// The programs' own options that need no window: --help and --version.
#include <gtest/gtest.h>

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
