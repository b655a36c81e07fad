#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/BMCore.h"
#include "app/Setting.h"
#include "engine/BMSEngine.h"
#include "gui/Application.h"
#include "gui/Clock.h"
#include "play/DM.h"
#include "play/TapoModule.h"
#include "support/FormEvents.h"
#include "support/TestFiles.h"

using gui::Clock;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(ChartExtension, TakesTheLastDotAfterTheLastSeparator) {
    EXPECT_EQ(app::ChartExtension("song.bms"), ".bms");
    EXPECT_EQ(app::ChartExtension("C:\\dir.x\\song"), "");
    EXPECT_EQ(app::ChartExtension("/home/a.b/song"), "");
    EXPECT_EQ(app::ChartExtension("C:song.Bms"), ".Bms");
    EXPECT_EQ(app::ChartExtension("a.tar.BMS"), ".BMS");
    EXPECT_EQ(app::ChartExtension("noext"), "");
}

namespace {

// A main form and settings dialog as the program block makes them, driven by hand.
struct Sequencer : ::testing::Test {
    TempDir dir;
    gui::Application application;
    std::unique_ptr<app::Tmain> form;
    std::unique_ptr<app::TF_Set> settings;

    void SetUp() override { Clock::UseManual(5000); }
    void TearDown() override {
        settings.reset();
        play::DestroyDM();
        form.reset();
        Clock::UseSystem();
    }
    void Start(std::vector<std::string> args, const std::string& ini = "") {
        application.SetExeName((dir / "glimstep").string());
        application.Initialize();
        if (!ini.empty()) WriteFile(dir / "settings.ini", ini);
        form = std::make_unique<app::Tmain>(application, std::move(args));
        play::CreateDM();
        settings = std::make_unique<app::TF_Set>(application, *form->SettingsFile);
        form->SetSettingsDialog(settings.get());
    }
    void Tick(uint32_t ms = 100) {
        Clock::Advance(ms);
        form->DXTimer1Timer(1);
    }
};

}  // namespace

TEST_F(Sequencer, WaitsMoreThan20msThenOpensTheSettingsWithoutAChart) {
    Start({});
    EXPECT_EQ(form->SettingsFile->FileName(), (dir / "settings.ini").string());
    EXPECT_EQ(form->ExitMessage, "何らかの異常があります");
    Tick(20);
    EXPECT_EQ(form->Step, 0);
    Tick(1);
    EXPECT_EQ(form->Step, 900);
}

TEST_F(Sequencer, RefusesFilesThatAreNotBmsCharts) {
    for (const char* name : {"notes.txt", "song.bmx", "song"}) {
        Start({name, "ignored.bms"});
        Tick();
        EXPECT_EQ(form->Step, 999) << name;
        EXPECT_EQ(form->ExitMessage, "BMSファイルをドロップしてね（汗）");
        Tick();
        EXPECT_TRUE(form->Failed());
        EXPECT_TRUE(form->Closed());
        EXPECT_TRUE(form->Panel1Visible);
        settings.reset();
        play::DestroyDM();
        form.reset();
    }
}

TEST_F(Sequencer, AcceptsAnyLetterCaseAndCopiesTheSettingsIntoTheEngine) {
    Start({(dir / "a.Bms").string()}, "[Screen]\nShowBGA=1\nBGAProt=2\nPlaySpeed=4\nMode=1\n");
    Tick();
    ASSERT_EQ(form->Step, 20);
    EXPECT_EQ(form->DXTimer1.Interval(), 1);
    ASSERT_NE(form->Engine, nullptr);
    EXPECT_EQ(form->Engine->BgaDisplayMode, 1);
    EXPECT_EQ(form->Engine->BgaFitMode, 2);
    EXPECT_EQ(form->Engine->PlaySpeed, 150);
}

TEST_F(Sequencer, AMissingChartEndsAtStep20WithTheGenericMessage) {
    Start({(dir / "missing.BMS").string()}, "[Screen]\nShowBGA=2\n");
    Tick();
    ASSERT_EQ(form->Step, 20);
    EXPECT_EQ(form->ClientWidth(), 200);
    EXPECT_EQ(form->ClientHeight(), 0);
    Tick();
    EXPECT_EQ(form->Step, 999);
    EXPECT_EQ(form->ExitMessage, "何らかの異常があります");
}

TEST_F(Sequencer, APlaySpeedWithoutSelectionFailsStep0) {
    Start({(dir / "a.bms").string()}, "[Screen]\nPlaySpeed=-1\n");
    Tick();
    EXPECT_EQ(form->Step, 999);
    EXPECT_EQ(form->ExitMessage, "ステップ0において異常あり");
}

TEST_F(Sequencer, ACancelledDialogWritesNothing) {
    Start({});
    Tick();
    ASSERT_EQ(form->Step, 900);
    testsupport::PushKeyDown(*settings, SDLK_ESCAPE);
    Tick();
    EXPECT_FALSE(std::filesystem::exists(dir / "settings.ini"));
    EXPECT_TRUE(form->Closed());
    EXPECT_FALSE(form->Failed());
}

TEST_F(Sequencer, AConfirmedDialogWritesTheNineKeys) {
    Start({}, "[Screen]\nPlaySpeed=9\n");
    Tick();
    testsupport::PushKeyDown(*settings, SDLK_RETURN);
    Tick();
    EXPECT_EQ(testsupport::ReadFile(dir / "settings.ini"),
              "[Screen]\r\nPlaySpeed=5\r\nSize=0\r\nColor=1\r\nShowBGA=0\r\nMode=0\r\nBGAProt=0\r\nWaitTime=1\r\n"
              "ShowParams=0\r\nHidden=0\r\n");
    EXPECT_TRUE(form->Closed());
    EXPECT_FALSE(form->Failed());
}

TEST_F(Sequencer, WhileTheDialogIsOpenTheMainFormTakesNoInput) {
    Start({});
    Tick();
    ASSERT_EQ(form->Step, 900);
    testsupport::PushKeyDown(*form, SDLK_F4);
    testsupport::PushKeyDown(*form, SDLK_ESCAPE);
    testsupport::PushClose(*form);
    testsupport::PushKeyDown(*settings, SDLK_RETURN);
    Tick();
    EXPECT_EQ(form->Caption(), app::Tmain::kCaption);
    EXPECT_FALSE(form->DXD.Options().Contains(media::doFullScreen));
    EXPECT_TRUE(std::filesystem::exists(dir / "settings.ini"));
    EXPECT_TRUE(form->Closed());
    EXPECT_FALSE(form->Failed());
}

TEST_F(Sequencer, EscClosesAtOnceAndF4TogglesTheStoredScreenMode) {
    Start({});
    form->FormKeyDown(115);
    EXPECT_EQ(form->Caption(), "Full");
    EXPECT_TRUE(form->DXD.Options().Contains(media::doFullScreen));
    form->FormKeyDown(115);
    EXPECT_EQ(form->Caption(), "window");
    EXPECT_FALSE(form->DXD.Options().Contains(media::doFullScreen));
    form->FormKeyDown(27);
    EXPECT_TRUE(form->Closed());
    EXPECT_FALSE(form->Failed());
}

// A chart of 255,744 objects, long enough to load that the engine reports progress.
std::string LongChart() {
    std::string chart = "#BPM 120\n";
    for (int lane : {11, 13, 15, 16, 21, 23, 25, 26})
        for (int m = 0; m < 999; ++m) {
            char head[16];
            std::snprintf(head, sizeof head, "#%03d%02d:", m, lane);
            chart += head + std::string(64, '1') + "\n";
        }
    return chart;
}

// Starts a long load with a key press or a click on the close box waiting in the queue.
void LoadWithEventQueued(Sequencer& t, bool closeBox) {
    WriteFile(t.dir / "long.bms", LongChart());
    t.Start({(t.dir / "long.bms").string()}, "[Screen]\nShowBGA=2\n");
    t.Tick();
    ASSERT_EQ(t.form->Step, 20);
    if (closeBox)
        testsupport::PushClose(*t.form);
    else
        testsupport::PushKeyDown(*t.form, SDLK_ESCAPE);
    t.Tick();
    // The load was abandoned at its first report; the run ends without a message.
    EXPECT_TRUE(t.form->Closed());
    EXPECT_TRUE(t.application.Terminated());
    EXPECT_EQ(t.form->Step, 999);
    EXPECT_FALSE(t.form->Failed());
    EXPECT_TRUE(t.form->Engine->Chart().TempoMap().empty());
}

TEST_F(Sequencer, EscEndsTheRunDuringALongLoad) { LoadWithEventQueued(*this, false); }

TEST_F(Sequencer, TheCloseBoxEndsTheRunDuringALongLoad) { LoadWithEventQueued(*this, true); }

TEST_F(Sequencer, AnUnwritableSettingsFileEndsStep900WithItsMessage) {
    Start({});
    // The settings path is a folder: the write fails.
    std::filesystem::create_directories(dir / "settings.ini" / "x");
    Tick();
    ASSERT_EQ(form->Step, 900);
    testsupport::PushKeyDown(*settings, SDLK_RETURN);
    Tick();
    EXPECT_EQ(form->ExitMessage, "ステップ900において異常あり");
    EXPECT_TRUE(form->Failed());
    EXPECT_TRUE(form->Closed());
}

TEST(CommandLine, OptionsComeBeforeTheChartTheEditorsOnesAnywhereAndUnknownOnesAreErrors) {
    using Args = std::vector<std::string>;
    EXPECT_FALSE(app::ParseCommandLine({}).Chart);
    app::TCommandLine line = app::ParseCommandLine(Args{"--extended", "song.bms", "more"});
    EXPECT_TRUE(line.Extended);
    EXPECT_EQ(line.Chart, "song.bms");
    // After the chart nothing is an option; "--" makes the next argument the chart.
    line = app::ParseCommandLine(Args{"song.bms", "--extended"});
    EXPECT_FALSE(line.Extended);
    EXPECT_EQ(line.Chart, "song.bms");
    line = app::ParseCommandLine(Args{"--", "--extended"});
    EXPECT_FALSE(line.Extended);
    EXPECT_EQ(line.Chart, "--extended");
    EXPECT_FALSE(app::ParseCommandLine(Args{"--extended", "--"}).Chart);
    EXPECT_TRUE(app::ParseCommandLine(Args{"--help", "song.bms"}).Help);
    EXPECT_TRUE(app::ParseCommandLine(Args{"--extended", "--version"}).Version);
    EXPECT_FALSE(app::ParseCommandLine(Args{"song.bms", "--help"}).Help);
    EXPECT_EQ(app::ParseCommandLine(Args{"song.bms", "-x"}).Error, "");

    // The editors' options, before or after the chart; the measure joined or apart.
    struct Case {
        Args args;
        bool preview, stop;
        int32_t measure;
        const char* chart;
    };
    for (const Case& c : {Case{{"-P", "-N0", "song.bme"}, true, false, 0, "song.bme"},
                          Case{{"-P", "-N", "12", "song.bms"}, true, false, 12, "song.bms"},
                          Case{{"song.bml", "-N999", "-P"}, true, false, 999, "song.bml"},
                          Case{{"-N007", "--", "-P.bms"}, false, false, 7, "-P.bms"},
                          Case{{"-S"}, false, true, 0, nullptr}}) {
        line = app::ParseCommandLine(c.args);
        EXPECT_EQ(line.Error, "") << c.args[0];
        EXPECT_EQ(line.Preview, c.preview) << c.args[0];
        EXPECT_EQ(line.Stop, c.stop) << c.args[0];
        EXPECT_EQ(line.StartMeasure, c.measure) << c.args[0];
        EXPECT_EQ(line.Chart, c.chart ? std::optional<std::string>(c.chart) : std::nullopt) << c.args[0];
    }
    // Options we do not know and measures out of range are errors that name them.
    for (const auto& [args, error] : std::vector<std::pair<Args, std::string>>{
             {{"-x", "song.bms"}, "unknown option -x"},
             {{"--extnded", "song.bms"}, "unknown option --extnded"},
             {{"-P", "-N1000", "song.bms"}, "-N wants a measure from 0 to 999, not \"1000\""},
             {{"-N", "-1", "song.bms"}, "-N wants a measure from 0 to 999, not \"-1\""},
             {{"song.bms", "-N+5"}, "-N wants a measure from 0 to 999, not \"+5\""},
             {{"-P", "-N"}, "-N needs a measure (0 to 999)"}})
        EXPECT_EQ(app::ParseCommandLine(args).Error, error) << args[0];
}

TEST_F(Sequencer, TheExtendedReadingComesFromTheOptionOrTheSettingsFile) {
    using Args = std::vector<std::string>;
    const std::string chart = (dir / "a.bms").string();
    Start({chart});
    Tick();
    ASSERT_NE(form->Engine, nullptr);
    EXPECT_FALSE(form->Engine->Options.Extended);

    Start({"--extended", chart});
    Tick();
    ASSERT_NE(form->Engine, nullptr);
    EXPECT_TRUE(form->Engine->Options.Extended);

    Start({chart}, "[Screen]\nMode=1\n[Chart]\nExtended=1\n");
    Tick();
    ASSERT_NE(form->Engine, nullptr);
    EXPECT_TRUE(form->Engine->Options.Extended);

    Start({"--extended", "notes.txt"});
    Tick();
    EXPECT_EQ(form->ExitMessage, "BMSファイルをドロップしてね（汗）");

    // An editor's viewer, and the names the fixed dialect never took, read extended.
    for (const Args& args : {Args{"-P", chart}, Args{(dir / "a.BME").string()}, Args{(dir / "a.bml").string()},
                             Args{(dir / "a.Pms").string()}}) {
        Start(args);
        Tick();
        ASSERT_NE(form->Engine, nullptr) << args.back();
        EXPECT_TRUE(form->Engine->Options.Extended) << args.back();
    }
}
