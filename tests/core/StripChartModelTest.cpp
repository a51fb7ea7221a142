// What a monitor's strip chart draws: only the readings taken, a scale that starts from the
// first reading, round value marks and an axis title with the unit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "charts/ChartExport.h"
#include "charts/StripChartModel.h"

using namespace tavrix;

TEST(StripChartFirstPoints, OnlyReadingsTakenAreDrawnAndExported) {
    StripChartModel s(StripChartModel::kMonitorPoints);
    EXPECT_EQ(s.Taken(), 0);
    EXPECT_EQ(s.FirstTaken(), 100);
    EXPECT_EQ(ChartDataCsv(s), "Time, ()\n");
    EXPECT_EQ(ChartSvg(s).find("<polyline"), std::string::npos);

    s.SetName("Stage");
    s.SetUnit("K");
    s.AddReading(77.3f, "09:00:00");
    s.AddReading(77.4f, "09:00:01");
    EXPECT_EQ(s.Taken(), 2);
    EXPECT_EQ(s.FirstTaken(), 98);
    // A reading of exactly 0 is a reading like any other, and it still counts as taken.
    s.AddReading(0.0f, "");
    EXPECT_EQ(s.Taken(), 3);
    EXPECT_EQ(ChartDataCsv(s), "Time,Stage (K)\n09:00:00,77.3\n09:00:01,77.4\n,0\n");
    // Three points in the picture: none from the 97 places never filled.
    const std::string svg = ChartSvg(s);
    const size_t from = svg.find("points=\"");
    ASSERT_NE(from, std::string::npos);
    const std::string points = svg.substr(from, svg.find('"', from + 8) - from);
    EXPECT_EQ(std::count(points.begin(), points.end(), ','), 3);

    for (int i = 0; i < 150; ++i) s.AddReading(1.0f, "t");
    EXPECT_EQ(s.Taken(), 100);
    EXPECT_EQ(s.FirstTaken(), 0);
    s.Clear();
    EXPECT_EQ(s.Taken(), 0);
    s.SetPointCount(20);
    s.AddReading(5.0f, "t");
    EXPECT_EQ(s.FirstTaken(), 19);
}

TEST(StripChartAutoScale, StartsFromTheFirstReadingAndThenOnlyWidens) {
    struct {
        float first;
        double min, max;
    } firsts[] = {{77.0f, 69.3, 84.7}, {300.0f, 270.0, 330.0}, {-5.0f, -5.5, -4.5}};
    for (const auto& c : firsts) {
        StripChartModel s(100);
        EXPECT_EQ(s.AddReading(c.first, "t"), StripChartModel::Redraw::Rebuild) << c.first;
        EXPECT_NEAR(s.Min(), c.min, 1e-4) << c.first;
        EXPECT_NEAR(s.Max(), c.max, 1e-4) << c.first;
    }

    StripChartModel s(100);
    s.AddReading(77.0f, "t");
    EXPECT_EQ(s.AddReading(80.0f, "t"), StripChartModel::Redraw::AppendPoint);
    EXPECT_EQ(s.AddReading(90.0f, "t"), StripChartModel::Redraw::Rebuild);
    EXPECT_NEAR(s.Max(), 99.0, 1e-4);
    EXPECT_NEAR(s.Min(), 69.3, 1e-4);
    s.AddReading(60.0f, "t");
    EXPECT_NEAR(s.Min(), 54.0, 1e-4);
    // "Auto" over the readings taken: the 96 empty places are not zeros that drag Min to 0.
    EXPECT_EQ(s.Auto(), StripChartModel::Redraw::Rebuild);
    EXPECT_NEAR(s.Min(), 54.0, 1e-4);
    EXPECT_NEAR(s.Max(), 99.0, 1e-4);

    // After "Clear" the next reading starts the scale afresh.
    s.Clear();
    s.AddReading(4.2f, "t");
    EXPECT_NEAR(s.Min(), 3.78, 1e-4);
    EXPECT_NEAR(s.Max(), 4.62, 1e-4);

    // Manual before any reading: the readings leave the scale alone; "Auto" then takes it from
    // the readings rather than widening the never-set 0..0.
    StripChartModel m(100);
    m.Manual();
    EXPECT_EQ(m.AddReading(77.0f, "t"), StripChartModel::Redraw::AppendPoint);
    EXPECT_EQ(m.Max(), 0.0);
    m.AddReading(78.0f, "t");
    m.Auto();
    EXPECT_NEAR(m.Min(), 69.3, 1e-4);
    EXPECT_NEAR(m.Max(), 85.8, 1e-4);
    // A manual scale that was applied stays the base that "Auto" widens.
    StripChartModel a(100);
    a.Manual();
    ASSERT_EQ(a.Apply("70", "80").message, "");
    a.AddReading(77.0f, "t");
    a.AddReading(82.0f, "t");
    a.Auto();
    EXPECT_DOUBLE_EQ(a.Min(), 70.0);
    EXPECT_NEAR(a.Max(), 90.2, 1e-4);
}

TEST(StripChartAxis, ShownRangeHasWidthEvenForASingleValue) {
    StripChartModel s(10);
    EXPECT_DOUBLE_EQ(s.ShownRange().low, -1.0);
    EXPECT_DOUBLE_EQ(s.ShownRange().high, 1.0);
    s.AddReading(0.0f, "t");  // Min = Max = 0
    EXPECT_DOUBLE_EQ(s.ShownRange().high, 1.0);
    s.AddReading(77.0f, "t");
    EXPECT_NEAR(s.ShownRange().high, 84.7, 1e-4);
}

TEST(StripChartAxis, TickValuesAreRoundAndEvenlySpaced) {
    struct {
        double low, high;
        int most;
        double step;
        std::vector<std::string> texts;
    } cases[] = {
        // The 77 K monitor that used to read 85.0443, 63.7832, 42.5222.
        {69.3, 84.7, 8, 2.0, {"70", "72", "74", "76", "78", "80", "82", "84"}},
        {69.3, 84.7, 3, 10.0, {"70", "80"}},
        {0.0, 330.0, 8, 50.0, {"0", "50", "100", "150", "200", "250", "300"}},
        {-5.5, 385.0, 8, 50.0, {"0", "50", "100", "150", "200", "250", "300", "350"}},
        {3.78, 4.62, 8, 0.2, {"3.8", "4.0", "4.2", "4.4", "4.6"}},
        {0.0, 1.0, 4, 0.25, {"0.00", "0.25", "0.50", "0.75", "1.00"}},
        {-1.0,
         1.0,
         8,
         0.25,
         {"-1.00", "-0.75", "-0.50", "-0.25", "0.00", "0.25", "0.50", "0.75", "1.00"}},
        {-273.0, 1000.0, 8, 200.0, {"-200", "0", "200", "400", "600", "800", "1000"}},
        {-110.0, -90.0, 4, 5.0, {"-110", "-105", "-100", "-95", "-90"}},
        {0.001, 0.0012, 4, 0.00005, {"0.00100", "0.00105", "0.00110", "0.00115", "0.00120"}},
        {20.0, 25.0, 2, 2.5, {"20.0", "22.5", "25.0"}},
    };
    for (const auto& c : cases) {
        const auto t = StripChartModel::NiceTicks(c.low, c.high, c.most);
        SCOPED_TRACE(std::to_string(c.low) + ".." + std::to_string(c.high));
        EXPECT_NEAR(t.step, c.step, c.step * 1e-9);
        EXPECT_EQ(t.texts, c.texts);
        ASSERT_EQ(t.values.size(), t.texts.size());
        EXPECT_LE(static_cast<int>(t.values.size()), c.most + 1);
        for (size_t i = 0; i < t.values.size(); ++i) {
            EXPECT_GE(t.values[i], c.low - c.step * 1e-6);
            EXPECT_LE(t.values[i], c.high + c.step * 1e-6);
            if (i > 0) EXPECT_NEAR(t.values[i] - t.values[i - 1], t.step, t.step * 1e-9);
        }
    }
    // No marks for a range without width or one too narrow to tell its marks apart.
    EXPECT_TRUE(StripChartModel::NiceTicks(5.0, 5.0).values.empty());
    EXPECT_TRUE(StripChartModel::NiceTicks(6.0, 5.0).values.empty());
    EXPECT_TRUE(StripChartModel::NiceTicks(1e6, 1e6 + 1e-9).values.empty());
    EXPECT_TRUE(StripChartModel::NiceTicks(0.0, NAN).values.empty());
}

TEST(StripChartAxis, TheValueAxisNamesWhatIsMeasuredWithItsUnit) {
    struct {
        const char* name;
        const char* unit;
        const char* title;
    } cases[] = {
        {"Stage", "K", "Temperature (K)"}, {"Stage", "C", "Temperature (C)"},
        {"", "F", "Temperature (F)"},      {"Stage", "S", "Stage (S)"},
        {"Heater 1", "%", "Heater 1 (%)"}, {"", "V", "Reading (V)"},
        {"Sample", "", "Sample"},
    };
    for (const auto& c : cases) {
        StripChartModel s;
        s.SetName(c.name);
        s.SetUnit(c.unit);
        EXPECT_EQ(s.ValueAxisTitle(), c.title) << c.name << "/" << c.unit;
    }
}
