#include "media/WaveCollection.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <thread>

#include "media/DXSound.h"

namespace media {

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

}  // namespace media
