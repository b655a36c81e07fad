#include "media/SoundBuffer.h"

#include <algorithm>

namespace media {

namespace {

[[noreturn]] void RaiseNoBuffer() {
    throw EDirectSoundBufferError(gui::Format("%s は作成されていません", "IDirectSoundBuffer"));
}

[[noreturn]] void RaiseNoDirectSound() {
    throw EDirectSoundError(gui::Format("%s は作成されていません", "IDirectSound"));
}

}  // namespace

void RaiseCannotCreateBuffer() {
    throw EDirectSoundBufferError(gui::Format("%s を作成できません", "サウンドバッファ"));
}

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
        samples_ = DecodeWave(wave, mixer.Rate());
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

}  // namespace media
