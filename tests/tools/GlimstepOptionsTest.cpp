// The player's own options that need no window: --help and --version.
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

}  // namespace
