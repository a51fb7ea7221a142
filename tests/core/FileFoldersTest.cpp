#include <gtest/gtest.h>

#include <filesystem>

#include "TestSupport.h"
#include "base/FileFolders.h"
#include "consoles/ConsoleTexts.h"
#include "curves/CurveTexts.h"

using namespace tavrix;
using tavrix::test::TempDir;

TEST(FileFolders, EachDialogOfTheProgramHasItsKind) {
    struct Case {
        const char* extension;
        FileKind kind;
    } cases[] = {
        {curve_texts::kDownloadExtension, FileKind::Curves},
        {curve_texts::kConvertExtension, FileKind::Curves},  // ".340", with its dot
        {curve_texts::kPidExtension, FileKind::PidTables},
        {"csv", FileKind::Logs},
        {"TXT", FileKind::Logs},
        {"png", FileKind::Images},
        {"svg", FileKind::Images},
        {texts::kXmlExtension, FileKind::CommandFiles},
        {"", FileKind::Other},
        {"bin", FileKind::Other},
    };
    for (const auto& c : cases) {
        FileDialogRequest r;
        r.defaultExtension = c.extension;
        EXPECT_EQ(FileKindOf(r), c.kind) << c.extension;
    }
}

TEST(FileFolders, EachKindStartsWhereItWasLastChosenWhileThatFolderExists) {
    TempDir dir;
    SettingsStore settings(dir.Str());
    const std::filesystem::path curves = dir.Path() / "my curves=1;x";
    const std::filesystem::path logs = dir.Path() / "logs";
    std::filesystem::create_directories(curves);
    std::filesystem::create_directories(logs);
    {
        FileFolders f(settings);
        EXPECT_EQ(f.StartFolder(FileKind::Curves), "");
        f.Remember(FileKind::Curves, (curves / "a.crv").string());
        f.Remember(FileKind::Logs, (logs / "run.csv").string());
        f.Remember(FileKind::Other, (logs / "x.bin").string());  // not kept
    }
    // Kept in the settings, across runs, one folder per kind.
    FileFolders f(settings);
    EXPECT_EQ(f.StartFolder(FileKind::Curves), curves.string());
    EXPECT_EQ(f.StartFolder(FileKind::Logs), logs.string());
    EXPECT_EQ(f.StartFolder(FileKind::PidTables), "");
    EXPECT_EQ(settings.GetString("FOLDERS", "CURVES", ""), curves.string());
    // A folder that went away is not offered.
    std::filesystem::remove_all(logs);
    EXPECT_EQ(f.StartFolder(FileKind::Logs), "");
    // A file at the root keeps "/".
    f.Remember(FileKind::Images, "/chart.png");
    EXPECT_EQ(f.StartFolder(FileKind::Images), "/");
}
