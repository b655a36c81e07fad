// A scripted input source for tests: keys are held and released by scan code, focus and
// device failures are set by hand, and every call is counted.
#pragma once

#include <map>

#include "media/DXInput.h"
#include "media/InputSource.h"

namespace testsupport {

class ScriptedInput : public media::InputSource {
public:
    // Scan codes of the keys the tests use most.
    static constexpr int kSpace = 57;
    static constexpr int kUp = 200;
    static constexpr int kEscape = 1;

    bool focused = true;
    bool deviceInterface = true;
    bool keyboardDevice = true;
    bool mouseDevice = true;
    int failingReads = 0;  // the next reads that report lost input

    media::KeyStateArray scanCodes{};
    media::KeyStateArray systemOnly{};  // extra bytes of the system key state, by virtual-key code
    std::map<int, media::JoystickReading> joysticks;  // plugged-in joysticks by id
    media::MouseReading mouse;

    int interfaceOpen = 0;
    int acquisitions = 0;
    int deviceReads = 0;
    int stateReads = 0;

    void Press(int scanCode) { scanCodes[static_cast<size_t>(scanCode)] = 0x80; }
    void Release(int scanCode) { scanCodes[static_cast<size_t>(scanCode)] = 0; }

    bool HasFocus(const gui::Form&) const override { return focused; }
    bool OpenDeviceInterface() override {
        if (deviceInterface) ++interfaceOpen;
        return deviceInterface;
    }
    void CloseDeviceInterface() override { --interfaceOpen; }
    bool OpenKeyboard() override { return keyboardDevice; }
    bool AcquireKeyboard() override {
        ++acquisitions;
        return true;
    }
    bool ReadKeyboard(media::KeyStateArray& out) override {
        ++deviceReads;
        if (failingReads > 0) {
            --failingReads;
            return false;
        }
        out = scanCodes;
        return true;
    }
    void GetKeyboardState(media::KeyStateArray& virtualKeys) override {
        ++stateReads;
        media::KeyboardStateFromScanCodes(scanCodes, virtualKeys);
        for (size_t i = 0; i < virtualKeys.size(); ++i) virtualKeys[i] |= systemOnly[i];
    }
    bool OpenJoystick(int id) override { return joysticks.contains(id); }
    void CloseJoystick(int) override {}
    bool ReadJoystick(int id, media::JoystickReading& reading) override {
        auto it = joysticks.find(id);
        if (it == joysticks.end()) return false;
        reading = it->second;
        return true;
    }
    bool OpenMouse() override { return mouseDevice; }
    void CloseMouse() override {}
    bool ReadMouse(media::MouseReading& reading) override {
        reading = mouse;
        mouse = {};
        return true;
    }
};

}  // namespace testsupport
