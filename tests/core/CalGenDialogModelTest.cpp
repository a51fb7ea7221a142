#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "app/CalGenRegistration.h"
#include "app/Commands.h"
#include "app/ViewHub.h"
#include "base/SettingsStore.h"
#include "calgen/CalGenCommands.h"
#include "calgen/CalGenTypeSelection.h"
#include "calgen/ReferencePointForms.h"
#include "calgen/VaporPressureLauncher.h"

namespace tavrix {
namespace {

TEST(ReferencePointFormTest, LimitTestsRefuseTheFirstBadEditWithItsMessage) {
    OnePointValues preset;
    preset.reading = 1.25f;
    preset.prompt = "Please enter a reference point at around 300K";
    OnePointForm form(preset);
    EXPECT_EQ(form.EditText(OnePointForm::kReadingEdit), "1.25");
    EXPECT_EQ(form.EditText(OnePointForm::kTemperatureEdit), "0");

    std::map<int, std::string> texts = {{1018, "abc"}, {1019, "600"}};
    auto textOf = [&](int id) { return texts[id]; };
    std::string message;
    EXPECT_EQ(form.Accept(textOf, message), 1018);
    EXPECT_EQ(message, "Enter a number.");
    texts[1018] = " 3 ";
    EXPECT_EQ(form.Accept(textOf, message), 1019);
    EXPECT_EQ(message, "Enter a number between 0 and 500.");
    texts[1019] = "500";  // limits are inclusive
    EXPECT_EQ(form.Accept(textOf, message), 0);
    EXPECT_EQ(form.values.reading, 3.0f);
    EXPECT_EQ(form.values.temperature, 500.0f);
    EXPECT_EQ(form.values.prompt, preset.prompt);

    for (const char* bad : {"", "1.5x", "1,5", "nan", "1e39"}) {
        float v = 0;
        EXPECT_EQ(LimitedFloatForm::ParseLimited(bad, 0, 3, v, message), -1) << bad;
        EXPECT_EQ(message, "Enter a number.") << bad;
    }
}

TEST(ReferencePointFormTest, TwoAndThreePointFormsUseTheirLimitsInExchangeOrder) {
    TwoPointsValues v;
    const float limits[8] = {177, 1000, 0, 30000, 1, 500, 0, 30000};
    std::copy(limits, limits + 8, v.limits);
    v.firstUnit = "ohm";
    TwoPointsForm two(v);
    std::vector<int> ids;
    for (const auto& e : two.Edits()) ids.push_back(e.controlId);
    EXPECT_EQ(ids, (std::vector<int>{1018, 1019, 1022, 1023}));
    EXPECT_EQ(two.StaticText(TwoPointsForm::kFirstUnitText), "ohm");
    std::string message;
    std::map<int, std::string> texts = {{1018, "300"}, {1019, "120"}, {1022, "0.5"}, {1023, "30"}};
    EXPECT_EQ(two.Accept([&](int id) { return texts[id]; }, message), 1022);
    EXPECT_EQ(message, "Enter a number between 1 and 500.");

    ThreePointsForm three(ThreePointsValues{});
    texts = {{1018, "4.2"},  {1024, "1.6"}, {1019, "77"},
             {1023, "1.02"}, {1020, "476"}, {1021, "0.5"}};
    EXPECT_EQ(three.Accept([&](int id) { return texts[id]; }, message), 1020);
    EXPECT_EQ(message, "Enter a number between 177 and 475.");
    texts[1020] = "300";
    EXPECT_EQ(three.Accept([&](int id) { return texts[id]; }, message), 0);
    EXPECT_EQ(three.values.lowTemperature, 4.2f);
    EXPECT_EQ(three.values.highTemperature, 300.0f);
}

// The desktop as the launcher sees it: the calculator's windows exist while it runs.
struct FakeDesktop : DesktopPrograms {
    bool installed = true;
    bool running = false;
    std::vector<std::string> closeRequests;
    int starts = 0;
    bool RequestCloseWindow(const std::string& title) override {
        closeRequests.push_back(title);
        if (!running) return false;
        running = false;
        return true;
    }
    StartResult StartProgram(const std::string& commandLine) override {
        ++starts;
        EXPECT_EQ(commandLine, "Zudid Ezurerar Edividirer.exe");
        if (!installed) return kProgramNotFound;
        running = true;
        return kStarted;
    }
};

TEST(VaporPressureLauncherTest, TogglesTheCalculatorAndReportsAMissingProgram) {
    FakeDesktop desktop;
    test::ScriptedOperator op;
    VaporPressureLauncher launcher(desktop, op);
    EXPECT_EQ(launcher.Press(), VaporPressureLauncher::kStartedNew);
    EXPECT_EQ(launcher.Press(), VaporPressureLauncher::kClosedRunning);
    EXPECT_FALSE(desktop.running);
    EXPECT_EQ(desktop.starts, 1);
    EXPECT_TRUE(op.messages.empty());

    desktop.installed = false;
    EXPECT_EQ(launcher.Press(), VaporPressureLauncher::kNotFound);
    EXPECT_EQ(op.messages, (std::vector<test::ShownMessage>{
                               {"Cannot find Zudid Ezurerar Edividirer", MessageIcon::Stop}}));

    desktop.closeRequests.clear();
    launcher.OnDialogCancel();
    EXPECT_EQ(desktop.closeRequests, std::vector<std::string>{"Dazidoz Irari Dudiruzoza"});
}

TEST(CalGenTypeSelectionTest, PointsListOnlyForADiodeAndSortedEntries) {
    EXPECT_EQ(CalGenTypeSelection::SensorTypeEntries(),
              (std::vector<std::string>{"Diode", "Platinum", "Thermocouple"}));
    EXPECT_EQ(
        CalGenTypeSelection::PointsEntries(),
        (std::vector<std::string>{"1 point at 300K", "1 point at 4.2K", "2 points", "3 points"}));
    CalGenTypeSelection s;
    s.Open();
    EXPECT_EQ(s.sensorType, -1);
    EXPECT_TRUE(s.PointsListEnabled());
    s.SelectPoints(1);
    s.SelectSensorType(1);
    EXPECT_FALSE(s.PointsListEnabled());
    s.Accept();
    EXPECT_EQ(s.sensorType, 1);
    EXPECT_EQ(s.points, 1);
    s.SelectSensorType(0);
    EXPECT_TRUE(s.PointsListEnabled());
}

TEST(CalGenTypeSelectionTest, MenuCommandsAndTheSelectorReachTheGenerationCommands) {
    test::TempDir dir;
    SettingsStore settings(dir.Str());
    test::ScriptedOperator op;
    ViewHub hub(settings, op, [](std::function<void()> f) { f(); });
    RegisterCalGenCommands(hub);
    for (int id : {ID_CALGEN_DIODE_300K, ID_CALGEN_DIODE_4K, ID_CALGEN_DIODE_2PT,
                   ID_CALGEN_DIODE_3PT, ID_CALGEN_PLATINUM})
        hub.Execute(id);  // each asks for its source, which the script cancels
    CalGenTypeSelection s;
    s.Open();
    s.SelectPoints(1);  // "1 point at 4.2K"
    s.Accept();
    hub.OnMessage(WM_CALGEN_REQUEST, s.sensorType, s.points);
    EXPECT_EQ(op.openFileRequests.size(), 6u);
    EXPECT_TRUE(op.messages.empty());
}

}  // namespace
}  // namespace tavrix
