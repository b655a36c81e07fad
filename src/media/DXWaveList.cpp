#include "media/DXWaveList.h"

namespace media {

TDXWaveList::TDXWaveList(TDXSound* sound) { SetDXSound(sound); }

TDXWaveList::~TDXWaveList() { SetDXSound(nullptr); }

void TDXWaveList::SetDXSound(TDXSound* sound) {
    if (sound == sound_) return;
    if (sound_ != nullptr) {
        sound_->RemoveListener(listenerId_);
        items_.Finalize();
    }
    sound_ = sound;
    listenerId_ = 0;
    if (sound_ == nullptr) return;
    listenerId_ = sound_->AddListener([this](TDXSound& sender, TDXSoundNotify step) { Notified(sender, step); });
    if (sound_->Initialized()) {
        items_.Initialize(sound_);
        items_.Restore();
    }
}

void TDXWaveList::Notified(TDXSound& sender, TDXSoundNotify step) {
    switch (step) {
        case TDXSoundNotify::Destroying:
            SetDXSound(nullptr);
            break;
        case TDXSoundNotify::Initialized:
            items_.Initialize(&sender);
            break;
        case TDXSoundNotify::Finalizing:
            items_.Finalize();
            break;
        case TDXSoundNotify::Restore:
            // An item that cannot be restored (its wave is empty) stays without a device buffer.
            try {
                items_.Restore();
            } catch (const gui::Exception&) {
            }
            break;
        case TDXSoundNotify::Initializing:
            break;
    }
}

}  // namespace media
