// The movie module: a slot's movie played by its timing's strategy over the file's shared source.
#include "media/MovieBackend.h"

#include "gui/Modules.h"
#include "media/MoviePlayback.h"
#include "media/MovieSource.h"

namespace media {
namespace {

class Playback final : public MovieBackend {
public:
    Playback(const std::string& path, Movie::Timing timing) {
        std::shared_ptr<MovieSource> source = MovieSource::Of(path, timing == Movie::Timing::Exact);
        if (timing == Movie::Timing::Exact)
            playback_ = std::make_unique<ExactPlayback>(std::move(source));
        else
            playback_ = std::make_unique<AheadPlayback>(std::move(source));
    }

    int Width() const override { return playback_->Source().Info().width; }
    int Height() const override { return playback_->Source().Info().height; }
    double DurationMs() const override { return static_cast<double>(playback_->Source().Info().durationUs) / 1000.0; }
    void ShowOn(TDirectDrawSurface& surface, const gui::TRect& fit) override { playback_->ShowOn(surface, fit); }
    void Restart() override { playback_->Restart(); }
    void Show(double elapsedMs) override { playback_->Show(elapsedMs); }

private:
    std::unique_ptr<MoviePlayback> playback_;
};

std::unique_ptr<MovieBackend> Open(const std::string& path, Movie::Timing timing) {
    return std::make_unique<Playback>(path, timing);
}

Movie::Counts Current() {
    return {MovieSource::OpenCount(), MovieDecoder::OpenCount(), MoviePlayback::WorkerCount(),
            MovieDecoder::PictureCount()};
}

}  // namespace
}  // namespace media

GLIMSTEP_MODULE_ENTRY(unsigned version) {
    static const media::MovieModule module{&media::Open, &media::Current};
    return version == media::MovieModule::kVersion ? &module : nullptr;
}
