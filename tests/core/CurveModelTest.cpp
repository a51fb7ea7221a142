// Models behind the curve dialogs and the strip chart, and the hub's curve commands.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "app/CurveRegistration.h"
#include "app/ViewHub.h"
#include "charts/StripChartModel.h"
#include "curves/CurveCommands.h"
#include "curves/CurveDialogModels.h"
#include "curves/CurveTexts.h"

using namespace tavrix;
using tavrix::test::ScriptedOperator;
using tavrix::test::TempDir;

TEST(CurveHeaderEditModel, TypeMatchingUnitsAndTheSaveBox) {
    struct {
        const char* typed;
        const char* shown;
    } types[] = {{"acr", "ACR"},       {"PTC1", "PTC100"},     {"", "Diode"},
                 {"ptc10k", "PTC10K"}, {"Diode-X", "Diode-X"}, {"R312R1MA", "R312R1MA"}};
    for (const auto& t : types) EXPECT_EQ(CurveHeaderEdit::MatchType(t.typed), t.shown) << t.typed;

    CurveHeaderEdit h;
    h.SetHeader("N", "acr", 1.5f, 2, 10, false);
    EXPECT_EQ(kUnitListEntries[h.unitIndex], std::string("Volts"));
    h.Open();
    EXPECT_EQ(h.type, "ACR");
    h.SetHeader("N", "T", 1.5f, 4, 10, false);
    EXPECT_EQ(kUnitListEntries[h.unitIndex], std::string("LogOhms"));
    std::string name, type, unit = "unchanged";
    float m = 0;
    h.GetHeader(name, type, m, unit);
    EXPECT_EQ(unit, "LogOhm");
    h.unitIndex = 7;
    unit = "unchanged";
    h.GetHeader(name, type, m, unit);
    EXPECT_EQ(unit, "unchanged");
    for (int code : {0, 1, 3, 9, -1}) {
        h.SetHeader("N", "T", 1, code, 1, false);
        EXPECT_EQ(h.unitIndex, code == 1 ? 1 : code == 3 ? 2 : 0) << code;
    }

    h.SetHeader("N", "T", 1, 0, 1, true);
    h.saveAsCrv = true;
    EXPECT_FALSE(h.SaveBoxEnabled());
    EXPECT_FALSE(h.SaveRequested());  // a .crv source is never saved again as .crv

    EXPECT_TRUE(h.SetMultiplierText(" -2.5 "));
    EXPECT_EQ(h.multiplier, -2.5f);
    EXPECT_FALSE(h.SetMultiplierText("2.5x"));
    EXPECT_FALSE(h.SetMultiplierText(""));
    EXPECT_EQ(h.multiplier, -2.5f);
    h.multiplier = 1.23456789f;
    EXPECT_EQ(h.MultiplierText(), "1.23457");

    h.SetCurveData({300, 100, 4}, {0.5f, 1.0f, 1.6f}, 3, 3);
    EXPECT_EQ(h.graph.ShownTitle(), "Sensor Curve");
    EXPECT_EQ(h.graph.ShownXLabel(), "Temperature (K)");
    EXPECT_EQ(h.graph.ShownYLabel(), "Output (Ohms)");
    ASSERT_EQ(h.graph.Lines().size(), 1u);
    EXPECT_EQ(h.graph.Lines()[0].y, (std::vector<float>{0.5f, 1.0f, 1.6f}));
}

TEST(CurveChooserAndPidNumber, DefaultsAndTypedValues) {
    UserCurveChoice c;
    EXPECT_EQ(c.number, 1);  // OK without touching the list
    c.Select(7);
    EXPECT_EQ(c.number, 8);
    c.Select(8);  // out of the list: no change
    EXPECT_EQ(c.number, 8);

    int t = 0;
    EXPECT_TRUE(PidTableNumber::Parse("9", t));
    EXPECT_EQ(t, 9);
    EXPECT_TRUE(PidTableNumber::Parse(" 12 ", t));
    EXPECT_EQ(t, 12);
    EXPECT_FALSE(PidTableNumber::Parse("1.5", t));
    EXPECT_FALSE(PidTableNumber::Parse("", t));
    EXPECT_FALSE(PidTableNumber::Parse("99999999999", t));
}

TEST(GraphModelRules, CapacityAndLineLimits) {
    GraphModel g;
    EXPECT_EQ(g.CheckBeforeShow(), "The graph must be set up with at least 1 line");
    const float x[2] = {1, 2}, y[2] = {3, 4};
    EXPECT_EQ(g.AddLine(x, y, 2), "The graph must be set up with at least 1 line");
    EXPECT_EQ(g.SetLineCapacity(0), "The graph must be set up with at least 1 line");
    EXPECT_EQ(g.SetLineCapacity(1), "");
    EXPECT_EQ(g.AddLine(x, y, 2), "");
    EXPECT_EQ(g.AddLine(x, y, 1), "The number of lines exceeded the maximum.");
    EXPECT_EQ(g.LongestLine(), 2u);
    g.title = std::string(60, 't');
    EXPECT_EQ(g.ShownTitle().size(), 50u);
}

TEST(StripChartScaling, AutomaticModeOnlyWidens) {
    StripChartModel s(StripChartModel::kMonitorPoints);
    EXPECT_EQ(s.AddReading(300, "00:00:01"), StripChartModel::Redraw::Rebuild);
    EXPECT_DOUBLE_EQ(s.Max(), 330.0);
    EXPECT_EQ(s.MaxFieldText(), "330");
    EXPECT_EQ(s.AddReading(350, "00:00:02"), StripChartModel::Redraw::Rebuild);
    EXPECT_DOUBLE_EQ(s.Max(), 385.0);
    EXPECT_EQ(s.AddReading(-5, "00:00:03"), StripChartModel::Redraw::Rebuild);
    EXPECT_DOUBLE_EQ(s.Min(), -5.5);
    EXPECT_EQ(s.AddReading(100, "00:00:04"), StripChartModel::Redraw::AppendPoint);
    EXPECT_EQ(s.MaxFrom(-10), -9.0);
    EXPECT_EQ(s.MinFrom(0), 0.0);

    // 100 values, newest at the end; the 101st drops the oldest.
    for (int i = 0; i < 96; ++i) s.AddReading(1, "t");
    EXPECT_EQ(s.Values().front(), 300.0f);
    s.AddReading(2, "last");
    EXPECT_EQ(s.Values().front(), 350.0f);
    EXPECT_EQ(s.Values().back(), 2.0f);
    EXPECT_EQ(s.Labels().back(), "last");
    EXPECT_EQ(s.PointCount(), 100);

    // Manual: points are appended whatever their value; Auto widens from all values.
    s.Manual();
    EXPECT_TRUE(s.FieldsEnabled());
    EXPECT_EQ(s.AddReading(5000, "m"), StripChartModel::Redraw::AppendPoint);
    EXPECT_DOUBLE_EQ(s.Max(), 385.0);
    EXPECT_EQ(s.Auto(), StripChartModel::Redraw::Rebuild);
    EXPECT_FALSE(s.IsManual());
    EXPECT_DOUBLE_EQ(s.Max(), 5500.0);
    EXPECT_DOUBLE_EQ(s.Min(), -5.5);  // never narrowed
    EXPECT_EQ(s.Clear(), StripChartModel::Redraw::Rebuild);
    EXPECT_EQ(s.Values().back(), 0.0f);
    EXPECT_EQ(s.Labels().back(), "");
}

TEST(StripChartScaling, ManualFieldsAndApply) {
    StripChartModel s;
    EXPECT_EQ(s.PointCount(), 20);
    EXPECT_EQ(StripChartModel::FilterFieldText("1a2a.5"), "12.5");
    EXPECT_EQ(StripChartModel::FilterFieldText("-12"), "12");
    EXPECT_EQ(StripChartModel::FilterFieldText("123456789"), "1234567");
    EXPECT_EQ(StripChartModel::FieldText(1.0 / 3.0), "0.33333");

    auto same = s.Apply("10", "10");
    EXPECT_EQ(same.message, "Max value must be bigger than the min value");
    EXPECT_EQ(same.redraw, StripChartModel::Redraw::None);
    EXPECT_DOUBLE_EQ(s.Max(), 0.0);  // the old scale stays
    EXPECT_EQ(s.Apply("0", "1001").message, "Enter a number between -273 and 1000.");
    EXPECT_EQ(s.Apply("x", "5").message, "Enter a number.");
    auto ok = s.Apply("-273", "1000");
    EXPECT_EQ(ok.message, "");
    EXPECT_EQ(ok.redraw, StripChartModel::Redraw::Rebuild);
    EXPECT_DOUBLE_EQ(s.Min(), -273.0);
    EXPECT_DOUBLE_EQ(s.Max(), 1000.0);

    s.SetName(std::string(60, 'n'));
    s.SetUnit("K");
    EXPECT_EQ(s.Title().size(), 50u);
    EXPECT_EQ(s.ValueAxisTitle(), "Temperature (K)");
}

TEST(FileDialogFilter, SplitsLabelsAndPatterns) {
    FileDialogRequest r{curve_texts::kDownloadFilter, "crv", 0, {}};
    const auto e = r.FilterEntries();
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[0].label, "Curve Files (.crv .340)");
    EXPECT_EQ(e[0].patterns, (std::vector<std::string>{"*.crv", "*.340"}));
    EXPECT_EQ(e[1].label, " All Files (*.*)");
    EXPECT_EQ(e[1].patterns, std::vector<std::string>{"*.*"});
}

TEST(CurveCommandsInTheHub, MenuAndShortcutBarReachTheCommands) {
    TempDir dir;
    SettingsStore settings(dir.Str());
    ScriptedOperator op;
    ViewHub hub(settings, op, [](std::function<void()> f) { f(); });
    RegisterCurveCommands(hub);
    for (int id :
         {ID_CURVE_DOWNLOAD, ID_CURVE_UPLOAD, ID_CURVE_CONVERT, ID_PID_DOWNLOAD, ID_PID_UPLOAD})
        EXPECT_TRUE(hub.HasOperation(id)) << id;
    hub.Execute(ID_CURVE_CONVERT);
    hub.Features().Update(28);  // the bar's requests follow the menu's rules
    hub.OnMessage(WM_SHORTCUT_CURVE_DOWNLOAD, 0, 0);
    hub.OnMessage(WM_SHORTCUT_PID_DOWNLOAD, 0, 0);
    ASSERT_EQ(op.openFileRequests.size(), 3u);  // each asked for its file, then was cancelled
    EXPECT_EQ(op.openFileRequests[0].filter, curve_texts::kConvertFilter);
    EXPECT_EQ(op.openFileRequests[1].filter, curve_texts::kDownloadFilter);
    EXPECT_EQ(op.openFileRequests[2].filter, curve_texts::kPidOpenFilter);
    EXPECT_TRUE(op.messages.empty());
}
