#include <gtest/gtest.h>

#include <SDL.h>

#include <memory>
#include <set>

#include "gui/Application.h"
#include "gui/Form.h"
#include "media/DXInput.h"
#include "media/SdlInput.h"
#include "support/ScriptedInput.h"

using media::TDXInput;
using testsupport::ScriptedInput;

namespace {

struct InputRig : ::testing::Test {
    gui::Application app;
    gui::Form form{app, "input", 320, 240};
    std::shared_ptr<ScriptedInput> source = std::make_shared<ScriptedInput>();
    std::unique_ptr<TDXInput> input;

    void Start() { input = std::make_unique<TDXInput>(&form, source); }
    bool Read(int code) {
        input->Update();
        return input->Keys(code);
    }
    bool State(int state) const { return input->States().test(static_cast<size_t>(state)); }
    bool New(int state) const { return input->NewStates().test(static_cast<size_t>(state)); }
};

}  // namespace

TEST_F(InputRig, KeysOutsideOneTo255ReadUpAnd255IsReadable) {
    source->deviceInterface = false;
    source->systemOnly[0] = 0x80;
    source->systemOnly[255] = 0x80;
    source->Press(ScriptedInput::kSpace);
    Start();
    input->Update();
    EXPECT_TRUE(input->Keys(32));
    EXPECT_TRUE(input->Keys(255));
    EXPECT_FALSE(input->Keys(0));
    EXPECT_FALSE(input->Keys(256));
    EXPECT_FALSE(input->Keys(-1));
    EXPECT_FALSE(input->Keys(33));
}

TEST_F(InputRig, SpaceHeldReadsDownOnEveryUpdateButIsNewOnlyOnce) {
    Start();
    EXPECT_FALSE(Read(32));
    source->Press(ScriptedInput::kSpace);
    for (int frame = 0; frame < 3; ++frame) {
        EXPECT_TRUE(Read(32)) << frame;
        EXPECT_TRUE(State(media::isButton1));
    }
    EXPECT_TRUE(New(media::isButton1));
    input->ClearNewState(media::isButton1);
    EXPECT_TRUE(Read(32));
    EXPECT_FALSE(New(media::isButton1));  // still held: not pressed again
    source->Release(ScriptedInput::kSpace);
    EXPECT_FALSE(Read(32));
    EXPECT_FALSE(State(media::isButton1));
    source->Press(ScriptedInput::kSpace);
    EXPECT_TRUE(Read(32));
    EXPECT_TRUE(New(media::isButton1));
}

TEST_F(InputRig, NewStatesLeaveTheSetWhenReleasedUnread) {
    Start();
    source->Press(200);
    input->Update();
    EXPECT_TRUE(New(media::isUp));
    source->Release(200);
    input->Update();
    EXPECT_FALSE(New(media::isUp));
    EXPECT_TRUE(input->NewStates().none());
}

TEST_F(InputRig, DefaultTableBindsDirectionsAndButtons) {
    Start();
    struct Case {
        int scanCode;
        int state;
    };
    // Up arrow, K, keypad 8; Down arrow, J, keypad 2; H; L; Z and Space; X, Enter, keypad Enter; F2.
    const Case cases[] = {{200, media::isUp},  {37, media::isUp},     {72, media::isUp},   {208, media::isDown},
                          {36, media::isDown}, {80, media::isDown},   {35, media::isLeft}, {75, media::isLeft},
                          {38, media::isRight}, {205, media::isRight}, {44, 4},            {57, 4},
                          {45, 5},             {28, 5},               {156, 5},            {60, 12}};
    for (const Case& c : cases) {
        source->scanCodes.fill(0);
        source->Press(c.scanCode);
        input->Update();
        media::TDXInputStates expected;
        expected.set(static_cast<size_t>(c.state));
        EXPECT_EQ(input->States(), expected) << "scan code " << c.scanCode;
    }
    source->scanCodes.fill(0);
    source->Press(16);  // Q has no state
    input->Update();
    EXPECT_TRUE(input->States().none());
    EXPECT_TRUE(input->Keys('Q'));
}

TEST_F(InputRig, EverythingReadsUpWithoutTheFocusUnlessActiveOnlyIsOff) {
    Start();
    source->Press(ScriptedInput::kSpace);
    source->Press(ScriptedInput::kUp);
    source->joysticks[0] = {-32768, 0, 0, 1};
    input->Joystick().Initialize();
    source->focused = false;
    EXPECT_FALSE(Read(32));
    EXPECT_FALSE(input->Keys(38));
    EXPECT_TRUE(input->States().none());
    EXPECT_TRUE(input->NewStates().none());
    input->SetActiveOnly(false);
    EXPECT_TRUE(Read(32));
    EXPECT_TRUE(State(media::isLeft));
    EXPECT_TRUE(State(media::isUp));
}

TEST_F(InputRig, WithoutDeviceInterfaceTheSystemKeyStateIsRead) {
    source->deviceInterface = false;
    source->Press(ScriptedInput::kSpace);
    source->Press(42);  // left Shift
    Start();
    EXPECT_TRUE(Read(32));
    EXPECT_TRUE(input->Keys(16));
    EXPECT_TRUE(input->Keys(160));
    EXPECT_FALSE(input->Keys(161));
    EXPECT_GT(source->stateReads, 0);
    EXPECT_EQ(source->deviceReads, 0);
    EXPECT_FALSE(input->HasDeviceInterface());
    source->focused = false;
    EXPECT_FALSE(Read(32));
}

TEST_F(InputRig, SwitchingUseDirectInputRestartsAndReleasesTheInterface) {
    Start();
    EXPECT_EQ(source->interfaceOpen, 1);
    source->Press(ScriptedInput::kSpace);
    input->SetUseDirectInput(false);
    EXPECT_EQ(source->interfaceOpen, 0);
    EXPECT_TRUE(input->Keys(32));  // the restart reads once
    input->SetUseDirectInput(true);
    EXPECT_EQ(source->interfaceOpen, 1);
    input.reset();
    EXPECT_EQ(source->interfaceOpen, 0);
}

TEST_F(InputRig, LostInputIsReacquiredOnceThenReadsUp) {
    Start();
    source->Press(ScriptedInput::kSpace);
    source->failingReads = 1;
    const int before = source->acquisitions;
    EXPECT_TRUE(Read(32));
    EXPECT_EQ(source->acquisitions, before + 1);
    source->failingReads = 2;
    EXPECT_FALSE(Read(32));
    EXPECT_TRUE(input->States().none());
    EXPECT_TRUE(Read(32));
}

TEST_F(InputRig, KeyboardWithoutItsDeviceOrDisabledReadsUp) {
    source->keyboardDevice = false;
    source->Press(ScriptedInput::kSpace);
    Start();
    EXPECT_FALSE(input->Keyboard().Initialized());
    EXPECT_FALSE(Read(32));
    source->keyboardDevice = true;
    input->Keyboard().SetEnabled(false);
    input->Keyboard().SetEnabled(true);
    EXPECT_TRUE(Read(32));
    input->Keyboard().SetEnabled(false);
    EXPECT_FALSE(Read(32));
}

TEST_F(InputRig, UnboundKeyboardStillAnswersKeys) {
    Start();
    input->Keyboard().SetBindInputStates(false);
    source->Press(ScriptedInput::kSpace);
    EXPECT_TRUE(Read(32));
    EXPECT_TRUE(input->Keyboard().States().test(media::isButton1));
    EXPECT_TRUE(input->States().none());
}

TEST_F(InputRig, ActivationAcquiresOnlyWithTheFocus) {
    Start();
    int before = source->acquisitions;
    app.SetActive(false);
    app.SetActive(true);
    EXPECT_EQ(source->acquisitions, before + 1);
    source->focused = false;
    app.SetActive(false);
    app.SetActive(true);
    EXPECT_EQ(source->acquisitions, before + 1);
}

TEST_F(InputRig, JoystickAxesAreCutByDeadZonesAndButtonsFollowTheDirections) {
    source->joysticks[0] = {};
    Start();
    ASSERT_TRUE(input->Joystick().Initialized());
    auto& stick = source->joysticks[0];
    stick = {-16000, 0, 0, 0};  // under half way: inside the 50% dead zone
    input->Update();
    EXPECT_TRUE(input->States().none());
    EXPECT_EQ(input->Joystick().X(), 0);
    stick = {-32768, 32767, 0, (1u << 0) | (1u << 31)};
    input->Update();
    EXPECT_EQ(input->Joystick().X(), -1000);
    EXPECT_EQ(input->Joystick().Y(), 999);
    EXPECT_TRUE(State(media::isLeft));
    EXPECT_TRUE(State(media::isDown));
    EXPECT_FALSE(State(media::isUp));
    EXPECT_FALSE(State(media::isRight));
    EXPECT_TRUE(State(media::isButton1));
    EXPECT_TRUE(State(media::isButton1 + 31));
    input->Joystick().SetDeadZoneX(0);
    stick = {200, 0, 0, 0};
    input->Update();
    EXPECT_TRUE(State(media::isRight));
    input->Joystick().SetEnabled(false);
    input->Update();
    EXPECT_TRUE(input->States().none());
}

TEST_F(InputRig, JoystickThatIsNotPluggedInReadsNothing) {
    Start();
    EXPECT_FALSE(input->Joystick().Initialized());
    source->joysticks[1] = {-32768, 0, 0, 0};
    input->Update();
    EXPECT_TRUE(input->States().none());
    input->Joystick().SetID(1);
    input->Update();
    EXPECT_TRUE(State(media::isLeft));
}

TEST_F(InputRig, MouseNeedsTheDeviceInterface) {
    source->deviceInterface = false;
    Start();
    EXPECT_FALSE(input->Mouse().Enabled());
    try {
        input->Mouse().SetEnabled(true);
        FAIL() << "no error";
    } catch (const media::EDXInputError& e) {
        EXPECT_STREQ(e.what(), "マウスを使うには DirectInput が必要です");
    }
    EXPECT_FALSE(input->Mouse().Enabled());
    input->Update();
}

TEST_F(InputRig, MouseMovementAndButtonsBecomeStatesWhenBound) {
    Start();
    input->Mouse().SetEnabled(true);
    input->Mouse().SetBindInputStates(true);
    source->mouse = {5, -3, 0, 2};
    input->Update();
    EXPECT_TRUE(State(media::isRight));
    EXPECT_TRUE(State(media::isUp));
    EXPECT_TRUE(State(media::isButton1 + 1));
    input->Update();
    EXPECT_TRUE(input->States().none());
}

TEST_F(InputRig, CreatedWithoutAFormRaises) {
    try {
        TDXInput orphan(nullptr, source);
        FAIL() << "no error";
    } catch (const media::EDXInputError& e) {
        EXPECT_STREQ(e.what(), "フォームが見つかりません");
    }
}

TEST(KeyAssigns, DefaultsAreTheMainFormTable) {
    const auto& defaults = media::TKeyboard::DefaultAssigns();
    EXPECT_EQ(defaults[0], (std::array<int32_t, 3>{75, 38, 104}));
    EXPECT_EQ(defaults[4], (std::array<int32_t, 3>{90, 32, 0}));
    EXPECT_EQ(defaults[12], (std::array<int32_t, 3>{113, 0, 0}));
    EXPECT_EQ(defaults[35], (std::array<int32_t, 3>{0, 0, 0}));
}

TEST_F(InputRig, AssignsPropertyIsReadUnderBothNames) {
    Start();
    auto& keyboard = input->Keyboard();
    std::vector<uint8_t> data = keyboard.AssignsData();
    ASSERT_EQ(data.size(), 432u);
    EXPECT_EQ(data[0], 75);  // K, first code of state 0, little-endian
    EXPECT_EQ(data[1], 0);
    EXPECT_EQ(data[4 * 13], 32);  // Space, second code of state 4

    std::vector<uint8_t> swapped(432, 0);
    swapped[0] = 32;           // state 0 on Space
    swapped[12 * 4 * 3] = 0xFF;  // state 12 on an out-of-range code 0x000001FF
    swapped[12 * 4 * 3 + 1] = 0x01;
    EXPECT_TRUE(keyboard.ReadProperty("Aissgns", swapped));
    EXPECT_EQ(keyboard.Assigns()[12][0], 0x1FF);
    source->Press(ScriptedInput::kSpace);
    input->Update();
    media::TDXInputStates expected;
    expected.set(media::isUp);
    EXPECT_EQ(input->States(), expected);

    EXPECT_TRUE(keyboard.ReadProperty("Assigns", data));
    EXPECT_EQ(keyboard.Assigns(), media::TKeyboard::DefaultAssigns());
    EXPECT_FALSE(keyboard.ReadProperty("Assign", data));
    EXPECT_THROW(keyboard.ReadProperty("Assigns", std::span(data).first(431)), gui::EReadError);
    EXPECT_EQ(keyboard.Assigns(), media::TKeyboard::DefaultAssigns());
}

TEST(KeyTables, ScanCodesMapToVirtualKeysAsOnAUsLayout) {
    EXPECT_EQ(media::VirtualKeyFromScanCode(57), 32);
    EXPECT_EQ(media::VirtualKeyFromScanCode(1), 27);
    EXPECT_EQ(media::VirtualKeyFromScanCode(11), '0');
    EXPECT_EQ(media::VirtualKeyFromScanCode(10), '9');
    EXPECT_EQ(media::VirtualKeyFromScanCode(16), 'Q');
    EXPECT_EQ(media::VirtualKeyFromScanCode(38), 'L');
    EXPECT_EQ(media::VirtualKeyFromScanCode(50), 'M');
    EXPECT_EQ(media::VirtualKeyFromScanCode(68), 121);
    EXPECT_EQ(media::VirtualKeyFromScanCode(88), 123);
    EXPECT_EQ(media::VirtualKeyFromScanCode(82), 96);
    EXPECT_EQ(media::VirtualKeyFromScanCode(181), 111);
    EXPECT_EQ(media::VirtualKeyFromScanCode(221), 93);
    EXPECT_EQ(media::VirtualKeyFromScanCode(84), 0);
    EXPECT_EQ(media::VirtualKeyFromScanCode(256), 0);
    EXPECT_EQ(media::VirtualKeyFromScanCode(-1), 0);
    // The punctuation keys get codes of their own.
    std::set<int> codes;
    for (int scan : {12, 13, 26, 27, 39, 40, 41, 43, 51, 52, 53, 55}) {
        const int vk = media::VirtualKeyFromScanCode(scan);
        EXPECT_NE(vk, 0) << scan;
        codes.insert(vk);
    }
    EXPECT_EQ(codes.size(), 12u);
}

TEST(KeyTables, SdlKeysReachTheBoundKeys) {
    struct Case {
        SDL_Scancode sdl;
        int virtualKey;
    };
    const Case cases[] = {{SDL_SCANCODE_SPACE, 32}, {SDL_SCANCODE_UP, 38},     {SDL_SCANCODE_K, 75},
                          {SDL_SCANCODE_KP_8, 104}, {SDL_SCANCODE_RETURN, 13}, {SDL_SCANCODE_KP_ENTER, 13},
                          {SDL_SCANCODE_F2, 113},   {SDL_SCANCODE_ESCAPE, 27}, {SDL_SCANCODE_RALT, 18},
                          {SDL_SCANCODE_DOWN, 40},  {SDL_SCANCODE_LEFT, 37},   {SDL_SCANCODE_RIGHT, 39}};
    for (const Case& c : cases)
        EXPECT_EQ(media::VirtualKeyFromScanCode(media::ScanCodeFromSdl(c.sdl)), c.virtualKey) << c.sdl;
    std::set<int> scans;
    int mapped = 0;
    for (int sdl = 0; sdl < SDL_NUM_SCANCODES; ++sdl)
        if (int scan = media::ScanCodeFromSdl(sdl); scan != 0) {
            scans.insert(scan);
            ++mapped;
        }
    EXPECT_EQ(static_cast<int>(scans.size()), mapped);  // no two SDL keys share a scan code
}

TEST(SdlInput, TheProgramsSourceStartsReadsAndStopsWithoutADevice) {
    gui::Application app;
    gui::Form form{app, "input", 320, 240};
    TDXInput input(&form);
    EXPECT_TRUE(input.Keyboard().Initialized());
    for (int frame = 0; frame < 3; ++frame) input.Update();
    EXPECT_FALSE(input.Keys(32));
    EXPECT_TRUE(input.States().none());
    input.SetUseDirectInput(false);
    input.Update();
    EXPECT_FALSE(input.Keys(32));
}
