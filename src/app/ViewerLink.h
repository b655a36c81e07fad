// One chart editor's viewer at a time: the first -P launch listens on a Unix-domain socket of the
// user's own; a later -P launch hands it the chart to play instead and exits, and -S asks it to
// stop. Only the same user's processes are heard; a request is a few bounded lines of text.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace app {

struct ViewerRequest {
    enum class Kind : uint8_t { Play, Stop };
    Kind What = Kind::Play;
    std::string Chart;  // an absolute path
    int32_t StartMeasure = 0;
    bool Extended = false;
    bool operator==(const ViewerRequest&) const = default;
};

// The longest request taken; a chart path may use nearly all of it.
constexpr size_t kMaxViewerRequestBytes = 8192;

std::string EncodeViewerRequest(const ViewerRequest& request);
// The request that `message` (all of it, as received) holds; none, with `error` saying why, when
// it is not one.
std::optional<ViewerRequest> DecodeViewerRequest(std::string_view message, std::string& error);

// The socket's path: glimstep-viewer.sock in $XDG_RUNTIME_DIR when that is a folder of the
// user's own, else in the folder glimstep-UID under the temporary folder ($TMPDIR or /tmp),
// made private (0700) when missing. Empty, with `error` set, when that folder is not the user's
// own and private.
std::string ViewerSocketPath(std::string& error);

enum class HandOverResult : uint8_t { Delivered, NoViewer, Failed };
// Hands `request` to the viewer listening at `path`. NoViewer when none listens there (nothing
// there, or a socket left behind by one that ended); Failed, with `error`, when the one there
// belongs to another user, refuses the request, or has not said it took it within `patience`
// (a viewer that hangs, or sits in a modal box); the request is then dropped by the viewer.
HandOverResult HandOver(const std::string& path, const ViewerRequest& request, std::string& error,
                        std::chrono::milliseconds patience = std::chrono::seconds(2));

class ViewerListener {
public:
    // Listens at `path`, replacing a socket that no viewer answers on any more. Null, with
    // `error`, when it cannot; Busy when another viewer took the place first.
    enum class ListenResult : uint8_t { Listening, Busy, Failed };
    static std::unique_ptr<ViewerListener> Listen(const std::string& path, ListenResult& result, std::string& error);
    ~ViewerListener();
    ViewerListener(const ViewerListener&) = delete;
    ViewerListener& operator=(const ViewerListener&) = delete;

    // The latest request among the clients waiting now, without waiting for more. A client
    // gets a fraction of a second to send its whole request; what is not a request from the
    // same user is dropped with a line on stderr.
    std::optional<ViewerRequest> Poll();

private:
    ViewerListener(int fd, std::string path, uint64_t device, uint64_t inode);
    std::optional<ViewerRequest> Serve(int client);

    int fd_;
    std::string path_;
    // The socket file this listener made, so that it never removes a later viewer's.
    uint64_t device_;
    uint64_t inode_;
};

}  // namespace app
