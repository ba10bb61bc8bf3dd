// The Help button and the HTML Help binding, through the real dialog, with
// stand-ins for the HTML Help control's library and the paths component.
// Runs with hhctrl.ocx=n,b, so that Wine loads the stand-in rather than its
// own control; the bare name finds the stand-in through the DLL directory.
#include "HelpSupport.h"
#include "ReadBack.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace bktest;
using namespace helptest;
using Lines = std::vector<std::string>;

namespace {

const std::string kBareFile = "bkODBCsu.chm";
const unsigned kContext = 0x000F;     // HH_HELP_CONTEXT
const unsigned kIndex = 0x0002;       // HH_DISPLAY_INDEX

class HelpEnvironment : public ::testing::Environment {
public:
    void SetUp() override { SetDllDirectoryA(FullStandinDir().c_str()); }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new HelpEnvironment);

long Count(const Lines& lines, const std::string& line)
{
    return static_cast<long>(std::count(lines.begin(), lines.end(), line));
}

// ---- Binding the control ----

TEST(HtmlHelpBinding, TheRegisteredLibraryGetsTheArgumentsUnchanged)
{
    EventLog log;
    const auto registration =
        ScopedHelpControlRegistration::Text(REG_SZ, FullStandinDir() + "\\hhctrl-sz.ocx");
    SetupModule module;
    WithDialog(module, [](dlgtest::DialogDriver& d) {
        d.Click(IDHELP);
        d.Click(IDHELP);
    });
    // Without the paths component, the bare file name; on closing, the index
    // command without a file.
    EXPECT_EQ(HelpCalls(log.Lines()),
              (Lines{HelpCall("hhctrl-sz.ocx", kBareFile, kContext, 1000),
                     HelpCall("hhctrl-sz.ocx", kBareFile, kContext, 1000),
                     HelpCall("hhctrl-sz.ocx", "(null)", kIndex, 0)}));
}

TEST(HtmlHelpBinding, TheLibraryIsFoundThroughTheRegistryElseByItsBareName)
{
    SetEnvironmentVariableA("BKTEST_HH_DIR", FullStandinDir().c_str());
    SetEnvironmentVariableA("BKTEST_LONG", std::string(300, 'x').c_str());
    struct Case {
        const char* name;
        std::optional<std::pair<DWORD, std::string>> value;   // none: not registered
        const char* loaded;
    };
    const std::string sz = FullStandinDir() + "\\hhctrl-sz.ocx";
    const Case cases[] = {
        {"expandable text is expanded",
         std::make_pair(DWORD(REG_EXPAND_SZ), std::string("%BKTEST_HH_DIR%\\hhctrl-expand.ocx") + '\0'),
         "hhctrl-expand.ocx"},
        {"plain text is not expanded, so it does not load",
         std::make_pair(DWORD(REG_SZ), std::string("%BKTEST_HH_DIR%\\hhctrl-expand.ocx") + '\0'),
         "hhctrl.ocx"},
        {"any other type is taken as text", std::make_pair(DWORD(REG_MULTI_SZ), sz + '\0' + '\0'),
         "hhctrl-sz.ocx"},
        {"not registered", std::nullopt, "hhctrl.ocx"},
        {"a registered path that does not load",
         std::make_pair(DWORD(REG_SZ), std::string("C:\\nowhere\\hhctrl.ocx") + '\0'), "hhctrl.ocx"},
        {"an expansion too long for a path",
         std::make_pair(DWORD(REG_EXPAND_SZ), std::string("C:\\%BKTEST_LONG%\\hhctrl.ocx") + '\0'),
         "hhctrl.ocx"},
        {"a value longer than a path",
         std::make_pair(DWORD(REG_SZ), std::string(300, 'y') + '\0'), "hhctrl.ocx"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EventLog log;
        std::optional<ScopedHelpControlRegistration> registration;
        if (c.value)
            registration.emplace(c.value->first, c.value->second);
        else
            registration.emplace(ScopedHelpControlRegistration::Unregistered{});
        // A fresh load of the module is a fresh binding.
        SetupModule module;
        WithDialog(module, [](dlgtest::DialogDriver& d) { d.Click(IDHELP); });
        EXPECT_EQ(HelpCalls(log.Lines()),
                  (Lines{HelpCall(c.loaded, kBareFile, kContext, 1000),
                         HelpCall(c.loaded, "(null)", kIndex, 0)}));
    }
}

TEST(HtmlHelpBinding, ALibraryWithoutTheEntryIsLoadedOnceAndShowsNothing)
{
    EventLog log;
    const auto registration =
        ScopedHelpControlRegistration::Text(REG_SZ, NoExportStandinDir() + "\\hhctrl-noexport.ocx");
    SetupModule module;
    WithDialog(module, [](dlgtest::DialogDriver& d) {
        d.Click(IDHELP);
        d.Click(IDHELP);
        EXPECT_TRUE(IsWindowEnabled(d.dialog()));
    });
    const Lines lines = log.Lines();
    EXPECT_EQ(HelpCalls(lines), Lines{});
    EXPECT_EQ(Count(lines, "attach|hhctrl-noexport.ocx"), 1);
    EXPECT_EQ(Count(lines, "attach|hhctrl.ocx"), 0) << "no fallback once a library is held";
}

// ---- The help file through the paths component ----

class HelpFile : public ::testing::Test {
protected:
    HelpFile()
    {
        CreateDirectoryA(folder.c_str(), nullptr);
        WriteFileBytes(file, "ITSF");
    }
    ~HelpFile() override
    {
        DeleteFileA(file.c_str());
        RemoveDirectoryA(folder.c_str());
    }

    // The Help button pressed `presses` times with the component answering `answer`.
    Lines PressHelp(const std::string& answer, int presses = 1)
    {
        ScopedPathsComponent paths(answer);
        log.Clear();
        WithDialog(module, [&](dlgtest::DialogDriver& d) {
            for (int i = 0; i < presses; ++i) d.Click(IDHELP);
        });
        // Whether a library is loaded now or was earlier depends on the tests before.
        Lines lines = log.Lines();
        lines.erase(std::remove_if(lines.begin(), lines.end(),
                                   [](const std::string& line) { return line.rfind("attach|", 0) == 0; }),
                    lines.end());
        return lines;
    }

    const std::string folder = TempPath("bkhelp-"), file = folder + "\\bkODBCsu.chm";
    EventLog log;
    ScopedHelpControlRegistration registration =
        ScopedHelpControlRegistration::Text(REG_SZ, FullStandinDir() + "\\hhctrl-sz.ocx");
    SetupModule module;
};

TEST_F(HelpFile, AResolvedPathThatExistsIsPassedWhileTheComponentIsHeld)
{
    EXPECT_EQ(PressHelp("path:" + file),
              (Lines{"paths|create", "paths|resolve|bkPath://Help/bkODBCsu.chm|1",
                     HelpCall("hhctrl-sz.ocx", file, kContext, 1000), "paths|release",
                     HelpCall("hhctrl-sz.ocx", "(null)", kIndex, 0)}));
}

TEST_F(HelpFile, OnlySomethingThatExistsReplacesTheBareName)
{
    struct Case {
        std::string answer, expected;
    };
    const Case cases[] = {
        {"path:" + folder, folder},     // a directory exists too
        {"path:" + folder + "\\missing.chm", kBareFile},
        {"path:", kBareFile},
        {"null", kBareFile},
        {"fail", kBareFile},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        const Lines lines = PressHelp(c.answer);
        EXPECT_EQ(Count(lines, "paths|create"), 1);
        EXPECT_EQ(Count(lines, "paths|release"), 1);
        EXPECT_EQ(HelpCalls(lines).front(), HelpCall("hhctrl-sz.ocx", c.expected, kContext, 1000));
    }
}

TEST_F(HelpFile, EveryPressCreatesAndReleasesTheComponentAnew)
{
    const Lines lines = PressHelp("path:" + file, 2);
    const Lines expectedPress = {"paths|create", "paths|resolve|bkPath://Help/bkODBCsu.chm|1",
                                 HelpCall("hhctrl-sz.ocx", file, kContext, 1000), "paths|release"};
    Lines expected = expectedPress;
    expected.insert(expected.end(), expectedPress.begin(), expectedPress.end());
    expected.push_back(HelpCall("hhctrl-sz.ocx", "(null)", kIndex, 0));
    EXPECT_EQ(lines, expected);
}

} // namespace
