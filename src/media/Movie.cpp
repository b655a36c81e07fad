#include "media/Movie.h"

#include "gui/Modules.h"
#include "media/MovieBackend.h"

namespace media {
namespace {

// FFmpeg and its codecs load with the first movie.
const MovieModule* Module() {
    return static_cast<const MovieModule*>(gui::LoadModule("movie", MovieModule::kVersion, "movies stay black"));
}

}  // namespace

Movie::Movie(const std::string& path, Timing timing) {
    const MovieModule* module = Module();
    // Without the module a movie is refused as one that cannot be opened.
    if (module == nullptr) throw EMovieError(gui::Format("動画 %s を開けません", path.c_str()));
    backend_ = module->open(path, timing);
}

Movie::~Movie() = default;

int Movie::Width() const { return backend_->Width(); }

int Movie::Height() const { return backend_->Height(); }

double Movie::DurationMs() const { return backend_->DurationMs(); }

void Movie::ShowOn(TDirectDrawSurface& surface, const gui::TRect& fit) { backend_->ShowOn(surface, fit); }

void Movie::Restart() { backend_->Restart(); }

void Movie::Show(double elapsedMs) { backend_->Show(elapsedMs); }

Movie::Counts Movie::Current() {
    const MovieModule* module = Module();
    return module != nullptr ? module->current() : Counts{};
}

}  // namespace media
