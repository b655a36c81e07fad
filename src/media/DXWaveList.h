// The wave list (TDXWaveList): binds the collection of sound slots to a sound component and
// initialises, restores and finalises the slots as the component goes through its steps.
#pragma once

#include "media/DXSound.h"
#include "media/WaveCollection.h"

namespace media {

class TDXWaveList {
public:
    explicit TDXWaveList(TDXSound* sound = nullptr);
    ~TDXWaveList();
    TDXWaveList(const TDXWaveList&) = delete;
    TDXWaveList& operator=(const TDXWaveList&) = delete;

    TDXSound* DXSound() const { return sound_; }
    void SetDXSound(TDXSound* sound);
    TWaveCollection& Items() { return items_; }

private:
    void Notified(TDXSound& sender, TDXSoundNotify step);

    TDXSound* sound_ = nullptr;
    int listenerId_ = 0;
    TWaveCollection items_;
};

}  // namespace media
