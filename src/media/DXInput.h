// The input component that a form carries (the main form's DXInput1): a joystick, a keyboard
// and a mouse device, read once per frame by Update. The keyboard keeps a 256-byte state by
// Windows virtual-key code; each device also sets bound input states (up, down, left, right,
// buttons 1 to 32) from its assignments, and the component merges them into States.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "gui/Exception.h"
#include "media/InputSource.h"

namespace gui {
class Form;
}

namespace media {

class EDXInputError : public gui::Exception {
public:
    using Exception::Exception;
};

constexpr int kInputStateCount = 36;
// Input states: 0 up, 1 down, 2 left, 3 right, then buttons 1 to 32 (isButton1 + i).
enum TDXInputState : int { isUp = 0, isDown = 1, isLeft = 2, isRight = 3, isButton1 = 4 };
using TDXInputStates = std::bitset<kInputStateCount>;

// The virtual-key code of a keyboard scan code, 0 for scan codes without one.
int VirtualKeyFromScanCode(int scanCode);
// The system key state for keys held by scan code: each key's virtual-key code, plus the
// left/right codes of Shift, Control and Alt (160 to 165), as the system reports them.
void KeyboardStateFromScanCodes(const KeyStateArray& scanCodes, KeyStateArray& virtualKeys);

class TDXInput;

// One input device. `Initialize` finalises first; `Finalize` is harmless when nothing is open.
class TCustomInput {
public:
    TCustomInput(TDXInput& owner, bool enabled, bool bound)
        : owner_(owner), bindInputStates_(bound), enabled_(enabled) {}
    virtual ~TCustomInput() = default;
    TCustomInput(const TCustomInput&) = delete;
    TCustomInput& operator=(const TCustomInput&) = delete;

    // When true, the device's states are merged into the component's States.
    bool BindInputStates() const { return bindInputStates_; }
    void SetBindInputStates(bool bind) { bindInputStates_ = bind; }
    // Changing Enabled re-initialises the device once the component has started.
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    bool ForceFeedback() const { return forceFeedback_; }
    void SetForceFeedback(bool forceFeedback) { forceFeedback_ = forceFeedback; }

    bool Initialized() const { return initialized_; }
    const TDXInputStates& States() const { return states_; }

    virtual void Initialize() = 0;
    virtual void Finalize() { initialized_ = false; }
    virtual void Update() = 0;
    // Called when the form becomes active.
    virtual void Acquire() {}

protected:
    // Initialised and allowed to read now (the form has the focus, or ActiveOnly is off).
    bool MayRead() const;
    InputSource& Source() const;

    TDXInput& owner_;
    TDXInputStates states_;
    bool initialized_ = false;

private:
    bool bindInputStates_;
    bool enabled_;
    bool forceFeedback_ = false;
};

class TKeyboard : public TCustomInput {
public:
    // Three virtual-key codes per state, 0 = no key.
    using TKeyAssigns = std::array<std::array<int32_t, 3>, kInputStateCount>;
    // Size of the stored table: 36 states x 3 codes x 4 bytes, little-endian.
    static constexpr size_t kAssignsDataSize = kInputStateCount * 3 * 4;

    explicit TKeyboard(TDXInput& owner);
    ~TKeyboard() override;

    // True if the key was down at the last Update; false for codes below 1 or above 255.
    bool Keys(int code) const;
    const KeyStateArray& KeyStates() const { return keys_; }

    // The built-in table: arrows, H/J/K/L and the keypad for directions, Z/Space, X/Enter, F2.
    static const TKeyAssigns& DefaultAssigns();
    const TKeyAssigns& Assigns() const { return assigns_; }
    void SetAssigns(const TKeyAssigns& assigns) { assigns_ = assigns; }

    // Reads a stored raw-data property: "Assigns", or "Aissgns" as older descriptions name it.
    // Returns false for any other name. Raises gui::EReadError when the data is too short.
    bool ReadProperty(std::string_view name, std::span<const uint8_t> data);
    // The table in its stored form, for the property "Assigns".
    std::vector<uint8_t> AssignsData() const;

    void Initialize() override;
    void Finalize() override;
    void Update() override;
    void Acquire() override;

private:
    KeyStateArray keys_{};
    TKeyAssigns assigns_;
    bool hasDevice_ = false;
};

class TJoystick : public TCustomInput {
public:
    explicit TJoystick(TDXInput& owner) : TCustomInput(owner, true, true) {}
    ~TJoystick() override;

    // The joystick's device index; changing it re-initialises the device once started.
    int ID() const { return id_; }
    void SetID(int id);
    bool AutoCenter() const { return autoCenter_; }
    void SetAutoCenter(bool autoCenter) { autoCenter_ = autoCenter; }
    // Dead zones in percent of the range: smaller positions read as centred.
    int DeadZoneX() const { return deadZone_[0]; }
    int DeadZoneY() const { return deadZone_[1]; }
    int DeadZoneZ() const { return deadZone_[2]; }
    void SetDeadZoneX(int percent) { deadZone_[0] = percent; }
    void SetDeadZoneY(int percent) { deadZone_[1] = percent; }
    void SetDeadZoneZ(int percent) { deadZone_[2] = percent; }
    // Positions are scaled to -Range..Range.
    int RangeX() const { return range_[0]; }
    int RangeY() const { return range_[1]; }
    int RangeZ() const { return range_[2]; }
    void SetRangeX(int range) { range_[0] = range; }
    void SetRangeY(int range) { range_[1] = range; }
    void SetRangeZ(int range) { range_[2] = range; }

    // The position at the last Update, scaled and cut by the dead zones.
    int X() const { return position_[0]; }
    int Y() const { return position_[1]; }
    int Z() const { return position_[2]; }
    uint32_t Buttons() const { return buttons_; }

    void Initialize() override;
    void Finalize() override;
    void Update() override;

private:
    int id_ = 0;
    bool autoCenter_ = true;
    std::array<int, 3> deadZone_{50, 50, 50};
    std::array<int, 3> range_{1000, 1000, 1000};
    std::array<int, 3> position_{};
    uint32_t buttons_ = 0;
};

// The mouse: movement to the left/right/up/down and buttons 1 to 3 as states. It needs the
// device interface; it is disabled and unbound unless a form turns it on.
class TMouse : public TCustomInput {
public:
    explicit TMouse(TDXInput& owner) : TCustomInput(owner, false, false) {}
    ~TMouse() override;

    int X() const { return reading_.dx; }
    int Y() const { return reading_.dy; }
    int Z() const { return reading_.dz; }
    uint32_t Buttons() const { return reading_.buttons; }

    // Raises EDXInputError when enabled without the device interface.
    void Initialize() override;
    void Finalize() override;
    void Update() override;

private:
    MouseReading reading_;
};

class TDXInput {
public:
    // `owner` is the form the component belongs to (its focus decides ActiveOnly); without one
    // EDXInputError is raised. `source` defaults to SDL's devices. The devices are initialised
    // and read once before the constructor returns.
    explicit TDXInput(gui::Form* owner, std::shared_ptr<InputSource> source = nullptr);
    ~TDXInput();
    TDXInput(const TDXInput&) = delete;
    TDXInput& operator=(const TDXInput&) = delete;

    // When true, every device reads nothing (all keys up) while the form lacks the focus.
    bool ActiveOnly() const { return activeOnly_; }
    void SetActiveOnly(bool activeOnly) { activeOnly_ = activeOnly; }
    // When false, no device interface is used and the keyboard reads the system key state.
    // Changing it restarts every device.
    bool UseDirectInput() const { return useDirectInput_; }
    void SetUseDirectInput(bool use);

    TJoystick& Joystick() { return joystick_; }
    TKeyboard& Keyboard() { return keyboard_; }
    TMouse& Mouse() { return mouse_; }
    const TKeyboard& Keyboard() const { return keyboard_; }

    // Re-reads every device in creation order (joystick, keyboard, mouse) and merges the
    // states of the bound ones.
    void Update();
    bool Keys(int code) const { return keyboard_.Keys(code); }
    // The bound states at the last Update.
    const TDXInputStates& States() const { return states_; }
    // States that went on since they were last off; a state leaves the set when it goes off,
    // or when the reader takes it with ClearNewStates.
    const TDXInputStates& NewStates() const { return newStates_; }
    void ClearNewStates() { newStates_.reset(); }
    void ClearNewState(int state) { newStates_.reset(static_cast<size_t>(state)); }

    gui::Form& OwnerForm() const { return *form_; }
    InputSource& Source() const { return *source_; }
    bool HasDeviceInterface() const { return hasInterface_; }
    bool Started() const { return started_; }
    // False while ActiveOnly is set and the form does not have the focus.
    bool MayRead() const;

private:
    void Start();
    void FinalizeDevices();
    void OnActivation(bool active);

    gui::Form* form_;
    std::shared_ptr<InputSource> source_;
    bool activeOnly_ = true;
    bool useDirectInput_ = true;
    bool hasInterface_ = false;
    bool started_ = false;
    int activationHandler_ = 0;
    TJoystick joystick_;
    TKeyboard keyboard_;
    TMouse mouse_;
    TDXInputStates states_;
    TDXInputStates newStates_;
};

}  // namespace media
