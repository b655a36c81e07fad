#include "media/DXInput.h"

#include <cstdlib>

#include "gui/Application.h"
#include "gui/Form.h"
#include "media/SdlInput.h"

namespace media {

namespace {

const char* const kFormNotFound = "フォームが見つかりません";
const char* const kMouseNeedsDirectInput = "マウスを使うには DirectInput が必要です";
const char* const kReadError = "ストリーム読み込みエラー";

constexpr std::array<uint8_t, 256> MakeScanCodeTable() {
    std::array<uint8_t, 256> t{};
    t[1] = 27;
    for (int i = 2; i <= 10; ++i) t[i] = static_cast<uint8_t>('1' + i - 2);
    t[11] = '0';
    t[14] = 8;
    t[15] = 9;
    t[28] = t[156] = 13;
    t[29] = t[157] = 17;
    t[42] = t[54] = 16;
    t[56] = t[184] = 18;
    t[57] = 32;
    t[58] = 20;
    t[69] = 144;
    t[70] = 145;
    const char* rows[] = {"QWERTYUIOP", "ASDFGHJKL", "ZXCVBNM"};
    const int starts[] = {16, 30, 44};
    for (int r = 0; r < 3; ++r)
        for (int i = 0; rows[r][i] != '\0'; ++i) t[starts[r] + i] = static_cast<uint8_t>(rows[r][i]);
    for (int i = 0; i < 10; ++i) t[59 + i] = static_cast<uint8_t>(112 + i);
    t[87] = 122;
    t[88] = 123;
    t[71] = 103;
    t[72] = 104;
    t[73] = 105;
    t[75] = 100;
    t[76] = 101;
    t[77] = 102;
    t[79] = 97;
    t[80] = 98;
    t[81] = 99;
    t[82] = 96;
    t[83] = 110;
    t[74] = 109;
    t[78] = 107;
    t[181] = 111;
    t[199] = 36;
    t[200] = 38;
    t[201] = 33;
    t[203] = 37;
    t[205] = 39;
    t[207] = 35;
    t[208] = 40;
    t[209] = 34;
    t[210] = 45;
    t[211] = 46;
    t[219] = 91;
    t[220] = 92;
    t[221] = 93;
    // Punctuation by the system's codes for a US layout: - = [ ] ; ' ` \ , . / and keypad *.
    t[12] = 189;
    t[13] = 187;
    t[26] = 219;
    t[27] = 221;
    t[39] = 186;
    t[40] = 222;
    t[41] = 192;
    t[43] = 220;
    t[51] = 188;
    t[52] = 190;
    t[53] = 191;
    t[55] = 106;
    return t;
}

constexpr std::array<uint8_t, 256> kScanCodeToVirtualKey = MakeScanCodeTable();

TKeyboard::TKeyAssigns MakeDefaultAssigns() {
    TKeyboard::TKeyAssigns a{};
    a[isUp] = {'K', 38, 104};
    a[isDown] = {'J', 40, 98};
    a[isLeft] = {'H', 37, 100};
    a[isRight] = {'L', 39, 102};
    a[isButton1] = {'Z', 32, 0};
    a[isButton1 + 1] = {'X', 13, 0};
    a[isButton1 + 8] = {113, 0, 0};
    return a;
}

// Left/right from x, up/down from y (negative is left and up), button i as state 4 + i.
TDXInputStates DirectionAndButtonStates(int x, int y, uint32_t buttons) {
    TDXInputStates states;
    states.set(isLeft, x < 0);
    states.set(isRight, x > 0);
    states.set(isUp, y < 0);
    states.set(isDown, y > 0);
    for (int i = 0; i < 32; ++i)
        if (buttons & (1u << i)) states.set(static_cast<size_t>(isButton1 + i));
    return states;
}

gui::Form* RequireForm(gui::Form* owner) {
    if (owner == nullptr) throw EDXInputError(kFormNotFound);
    return owner;
}

}  // namespace

int VirtualKeyFromScanCode(int scanCode) {
    if (scanCode < 0 || scanCode > 255) return 0;
    return kScanCodeToVirtualKey[static_cast<size_t>(scanCode)];
}

void KeyboardStateFromScanCodes(const KeyStateArray& scanCodes, KeyStateArray& virtualKeys) {
    virtualKeys.fill(0);
    struct Sided {
        int scanCode;
        int virtualKey;
    };
    static constexpr Sided kSided[] = {{42, 160}, {54, 161}, {29, 162}, {157, 163}, {56, 164}, {184, 165}};
    for (size_t s = 0; s < scanCodes.size(); ++s) {
        if ((scanCodes[s] & 0x80) == 0) continue;
        if (int vk = kScanCodeToVirtualKey[s]; vk != 0) virtualKeys[static_cast<size_t>(vk)] = 0x80;
    }
    for (const Sided& side : kSided)
        if (scanCodes[static_cast<size_t>(side.scanCode)] & 0x80) virtualKeys[static_cast<size_t>(side.virtualKey)] = 0x80;
}

void TCustomInput::SetEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    if (!owner_.Started()) return;
    try {
        Initialize();
    } catch (...) {
        enabled_ = false;
        Finalize();
        throw;
    }
}

bool TCustomInput::MayRead() const { return initialized_ && owner_.MayRead(); }

InputSource& TCustomInput::Source() const { return owner_.Source(); }

TKeyboard::TKeyboard(TDXInput& owner) : TCustomInput(owner, true, true), assigns_(DefaultAssigns()) {}

TKeyboard::~TKeyboard() { TKeyboard::Finalize(); }

const TKeyboard::TKeyAssigns& TKeyboard::DefaultAssigns() {
    static const TKeyAssigns assigns = MakeDefaultAssigns();
    return assigns;
}

bool TKeyboard::Keys(int code) const {
    if (code < 1 || code > 255) return false;
    return (keys_[static_cast<size_t>(code)] & 0x80) != 0;
}

bool TKeyboard::ReadProperty(std::string_view name, std::span<const uint8_t> data) {
    if (name != "Assigns" && name != "Aissgns") return false;
    if (data.size() < kAssignsDataSize) throw gui::EReadError(kReadError);
    TKeyAssigns assigns{};
    size_t offset = 0;
    for (auto& state : assigns) {
        for (int32_t& code : state) {
            uint32_t v = 0;
            for (int b = 0; b < 4; ++b) v |= static_cast<uint32_t>(data[offset + static_cast<size_t>(b)]) << (8 * b);
            code = static_cast<int32_t>(v);
            offset += 4;
        }
    }
    assigns_ = assigns;
    return true;
}

std::vector<uint8_t> TKeyboard::AssignsData() const {
    std::vector<uint8_t> data;
    data.reserve(kAssignsDataSize);
    for (const auto& state : assigns_)
        for (int32_t code : state)
            for (int b = 0; b < 4; ++b) data.push_back(static_cast<uint8_t>(static_cast<uint32_t>(code) >> (8 * b)));
    return data;
}

void TKeyboard::Initialize() {
    Finalize();
    if (!Enabled()) return;
    if (owner_.HasDeviceInterface()) {
        hasDevice_ = Source().OpenKeyboard();
        initialized_ = hasDevice_;
    } else {
        initialized_ = true;
    }
}

void TKeyboard::Finalize() {
    hasDevice_ = false;
    TCustomInput::Finalize();
}

void TKeyboard::Acquire() {
    if (hasDevice_) Source().AcquireKeyboard();
}

void TKeyboard::Update() {
    keys_.fill(0);
    states_.reset();
    if (!MayRead()) return;
    if (hasDevice_) {
        KeyStateArray scanCodes{};
        bool read = Source().ReadKeyboard(scanCodes);
        if (!read && Source().AcquireKeyboard()) {
            scanCodes.fill(0);
            read = Source().ReadKeyboard(scanCodes);
        }
        if (!read) return;
        for (size_t s = 0; s < scanCodes.size(); ++s)
            if ((scanCodes[s] & 0x80) != 0)
                if (int vk = kScanCodeToVirtualKey[s]; vk != 0) keys_[static_cast<size_t>(vk)] = 0x80;
    } else {
        Source().GetKeyboardState(keys_);
    }
    for (size_t state = 0; state < assigns_.size(); ++state)
        for (int32_t code : assigns_[state])
            if (Keys(code)) states_.set(state);
}

TJoystick::~TJoystick() { TJoystick::Finalize(); }

void TJoystick::SetID(int id) {
    if (id == id_) return;
    id_ = id;
    if (owner_.Started()) Initialize();
}

void TJoystick::Initialize() {
    Finalize();
    if (!Enabled()) return;
    initialized_ = Source().OpenJoystick(id_);
}

void TJoystick::Finalize() {
    if (initialized_) Source().CloseJoystick(id_);
    position_ = {};
    buttons_ = 0;
    TCustomInput::Finalize();
}

void TJoystick::Update() {
    states_.reset();
    position_ = {};
    buttons_ = 0;
    if (!MayRead()) return;
    JoystickReading reading;
    if (!Source().ReadJoystick(id_, reading)) return;
    const int32_t raw[3] = {reading.x, reading.y, reading.z};
    for (size_t axis = 0; axis < 3; ++axis) {
        const int64_t range = range_[axis];
        int64_t scaled = static_cast<int64_t>(raw[axis]) * range / 32768;
        if (scaled > range) scaled = range;
        if (scaled < -range) scaled = -range;
        if (std::llabs(scaled) * 100 < range * deadZone_[axis]) scaled = 0;
        position_[axis] = static_cast<int>(scaled);
    }
    buttons_ = reading.buttons;
    states_ = DirectionAndButtonStates(position_[0], position_[1], buttons_);
}

TMouse::~TMouse() { TMouse::Finalize(); }

void TMouse::Initialize() {
    Finalize();
    if (!Enabled()) return;
    if (!owner_.HasDeviceInterface()) throw EDXInputError(kMouseNeedsDirectInput);
    initialized_ = Source().OpenMouse();
}

void TMouse::Finalize() {
    if (initialized_) Source().CloseMouse();
    reading_ = {};
    TCustomInput::Finalize();
}

void TMouse::Update() {
    states_.reset();
    reading_ = {};
    if (!MayRead()) return;
    if (!Source().ReadMouse(reading_)) {
        reading_ = {};
        return;
    }
    states_ = DirectionAndButtonStates(reading_.dx, reading_.dy, reading_.buttons);
}

TDXInput::TDXInput(gui::Form* owner, std::shared_ptr<InputSource> source)
    : form_(RequireForm(owner)),
      source_(source ? std::move(source) : CreateSdlInputSource()),
      joystick_(*this),
      keyboard_(*this),
      mouse_(*this) {
    activationHandler_ = form_->App().AddActivationHandler([this](bool active) { OnActivation(active); });
    try {
        Start();
    } catch (...) {
        FinalizeDevices();
        form_->App().RemoveActivationHandler(activationHandler_);
        throw;
    }
}

TDXInput::~TDXInput() {
    FinalizeDevices();
    form_->App().RemoveActivationHandler(activationHandler_);
}

void TDXInput::SetUseDirectInput(bool use) {
    if (use == useDirectInput_) return;
    useDirectInput_ = use;
    Start();
}

bool TDXInput::MayRead() const { return !activeOnly_ || source_->HasFocus(*form_); }

void TDXInput::FinalizeDevices() {
    joystick_.Finalize();
    keyboard_.Finalize();
    mouse_.Finalize();
    if (hasInterface_) source_->CloseDeviceInterface();
    hasInterface_ = false;
}

void TDXInput::Start() {
    FinalizeDevices();
    started_ = true;
    if (useDirectInput_) hasInterface_ = source_->OpenDeviceInterface();
    joystick_.Initialize();
    keyboard_.Initialize();
    mouse_.Initialize();
    Update();
}

void TDXInput::OnActivation(bool active) {
    if (!active || !MayRead()) return;
    joystick_.Acquire();
    keyboard_.Acquire();
    mouse_.Acquire();
}

void TDXInput::Update() {
    TDXInputStates merged;
    for (TCustomInput* device : {static_cast<TCustomInput*>(&joystick_), static_cast<TCustomInput*>(&keyboard_),
                                 static_cast<TCustomInput*>(&mouse_)}) {
        device->Update();
        if (device->Enabled() && device->BindInputStates()) merged |= device->States();
    }
    newStates_ |= merged & ~states_;
    newStates_ &= merged;
    states_ = merged;
}

}  // namespace media
