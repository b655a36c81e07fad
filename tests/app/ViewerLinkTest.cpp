// A hand-over is done only when the viewer says it took the request: a viewer that stops serving
// its socket (hung, or in a modal box) never makes a launch wait for good, and never acts later on
// a request whose sender gave up.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <future>
#include <vector>

#include "app/ViewerLink.h"
#include "support/TestFiles.h"

namespace {

using namespace std::chrono_literals;

struct ViewerLink : ::testing::Test {
    testsupport::TempDir dir;
    std::string path = (dir / "viewer.sock").string();
    app::ViewerRequest request{app::ViewerRequest::Kind::Play, "/charts/a.bme", 4, true};
    std::unique_ptr<app::ViewerListener> Listen() {
        app::ViewerListener::ListenResult result{};
        std::string error;
        auto listener = app::ViewerListener::Listen(path, result, error);
        EXPECT_EQ(result, app::ViewerListener::ListenResult::Listening) << error;
        return listener;
    }
};

TEST_F(ViewerLink, AServedRequestIsDeliveredAndAnUnservedOneFailsAndIsDropped) {
    auto listener = Listen();
    ASSERT_TRUE(listener);
    std::string error;
    auto delivered = std::async(std::launch::async, [&] { return app::HandOver(path, request, error, 60s); });
    std::optional<app::ViewerRequest> taken;
    while (!taken && delivered.wait_for(1ms) != std::future_status::ready) taken = listener->Poll();
    EXPECT_EQ(delivered.get(), app::HandOverResult::Delivered) << error;
    ASSERT_TRUE(taken);
    EXPECT_EQ(*taken, request);

    // Nobody serves the socket while the launch waits: it gives up, and the request is not taken
    // afterwards.
    EXPECT_EQ(app::HandOver(path, request, error, 200ms), app::HandOverResult::Failed);
    EXPECT_NE(error.find("did not take the request"), std::string::npos) << error;
    EXPECT_FALSE(listener->Poll());
}

TEST_F(ViewerLink, AViewerWhoseQueueIsFullFailsALaunchAtOnceAndIsNotReplaced) {
    auto listener = Listen();
    ASSERT_TRUE(listener);
    std::vector<int> waiting;
    for (int i = 0; i < 64; ++i) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            close(fd);
            break;
        }
        waiting.push_back(fd);
    }
    ASSERT_LT(waiting.size(), 64u) << "the queue never filled";
    std::string error;
    // Patience far beyond the test's time: only a launch that does not wait passes.
    EXPECT_EQ(app::HandOver(path, request, error, std::chrono::hours(1)), app::HandOverResult::Failed);
    EXPECT_NE(error.find("is not answering"), std::string::npos) << error;
    app::ViewerListener::ListenResult result{};
    EXPECT_FALSE(app::ViewerListener::Listen(path, result, error));
    EXPECT_EQ(result, app::ViewerListener::ListenResult::Busy) << error;
    for (const int fd : waiting) close(fd);
}

}  // namespace
