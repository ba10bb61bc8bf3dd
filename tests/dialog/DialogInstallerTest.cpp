// The dialog against the fault-injecting installer: the exact installer calls
// of a confirmed edit, in order, which Wine's installer cannot show.
#include "DialogDriver.h"
#include "InstallerUnderTest.h"
#include "ReadBack.h"
#include "StandinInstaller.h"
#include "WindowHooks.h"
#include "resource.h"

#include <gtest/gtest.h>
#include <odbcinst.h>

#include <algorithm>

using namespace bktest;
using namespace dlgtest;

namespace {

class DialogWithScriptedInstaller : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(standin.loaded()); }

    void Store(const std::string& dsn)
    {
        standin.SetProfile(dsn.c_str(), "DBQ", "C:\\Data");
        standin.SetProfile(dsn.c_str(), "DatabaseType", "2");
    }
    DialogRun Edit(const std::string& dsn, const std::function<void(DialogDriver&)>& script)
    {
        return RunDialog(module, AttributeList({"DSN=" + dsn}), script, ODBC_CONFIG_DSN);
    }

    // The stand-in is in place before the module can bind the installer.
    StandinInstaller standin;
    SetupModule module;
    ScopedDefaultDsnDir dir;
};

TEST_F(DialogWithScriptedInstaller, ARenameWritesTheNewEntryCompletelyBeforeTheOldOneGoes)
{
    Store("Sales");
    WriteFileBytes(dir.FileFor("Sales"), "[ODBC]\r\nDSN=Sales\r\n");
    const DialogRun run = Edit("Sales", [this](DialogDriver& d) {
        // While the user looks at the dialog, another request goes through
        // at once: the open dialog holds no lock on the data sources.
        const DWORD start = GetTickCount();
        EXPECT_EQ(module.ConfigDSN(ODBC_ADD_DSN, {"DSN=Other", "DBQ=C:\\Other"}), TRUE);
        EXPECT_LT(GetTickCount() - start, 2000u);
        d.SetText(IDC_DSN_NAME, "Revenue");
        d.Click(IDOK);
        EXPECT_TRUE(d.WaitClosed());
    });
    EXPECT_EQ(run.result, TRUE);
    EXPECT_EQ(standin.Profile("Other", "DBQ"), "C:\\Other");
    EXPECT_EQ(From(standin.Calls(), Exists("Revenue")),
              (Calls{Exists("Revenue"), "SQLValidDSN(Revenue)", RegisteredFor("Revenue"), Register("Revenue"),
                     Write("Revenue", "DBQ", "C:\\Data"), Write("Revenue", "MaxColSupport", "255"),
                     Write("Revenue", "ShortenNames", "0"), Write("Revenue", "StandardMode", "0"),
                     Write("Revenue", "DictionaryMode", "0"), Write("Revenue", "DatabaseType", "2"),
                     "SQLValidDSN(Sales)", Remove("Sales")}));
    EXPECT_FALSE(FileExists(dir.FileFor("Sales")));
    EXPECT_EQ(ReadFileBytes(dir.FileFor("Revenue")), "[ODBC]\r\nDSN=Revenue\r\n");
}

TEST_F(DialogWithScriptedInstaller, AnInstallerThatKnowsTheNewNameMakesTheDialogAsk)
{
    Store("Sales");
    Store("Revenue");
    MessageBoxAnswerer boxes(IDNO);
    const DialogRun run = Edit("Sales", [&](DialogDriver& d) {
        d.SetText(IDC_DSN_NAME, "Revenue");
        d.Press(IDOK);
        const auto box = boxes.Next();
        ASSERT_TRUE(box);
        EXPECT_EQ(box->text, "Data source Revenue already exists.\nOverwrite?");
        const Calls afterNo = standin.Calls();
        EXPECT_EQ(std::count(afterNo.begin(), afterNo.end(), Register("Revenue")), 0)
            << "No writes nothing";
        // The installer's answer decides, not the module: the same name,
        // unknown now, is taken without a question.
        standin.SetResult("SQLGetPrivateProfileString", 0, 0);
        d.Click(IDOK);
        EXPECT_TRUE(d.WaitClosed());
    });
    EXPECT_EQ(run.result, TRUE);
    const Calls calls = standin.Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), Exists("Revenue")), 2);
}

TEST_F(DialogWithScriptedInstaller, KeepingTheNameNeitherAsksTheInstallerNorRemovesAnything)
{
    Store("Sales");
    const DialogRun run = Edit("Sales", [](DialogDriver& d) {
        d.SetText(IDC_DSN_NAME, "SALES");
        d.Click(IDOK);
        EXPECT_TRUE(d.WaitClosed());
    });
    EXPECT_EQ(run.result, TRUE);
    const Calls calls = standin.Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), Exists("SALES")), 0);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), Remove("Sales")), 0);
    EXPECT_EQ(calls.back(), Write("SALES", "DatabaseType", "2"));
}

TEST_F(DialogWithScriptedInstaller, ConfirmingAStoredFolderLongerThanTheReadBufferKeepsItWhole)
{
    // The stand-in cuts a value to its buffer, as the installer documents.
    for (size_t length : {259u, 260u, 300u, 5000u}) {
        SCOPED_TRACE(length);
        standin.Reset();
        const std::string folder = "C:\\" + std::string(length - 3, 'f');
        standin.SetProfile("Sales", "DBQ", folder.c_str());
        const DialogRun run = Edit("Sales", [](DialogDriver& d) {
            d.Click(IDOK);
            EXPECT_TRUE(d.WaitClosed());
        });
        EXPECT_EQ(run.result, TRUE);
        EXPECT_EQ(standin.Profile("Sales", "DBQ"), folder);
    }
}

} // namespace
