#include "media/DXSounds.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <thread>

#include "media/AudioDevice.h"

namespace media {

namespace {

[[noreturn]] void RaiseNoBuffer() {
    throw EDirectSoundBufferError(gui::Format("%s は作成されていません", "IDirectSoundBuffer"));
}

[[noreturn]] void RaiseNoDirectSound() {
    throw EDirectSoundError(gui::Format("%s は作成されていません", "IDirectSound"));
}

[[noreturn]] void RaiseCannotCreateBuffer() {
    throw EDirectSoundBufferError(gui::Format("%s を作成できません", "サウンドバッファ"));
}

}  // namespace

TDirectSound::~TDirectSound() {
    // Buffers that outlive their device lose it: they read as never created from now on.
    for (TDirectSoundBuffer* buffer : std::vector<TDirectSoundBuffer*>(buffers_)) {
        buffer->DropVoice();
        buffer->created_ = false;
        buffer->dsound_ = nullptr;
    }
}

TDirectSoundBuffer::TDirectSoundBuffer(TDirectSound* dsound) : dsound_(dsound) {
    if (dsound_ != nullptr) dsound_->buffers_.push_back(this);
}

TDirectSoundBuffer::~TDirectSoundBuffer() {
    DropVoice();
    if (dsound_ != nullptr) {
        auto& list = dsound_->buffers_;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
}

void TDirectSoundBuffer::DropVoice() {
    if (voice_ >= 0 && dsound_ != nullptr) dsound_->GetMixer().FreeVoice(voice_);
    voice_ = -1;
}

void TDirectSoundBuffer::Release() {
    DropVoice();
    samples_.reset();
    decodedFrom_ = nullptr;
    created_ = false;
    primary_ = false;
    looping_ = false;
}

void TDirectSoundBuffer::CreatePrimary() {
    Release();
    if (dsound_ == nullptr) RaiseNoDirectSound();
    primary_ = true;
    created_ = true;
    caps_ = DSBCAPS_PRIMARYBUFFER;
    MakePcmFormat(format_, static_cast<uint32_t>(dsound_->GetMixer().Rate()), 16, 2);
    lastResult_ = DS_OK;
}

void TDirectSoundBuffer::CreateBuffer(const TWave& wave, uint32_t caps) {
    // The decoded samples are kept when the wave has not changed since they were made.
    std::shared_ptr<const SampleData> previous = samples_;
    const bool sameWave = decodedFrom_ == &wave && decodedRevision_ == wave.Revision();
    Release();
    if (dsound_ == nullptr) RaiseNoDirectSound();
    if (wave.FormatSize() < 16 || wave.Size() == 0) {
        lastResult_ = DSERR_INVALIDPARAM;
        RaiseCannotCreateBuffer();
    }
    Mixer& mixer = dsound_->GetMixer();
    const int voice = mixer.AllocateVoice();
    if (voice < 0) {
        lastResult_ = DSERR_INVALIDCALL;
        RaiseCannotCreateBuffer();
    }
    voice_ = voice;
    if (sameWave && previous && previous->rate == mixer.Rate())
        samples_ = std::move(previous);
    else
        samples_ = DecodeWave(wave.FormatBlock(), wave.Data(), wave.Size(), mixer.Rate());
    decodedFrom_ = &wave;
    decodedRevision_ = wave.Revision();
    format_ = wave.Format();
    caps_ = caps;
    frequency_ = samples_->sourceRate;
    pan_ = 0;
    volume_ = 0;
    created_ = true;
    lastResult_ = DS_OK;
}

bool TDirectSoundBuffer::Duplicate(const TDirectSoundBuffer& source) {
    Release();
    if (dsound_ == nullptr) RaiseNoDirectSound();
    if (!source.created_ || source.primary_) {
        lastResult_ = DSERR_INVALIDCALL;
        return false;
    }
    const int voice = dsound_->GetMixer().AllocateVoice();
    if (voice < 0) {
        lastResult_ = DSERR_INVALIDCALL;
        return false;
    }
    voice_ = voice;
    samples_ = source.samples_;
    decodedFrom_ = source.decodedFrom_;
    decodedRevision_ = source.decodedRevision_;
    format_ = source.format_;
    caps_ = source.caps_;
    frequency_ = source.frequency_;
    pan_ = source.pan_;
    volume_ = source.volume_;
    created_ = true;
    lastResult_ = DS_OK;
    return true;
}

void TDirectSoundBuffer::RequireCreated() const {
    if (!created_) RaiseNoBuffer();
}

bool TDirectSoundBuffer::SetFormat(const TWaveFormatEx& format) {
    RequireCreated();
    if (!primary_) {
        lastResult_ = DSERR_INVALIDCALL;
        return false;
    }
    const bool valid = format.wFormatTag == WAVE_FORMAT_PCM && (format.nChannels == 1 || format.nChannels == 2) &&
                       (format.wBitsPerSample == 8 || format.wBitsPerSample == 16) &&
                       format.nSamplesPerSec >= static_cast<uint32_t>(DSBFREQUENCY_MIN) &&
                       format.nSamplesPerSec <= static_cast<uint32_t>(DSBFREQUENCY_MAX);
    if (!valid) {
        lastResult_ = DSERR_BADFORMAT;
        return false;
    }
    format_ = format;
    MakePcmFormat(format_, format.nSamplesPerSec, format.wBitsPerSample, format.nChannels);
    Mixer& mixer = dsound_->GetMixer();
    if (mixer.Rate() != static_cast<int>(format.nSamplesPerSec)) {
        mixer.SetRate(static_cast<int>(format.nSamplesPerSec));
        if (dsound_->OnRateChanged) dsound_->OnRateChanged();
    }
    lastResult_ = DS_OK;
    return true;
}

TWaveFormatEx TDirectSoundBuffer::Format() const {
    RequireCreated();
    return format_;
}

double TDirectSoundBuffer::Ratio() const {
    const int source = samples_ ? samples_->sourceRate : 0;
    return source > 0 ? static_cast<double>(frequency_) / source : 0.0;
}

int TDirectSoundBuffer::Frequency() const {
    RequireCreated();
    return primary_ ? static_cast<int>(format_.nSamplesPerSec) : frequency_;
}

bool TDirectSoundBuffer::SetFrequency(int hz) {
    RequireCreated();
    if (primary_ || (hz != DSBFREQUENCY_ORIGINAL && (hz < DSBFREQUENCY_MIN || hz > DSBFREQUENCY_MAX))) {
        lastResult_ = DSERR_INVALIDPARAM;
        return false;
    }
    frequency_ = hz == DSBFREQUENCY_ORIGINAL ? samples_->sourceRate : hz;
    dsound_->GetMixer().SetRatio(voice_, Ratio());
    lastResult_ = DS_OK;
    return true;
}

int TDirectSoundBuffer::Pan() const {
    RequireCreated();
    return pan_;
}

bool TDirectSoundBuffer::SetPan(int pan) { return SetLevel(pan_, pan, DSBPAN_LEFT, DSBPAN_RIGHT); }

int TDirectSoundBuffer::Volume() const {
    RequireCreated();
    return volume_;
}

bool TDirectSoundBuffer::SetVolume(int volume) { return SetLevel(volume_, volume, DSBVOLUME_MIN, DSBVOLUME_MAX); }

bool TDirectSoundBuffer::SetLevel(int& field, int value, int low, int high) {
    RequireCreated();
    if (primary_ || value < low || value > high) {
        lastResult_ = DSERR_INVALIDPARAM;
        return false;
    }
    field = value;
    dsound_->GetMixer().SetGain(voice_, GainFromVolumePan(volume_, pan_));
    lastResult_ = DS_OK;
    return true;
}

uint32_t TDirectSoundBuffer::Status() const {
    RequireCreated();
    if (primary_ || !dsound_->GetMixer().IsPlaying(voice_)) return 0;
    return DSBSTATUS_PLAYING | (looping_ ? DSBSTATUS_LOOPING : 0);
}

bool TDirectSoundBuffer::Play(bool looping) { return Start(nullptr, looping); }

bool TDirectSoundBuffer::PlayAt(uint64_t frame, bool looping, uint64_t elapsed) {
    return Start(&frame, looping, elapsed);
}

bool TDirectSoundBuffer::Stop() { return Halt(nullptr); }

bool TDirectSoundBuffer::StopAt(uint64_t frame) { return Halt(&frame); }

bool TDirectSoundBuffer::Start(const uint64_t* frame, bool looping, uint64_t elapsed) {
    RequireCreated();
    if (primary_) {
        lastResult_ = DS_OK;
        return true;
    }
    looping_ = looping;
    Mixer& mixer = dsound_->GetMixer();
    const StereoGain gain = GainFromVolumePan(volume_, pan_);
    if (frame != nullptr)
        mixer.PlayAt(*frame, voice_, samples_.get(), Ratio(), gain, looping, elapsed);
    else
        mixer.Play(voice_, samples_.get(), Ratio(), gain, looping);
    lastResult_ = DS_OK;
    return true;
}

bool TDirectSoundBuffer::Halt(const uint64_t* frame) {
    RequireCreated();
    if (!primary_) {
        if (frame != nullptr)
            dsound_->GetMixer().StopAt(*frame, voice_);
        else
            dsound_->GetMixer().Stop(voice_);
    }
    lastResult_ = DS_OK;
    return true;
}

TDXSound::TDXSound(gui::Form* form) : form_(form), mixer_(std::make_unique<media::Mixer>(44100)) {}

TDXSound::~TDXSound() {
    Finalize();
    Notify(TDXSoundNotify::Destroying);
    listeners_.clear();
}

void TDXSound::SetOptions(TDXSoundOptions options) {
    options_ = options;
    if (initialized_) {
        // Only the focus flags change on a running device; the rest waits for the next start.
        constexpr TDXSoundOptions kLive = soGlobalFocus | soStickyFocus;
        effectiveOptions_ = (effectiveOptions_ & ~kLive) | (options & kLive);
        dsound_->GlobalFocus = (options & soGlobalFocus) != 0;
        dsound_->StickyFocus = (options & soStickyFocus) != 0;
    } else {
        effectiveOptions_ = options;
    }
}

void TDXSound::Loaded() {
    if (!AutoInitialize) return;
    try {
        Initialize();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "glimstep: no sound: %s\n", e.what());
    }
}

void TDXSound::Initialize() {
    Finalize();
    if (form_ == nullptr && !offline_) throw EDXSoundError("フォームが見つかりません");
    initializing_ = true;
    Notify(TDXSoundNotify::Initializing);
    if (OnInitializing) OnInitializing(*this);
    try {
        if (!offline_) {
            device_ = std::make_unique<AudioDevice>();
            if (!device_->Open(*mixer_, mixer_->Rate())) {
                const std::string reason = device_->Error();
                device_.reset();
                throw EDirectSoundError(gui::Format("%s を初期化できません", "DirectSound") +
                                        (reason.empty() ? "" : " (" + reason + ")"));
            }
        }
        dsound_ = std::make_unique<TDXSoundDirectSound>(*mixer_);
        dsound_->OnRateChanged = [this] { ReopenDevice(); };
        dsound_->GlobalFocus = (effectiveOptions_ & soGlobalFocus) != 0;
        primary_ = std::make_unique<TDirectSoundBuffer>(dsound_.get());
        try {
            primary_->CreatePrimary();
        } catch (const gui::Exception&) {
            throw EDXSoundError(gui::Format("%s を作成できません", "プライマリバッファ"));
        }
        initialized_ = true;
        if (effectiveOptions_ & soWritePrimary)
            dsound_->CooperativeLevel = DSSCL_WRITEPRIMARY;
        else if (effectiveOptions_ & soExclusive)
            dsound_->CooperativeLevel = DSSCL_EXCLUSIVE;
        else
            dsound_->CooperativeLevel = DSSCL_NORMAL;
    } catch (...) {
        Finalize();
        throw;
    }
    initializing_ = false;
    Notify(TDXSoundNotify::Initialized);
    if (OnInitialize) OnInitialize(*this);
    calledInitialize_ = true;
    Restore();
}

void TDXSound::Finalize() {
    if (!initialized_ && !initializing_) return;
    if (calledInitialize_ && OnFinalize) OnFinalize(*this);
    calledInitialize_ = false;
    Notify(TDXSoundNotify::Finalizing);
    initialized_ = false;
    initializing_ = false;
    effectiveOptions_ = options_;
    primary_.reset();
    if (device_) device_->Close();
    device_.reset();
    dsound_.reset();
}

void TDXSound::Restore() {
    if (restoring_) return;
    restoring_ = true;
    try {
        Notify(TDXSoundNotify::Restore);
        if (OnRestore) OnRestore(*this);
    } catch (...) {
        restoring_ = false;
        throw;
    }
    restoring_ = false;
}

const AudioDevice* TDXSound::Device() const { return device_ && device_->IsOpen() ? device_.get() : nullptr; }

void TDXSound::ReopenDevice() {
    if (!device_ || device_->Rate() == mixer_->Rate()) return;
    device_->Close();
    device_->Open(*mixer_, mixer_->Rate());
}

int TDXSound::AddListener(Listener listener) {
    const int id = nextListenerId_++;
    listeners_.emplace_back(id, std::move(listener));
    return id;
}

void TDXSound::RemoveListener(int id) {
    listeners_.erase(std::remove_if(listeners_.begin(), listeners_.end(), [id](const auto& l) { return l.first == id; }),
                     listeners_.end());
}

void TDXSound::Notify(TDXSoundNotify step) {
    // A listener may unregister itself while being told.
    const auto snapshot = listeners_;
    for (const auto& entry : snapshot) {
        const int id = entry.first;
        const bool stillThere =
            std::any_of(listeners_.begin(), listeners_.end(), [id](const auto& l) { return l.first == id; });
        if (stillThere) entry.second(*this, step);
    }
}

TWaveCollectionItem::TWaveCollectionItem(TWaveCollection& collection) : collection_(collection) {}

TWaveCollectionItem::~TWaveCollectionItem() { Finalize(); }

void TWaveCollectionItem::SetFrequency(int hz) {
    frequency_ = hz;
    if (initialized_) buffer_->SetFrequency(hz);
}

void TWaveCollectionItem::SetPan(int pan) {
    pan_ = pan;
    if (initialized_) buffer_->SetPan(pan);
}

void TWaveCollectionItem::SetVolume(int volume) {
    volume_ = volume;
    if (initialized_) buffer_->SetVolume(volume);
}

void TWaveCollectionItem::SetLooped(bool looped) {
    if (looped == looped_) return;
    Stop();
    looped_ = looped;
}

void TWaveCollectionItem::SetMaxPlayingCount(int count) {
    count = std::max(count, 0);
    if (count == maxPlayingCount_) return;
    maxPlayingCount_ = count;
    if (initialized_) copies_.clear();
}

TDirectSoundBuffer* TWaveCollectionItem::Buffer() {
    if (collection_.Initialized() && (!initialized_ || !buffer_->Created())) Restore();
    return initialized_ ? buffer_.get() : &noBuffer_;
}

void TWaveCollectionItem::Initialize() {
    Finalize();
    if (!collection_.Initialized())
        throw EWaveCollectionError(gui::Format("%s を初期化できません", "TWaveCollectionItem"));
    initialized_ = true;
    buffer_ = std::make_unique<TDirectSoundBuffer>(collection_.DXSound()->DSound());
}

void TWaveCollectionItem::Finalize() {
    copies_.clear();
    buffer_.reset();
    initialized_ = false;
}

void TWaveCollectionItem::Restore() {
    if (!collection_.Initialized()) return;
    if (!initialized_) Initialize();
    const TDXSoundDirectSound* ds = collection_.DXSound()->DSound();
    uint32_t caps = DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME;
    if (ds->StickyFocus)
        caps |= DSBCAPS_STICKYFOCUS;
    else if (ds->GlobalFocus)
        caps |= DSBCAPS_GLOBALFOCUS;
    buffer_->CreateBuffer(wave_, caps);
    buffer_->SetFrequency(frequency_);
    buffer_->SetPan(pan_);
    buffer_->SetVolume(volume_);
}

TDirectSoundBuffer& TWaveCollectionItem::MakeCopy() {
    if (!buffer_ || !buffer_->Created())
        throw EWaveCollectionError(gui::Format("%s を初期化できません", "TWaveCollectionItem"));
    if (buffer_->Status() & DSBSTATUS_BUFFERLOST) Restore();
    auto copy = std::make_unique<TDirectSoundBuffer>(collection_.DXSound()->DSound());
    if (!copy->Duplicate(*buffer_)) RaiseCannotCreateBuffer();
    copies_.push_back(std::move(copy));
    return *copies_.back();
}

TDirectSoundBuffer& TWaveCollectionItem::ChooseCopy() {
    for (auto& copy : copies_) {
        if ((copy->Status() & (DSBSTATUS_PLAYING | DSBSTATUS_LOOPING)) == 0) return *copy;
    }
    if (maxPlayingCount_ == 0 || static_cast<int>(copies_.size()) < maxPlayingCount_) return MakeCopy();
    std::rotate(copies_.begin(), copies_.begin() + 1, copies_.end());
    return *copies_.back();
}

TDirectSoundBuffer* TWaveCollectionItem::Start(const uint64_t* frame, uint64_t elapsed) {
    if (!collection_.Initialized()) return nullptr;
    if (!initialized_) Initialize();
    if (looped_) {
        if (frame != nullptr) {
            buffer_->StopAt(*frame);
            buffer_->PlayAt(*frame, true, elapsed);
        } else {
            buffer_->Stop();
            buffer_->Play(true);
        }
        return buffer_.get();
    }
    TDirectSoundBuffer& copy = ChooseCopy();
    if (frame != nullptr)
        copy.StopAt(*frame);
    else
        copy.Stop();
    copy.SetFrequency(frequency_);
    copy.SetPan(pan_);
    copy.SetVolume(volume_);
    if (frame != nullptr)
        copy.PlayAt(*frame, false, elapsed);
    else
        copy.Play(false);
    return &copy;
}

void TWaveCollectionItem::Play(bool wait) {
    TDirectSoundBuffer* playing = Start(nullptr);
    if (playing == nullptr) return;
    if (wait && !looped_ && collection_.DXSound()->Device() != nullptr) {
        const SampleData* samples = playing->Samples();
        const double seconds = samples != nullptr && samples->rate > 0 ? double(samples->Frames()) / samples->rate : 0.0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(int(seconds * 4000) + 1000);
        while ((playing->Status() & DSBSTATUS_PLAYING) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void TWaveCollectionItem::PlayAt(uint64_t frame, uint64_t elapsed) { Start(&frame, elapsed); }

void TWaveCollectionItem::Stop() {
    if (!initialized_) return;
    if (buffer_->Created()) buffer_->Stop();
    for (auto& copy : copies_) copy->Stop();
}

void TWaveCollectionItem::StopAt(uint64_t frame) {
    if (!initialized_) return;
    if (buffer_->Created()) buffer_->StopAt(frame);
    for (auto& copy : copies_) copy->StopAt(frame);
}

TWaveCollection::~TWaveCollection() { Clear(); }

TWaveCollectionItem& TWaveCollection::Add() {
    items_.push_back(std::make_unique<TWaveCollectionItem>(*this));
    return *items_.back();
}

TWaveCollectionItem* TWaveCollection::Find(const std::string& name) const {
    for (const auto& item : items_)
        if (item->Name == name) return item.get();
    return nullptr;
}

void TWaveCollection::Clear() { items_.clear(); }

bool TWaveCollection::Initialized() const { return sound_ != nullptr && sound_->Initialized(); }

void TWaveCollection::Initialize(TDXSound* sound) {
    Finalize();
    sound_ = sound;
    for (auto& item : items_) item->Initialize();
}

void TWaveCollection::Finalize() {
    for (auto& item : items_) item->Finalize();
    sound_ = nullptr;
}

void TWaveCollection::Restore() {
    // Every item gets its chance; the first failure is reported afterwards.
    std::exception_ptr failure;
    for (auto& item : items_) {
        try {
            item->Restore();
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
    }
    if (failure) std::rethrow_exception(failure);
}

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
