// The player as a chart editor drives it: each key press spawns a launch in the chart's folder with
// standard input and output closed, naming a hidden preview file. The first -P launch becomes the
// viewer; later ones hand over and exit; -S ends it. Whatever a client sends, it plays on.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "support/ChildProcess.h"
#include "support/TestFiles.h"

namespace {

namespace fs = std::filesystem;
using testsupport::Program;

constexpr auto kExit = std::chrono::minutes(1);

// Sends `bytes` to the socket at `path` from a new connection and waits for the viewer to hang
// up (a request the viewer takes is only taken while its sender waits for the answer).
bool SendRaw(const fs::path& path, const std::string& bytes) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const bool sent = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                      send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    char answer[64];
    while (sent && recv(fd, answer, sizeof answer, 0) > 0) {
    }
    close(fd);
    return sent;
}

bool IsSocket(const fs::path& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

struct Viewer : ::testing::Test {
    testsupport::TempDir dir;
    fs::path run = dir / "run";
    fs::path socket = run / "glimstep-viewer.sock";
    void SetUp() override {
        fs::create_directory(run);
        fs::permissions(run, fs::perms::owner_all, fs::perm_options::replace);
        // A minute and more of play at 60 BPM, without sounds.
        const std::string chart = "#BPM 60\n#00111:01\n#02011:01\n";
        testsupport::WriteFile(dir / ".preview-1f2e.bme", chart);
        testsupport::WriteFile(dir / ".preview-9c3d.bml", chart);
    }
    testsupport::ChildOptions Editor(const std::string& errName) const {
        return {{{"XDG_RUNTIME_DIR", run.string()}, {"SDL_VIDEODRIVER", "dummy"}, {"SDL_AUDIODRIVER", "dummy"}},
                dir / errName,
                dir.Path(),
                true};
    }
    std::string Err(const std::string& name) const { return testsupport::ReadFile(dir / name); }
    bool ErrHas(const std::string& name, const std::string& text) const {
        return testsupport::WaitUntil([&] { return Err(name).find(text) != std::string::npos; });
    }
};

TEST_F(Viewer, ASecondLaunchHandsOverAndExitsHostileClientsChangeNothingAndStopEndsIt) {
    Program first("glimstep", {"-P", "-N0", ".preview-1f2e.bme"}, Editor("first.err"));
    ASSERT_TRUE(testsupport::WaitUntil([&] { return IsSocket(socket); })) << Err("first.err");
    EXPECT_EQ(fs::status(socket).permissions() & (fs::perms::group_all | fs::perms::others_all), fs::perms::none);

    Program second("glimstep", {"-P", "-N", "2", ".preview-9c3d.bml"}, Editor("second.err"));
    EXPECT_EQ(second.WaitForExit(kExit), 0) << Err("second.err");
    EXPECT_TRUE(ErrHas("first.err", "glimstep: playing " + (dir / ".preview-9c3d.bml").string() + " from measure 2\n"))
        << Err("first.err");

    // Garbage, a half request, one far too long, and a chart the editor has removed since.
    EXPECT_TRUE(SendRaw(socket, "\x01\xff garbage\n\n"));
    EXPECT_TRUE(SendRaw(socket, "glimstep-viewer 1\nplay\nmeasure 3\n"));
    EXPECT_TRUE(SendRaw(socket, "glimstep-viewer 1\nplay\nmeasure 1\nextended 1\nchart /" + std::string(20000, 'a')));
    EXPECT_TRUE(SendRaw(socket, "glimstep-viewer 1\nplay\nmeasure 1\nextended 1\nchart " + (dir / "gone.bms").string() +
                                    "\nend\n"));
    EXPECT_TRUE(ErrHas("first.err", "glimstep: the chart " + (dir / "gone.bms").string() + " is not there; playing on"));
    const std::string err = Err("first.err");
    for (const char* why : {"not a request of this viewer", "a request cut off in the middle", "a request longer than 8192 bytes"})
        EXPECT_NE(err.find("glimstep: ignored a viewer request: " + std::string(why)), std::string::npos) << err;
    EXPECT_TRUE(first.Running());

    Program stop("glimstep", {"-S"}, Editor("stop.err"));
    EXPECT_EQ(stop.WaitForExit(kExit), 0);
    EXPECT_EQ(first.WaitForExit(kExit), 0) << Err("first.err");
    EXPECT_FALSE(fs::exists(socket));
    // With none running, -S has nothing to say.
    Program again("glimstep", {"-S"}, Editor("again.err"));
    EXPECT_EQ(again.WaitForExit(kExit), 0);
    EXPECT_EQ(Err("again.err"), "");
}

TEST_F(Viewer, AStaleSocketIsReplacedAndAFolderOthersCanEnterIsRefused) {
    // What a viewer that crashed leaves: a socket file nobody listens on.
    const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(stale);
    Program first("glimstep", {"-P", ".preview-1f2e.bme"}, Editor("first.err"));
    ASSERT_TRUE(testsupport::WaitUntil([&] { return SendRaw(socket, ""); })) << Err("first.err");

    // Another user of the machine reaches the socket (it is opened up to them here): refused on
    // the peer's credentials.
    if (geteuid() == 0) {
        fs::permissions(dir.Path(), fs::perms::others_exec, fs::perm_options::add);
        fs::permissions(run, fs::perms::all, fs::perm_options::replace);
        fs::permissions(socket, fs::perms::all, fs::perm_options::replace);
        const pid_t other = fork();
        if (other == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
            _exit(SendRaw(socket, "glimstep-viewer 1\nstop\nend\n") ? 0 : 4);
        }
        int status = 0;
        waitpid(other, &status, 0);
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_TRUE(ErrHas("first.err", "glimstep: refused a viewer request from another user\n"));
        EXPECT_TRUE(first.Running());
        fs::permissions(run, fs::perms::owner_all, fs::perm_options::replace);
        fs::permissions(dir.Path(), fs::perms::others_exec, fs::perm_options::remove);
    }
    Program stop("glimstep", {"-S"}, Editor("stop.err"));
    EXPECT_EQ(stop.WaitForExit(kExit), 0);
    EXPECT_EQ(first.WaitForExit(kExit), 0) << Err("first.err");

    // Without a runtime folder the socket goes in a private folder under the temporary one; one
    // that others may enter is not used.
    const fs::path temporary = dir / "tmp";
    const fs::path folder = temporary / ("glimstep-" + std::to_string(geteuid()));
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec, fs::perm_options::replace);
    testsupport::ChildOptions options = Editor("open.err");
    options.environment = {{"XDG_RUNTIME_DIR", std::nullopt}, {"TMPDIR", temporary.string()}, {"SDL_VIDEODRIVER", "dummy"}};
    Program open("glimstep", {"-S"}, options);
    EXPECT_EQ(open.WaitForExit(kExit), 1);
    EXPECT_EQ(Err("open.err"), "glimstep: the folder " + folder.string() + " is open to other users (its mode must be 0700)\n");
}

}  // namespace
