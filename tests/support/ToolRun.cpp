#include "support/ToolRun.h"

#include <sys/wait.h>

#include <cstdio>

#include "support/TestFiles.h"

namespace testsupport {

ToolRun RunTool(const std::string& program, const std::string& arguments, const std::filesystem::path& errFile) {
    const std::string errTarget = errFile.empty() ? "/dev/null" : "'" + errFile.string() + "'";
    const std::string command = "'" + (std::filesystem::path(GLIMSTEP_BINARY_DIR) / program).string() + "' " +
                                arguments + " 2>" + errTarget;
    ToolRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, got);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (!errFile.empty()) run.err = ReadFile(errFile);
    return run;
}

}  // namespace testsupport
