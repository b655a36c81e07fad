// The chart's sound slots: each item holds a wave, its playback settings, the main buffer and
// the copies that are played (which copy a play takes); the collection holds the items.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/SoundBuffer.h"
#include "media/Wave.h"

namespace media {

class TDXSound;
class TWaveCollection;

GUI_DECLARE_EXCEPTION(EWaveCollectionError, Exception);

// One chart sound slot: its wave, the playback settings, the main buffer and the copies that
// are actually played.
class TWaveCollectionItem {
public:
    explicit TWaveCollectionItem(TWaveCollection& collection);
    ~TWaveCollectionItem();
    TWaveCollectionItem(const TWaveCollectionItem&) = delete;
    TWaveCollectionItem& operator=(const TWaveCollectionItem&) = delete;

    std::string Name;

    TWave& Wave() { return wave_; }
    TWaveCollection& Collection() const { return collection_; }

    int Frequency() const { return frequency_; }
    void SetFrequency(int hz);
    int Pan() const { return pan_; }
    void SetPan(int pan);
    int Volume() const { return volume_; }
    void SetVolume(int volume);
    bool Looped() const { return looped_; }
    void SetLooped(bool looped);
    int MaxPlayingCount() const { return maxPlayingCount_; }
    void SetMaxPlayingCount(int count);

    bool Initialized() const { return initialized_; }
    // The main buffer, restored first when the component is initialised and the item has no
    // device buffer yet. Never null: without a sound device it is a buffer that was never
    // created, whose calls raise "IDirectSoundBuffer は作成されていません".
    TDirectSoundBuffer* Buffer();
    int CopyCount() const { return static_cast<int>(copies_.size()); }
    TDirectSoundBuffer* Copy(int index) const { return copies_.at(static_cast<size_t>(index)).get(); }

    void Initialize();
    void Finalize();
    void Restore();
    // Starts the sound from its beginning on an idle copy (or the main buffer when looped).
    // With `wait`, returns when it has finished (only while a device plays it).
    void Play(bool wait = false);
    void Stop();
    // Stop and Play on output frame `frame` of the mixer, so that the sound starts on its exact
    // sample; what is sounding until then goes on until then. With `elapsed`, the sound is heard
    // from `frame` on as though it had started `elapsed` output frames earlier (a play that
    // begins part-way through the song).
    void PlayAt(uint64_t frame, uint64_t elapsed = 0);
    void StopAt(uint64_t frame);

private:
    TDirectSoundBuffer& MakeCopy();
    TDirectSoundBuffer& ChooseCopy();
    // Play without waiting, now or (with `frame`) on that frame; returns the buffer started.
    TDirectSoundBuffer* Start(const uint64_t* frame, uint64_t elapsed = 0);

    TWaveCollection& collection_;
    TWave wave_;
    int frequency_ = 0;
    int pan_ = 0;
    int volume_ = 0;
    bool looped_ = false;
    int maxPlayingCount_ = 0;
    bool initialized_ = false;
    std::unique_ptr<TDirectSoundBuffer> buffer_;
    std::vector<std::unique_ptr<TDirectSoundBuffer>> copies_;
    TDirectSoundBuffer noBuffer_{nullptr};
};

class TWaveCollection {
public:
    TWaveCollection() = default;
    ~TWaveCollection();
    TWaveCollection(const TWaveCollection&) = delete;
    TWaveCollection& operator=(const TWaveCollection&) = delete;

    // A new item at the end, not initialised, with an empty wave. Items keep their address.
    TWaveCollectionItem& Add();
    int Count() const { return static_cast<int>(items_.size()); }
    TWaveCollectionItem& Items(int index) const { return *items_.at(static_cast<size_t>(index)); }
    TWaveCollectionItem& operator[](int index) const { return Items(index); }
    // The first item with this name, or null.
    TWaveCollectionItem* Find(const std::string& name) const;
    void Clear();

    // The component the collection was initialised with; initialised while that component is.
    TDXSound* DXSound() const { return sound_; }
    bool Initialized() const;
    void Initialize(TDXSound* sound);
    void Finalize();
    void Restore();

private:
    TDXSound* sound_ = nullptr;
    std::vector<std::unique_ptr<TWaveCollectionItem>> items_;
};

}  // namespace media
