// Runs one of the built programs through the shell for end-to-end tests.
#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

struct ToolRun {
    int status = -1;  // exit status, -1 when the program did not exit normally
    std::string out;
    std::string err;  // only when a file for it was given
};

// Runs `program` (a file name in the build folder) with `arguments` (already quoted for the
// shell). Standard error goes to `errFile` and is read back, or is discarded without one.
ToolRun RunTool(const std::string& program, const std::string& arguments, const std::filesystem::path& errFile = {});

}  // namespace testsupport
