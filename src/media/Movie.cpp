#include "media/Movie.h"

#include "media/MoviePlayback.h"
#include "media/MovieSource.h"

namespace media {

Movie::Movie(const std::string& path, Timing timing) {
    std::shared_ptr<MovieSource> source = MovieSource::Of(path, timing == Timing::Exact);
    if (timing == Timing::Exact)
        playback_ = std::make_unique<ExactPlayback>(std::move(source));
    else
        playback_ = std::make_unique<AheadPlayback>(std::move(source));
}

Movie::~Movie() = default;

int Movie::Width() const { return playback_->Source().Info().width; }

int Movie::Height() const { return playback_->Source().Info().height; }

double Movie::DurationMs() const { return static_cast<double>(playback_->Source().Info().durationUs) / 1000.0; }

void Movie::ShowOn(TDirectDrawSurface& surface, const gui::TRect& fit) { playback_->ShowOn(surface, fit); }

void Movie::Restart() { playback_->Restart(); }

void Movie::Show(double elapsedMs) { playback_->Show(elapsedMs); }

Movie::Counts Movie::Current() {
    return {MovieSource::OpenCount(), MovieDecoder::OpenCount(), MoviePlayback::WorkerCount(),
            MovieDecoder::PictureCount()};
}

}  // namespace media
