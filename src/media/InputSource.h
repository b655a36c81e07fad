// Where the input component reads its devices: SDL's keyboard, joystick and mouse in the
// program (SdlInput), a scripted source in tests. The component keeps all the rules
// (focus, key tables, assignments, states); a source only reports what the devices say.
#pragma once

#include <array>
#include <cstdint>

namespace gui {
class Form;
}

namespace media {

// 256 key bytes, bit 7 set = down; indexed by scan code or by virtual-key code.
using KeyStateArray = std::array<uint8_t, 256>;

// Joystick axes in the device's own range, -32768 to 32767; bit i of `buttons` = button i down.
struct JoystickReading {
    int32_t x = 0;
    int32_t y = 0;
    int32_t z = 0;
    uint32_t buttons = 0;
};

// Mouse movement since the last reading; bit i of `buttons` = button i down.
struct MouseReading {
    int32_t dx = 0;
    int32_t dy = 0;
    int32_t dz = 0;
    uint32_t buttons = 0;
};

class InputSource {
public:
    virtual ~InputSource() = default;

    // True while the form's window has the keyboard focus.
    virtual bool HasFocus(const gui::Form& form) const = 0;

    // The device interface shared by every input component; false when it cannot be had,
    // and then no device below is opened. Each successful open is paired with one close.
    virtual bool OpenDeviceInterface() = 0;
    virtual void CloseDeviceInterface() = 0;

    // Keyboard device: fills the state by scan code. A false read (input lost) is retried
    // once after AcquireKeyboard.
    virtual bool OpenKeyboard() = 0;
    virtual bool AcquireKeyboard() = 0;
    virtual bool ReadKeyboard(KeyStateArray& scanCodes) = 0;

    // The keyboard without a device: the system's key state by virtual-key code.
    virtual void GetKeyboardState(KeyStateArray& virtualKeys) = 0;

    virtual bool OpenJoystick(int id) = 0;
    virtual void CloseJoystick(int id) = 0;
    virtual bool ReadJoystick(int id, JoystickReading& reading) = 0;

    virtual bool OpenMouse() = 0;
    virtual void CloseMouse() = 0;
    virtual bool ReadMouse(MouseReading& reading) = 0;
};

}  // namespace media
