// "Select Folder..." in the real configuration dialog: ConfigDSN with a parent
// window, the dialog and the choosers it opens driven from a second thread.
#include "DialogDriver.h"
#include "FolderTestSupport.h"
#include "InstallerUnderTest.h"
#include "WindowHooks.h"
#include "common/Registry.h"
#include "resource.h"

#include <odbcinst.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace dlgtest;
using namespace foldertest;

namespace {

const char kDialogCaption[] = "Brennick Data ODBC Setup";
const char kBrowserCaption[] = "Select Data Folder";
const char kDsn[] = "bkFolderE2E";
const int kAccounting = 0, kEstimating = 1;

class DialogFolder : public testing::Test {
protected:
    void SetUp() override {
        bktest::ForgetDataSource(kDsn);
        m_logouts = standin::LogoutCalls();
    }
    void TearDown() override { bktest::ForgetDataSource(kDsn); }

    // ConfigDSN on this thread opens the dialog on a new data source with
    // these values; `script` works it from a second thread. ConfigDSN's result.
    BOOL Run(const std::string& folder, int type, const std::function<void(DialogDriver&)>& script) {
        const std::string list = bktest::AttributeList(
            {std::string("DSN=") + kDsn, "DBQ=" + folder, "DatabaseType=" + std::to_string(type)});
        const DialogRun run = RunDialog(m_module, list, [&](DialogDriver& d) {
            EXPECT_EQ(d.Caption(), kDialogCaption);
            script(d);
        }, ODBC_ADD_DSN);
        EXPECT_TRUE(run.shown) << "the configuration dialog did not appear";
        return run.result;
    }

    // The shell browser the dialog opened (initialised: its caption set).
    static std::optional<DialogDriver> WaitForBrowser(const DialogDriver& dialog) {
        auto browser = dialog.WaitForDialog();
        if (browser) {
            EXPECT_EQ(browser->Caption(), kBrowserCaption);
        }
        return browser;
    }

    std::optional<std::string> StoredFolder() const {
        return reg::ReadString(HKEY_CURRENT_USER, bktest::DsnKey(kDsn), "DBQ");
    }

    bktest::SetupModule m_module;
    BrowserMessageLog m_log;
    LONG m_logouts = 0;
};

} // namespace

TEST_F(DialogFolder, ChooserFollowsTheDatabaseTypeAndGetsTheFolderHeld)
{
    RegisteredComponent component;
    const std::string start = TestFolder('s', 24), byComponent = TestFolder('p', 26),
                      byBrowser = TestFolder('q', 28);
    std::string shownAfterComponent, shownAfterBrowser, shownAfterRefusal;
    HWND dialogWindow = nullptr, browserOwner = nullptr;
    DataFolderStandinRecord first = {}, second = {};

    const BOOL result = Run(start, 1, [&](DialogDriver& d) {
        dialogWindow = d.dialog();
        // Accounting data: the component, given the folder the dialog opened with.
        // It answers without a window of its own, so the press is waited for.
        DataFolderStandin_Script(1, S_OK, kReplaceFolder, std::wstring(byComponent.begin(), byComponent.end()).c_str());
        d.Click(IDC_SELECT_FOLDER);
        first = RegisteredComponent::Record();
        shownAfterComponent = d.Text(IDC_DATA_FOLDER);

        // Estimating data: the shell browser, opened at the folder the component chose.
        // Its loop runs inside the command: pressed without waiting.
        d.Select(IDC_DATABASE_TYPE, kEstimating);
        d.Press(IDC_SELECT_FOLDER);
        auto browser = WaitForBrowser(d);
        if (!browser) return;
        browserOwner = GetWindow(browser->dialog(), GW_OWNER);
        browser->Send(BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(byBrowser.c_str()));
        browser->Press(IDOK);
        if (!bktest::WaitFor([&] { return d.Text(IDC_DATA_FOLDER) == byBrowser; })) return;
        shownAfterBrowser = d.Text(IDC_DATA_FOLDER);

        // Back to accounting: the component now gets the browser's folder; it declines.
        d.Select(IDC_DATABASE_TYPE, kAccounting);
        DataFolderStandin_Script(0, S_OK, kReplaceFolder, L"X:\\Not taken");
        d.Click(IDC_SELECT_FOLDER);
        second = RegisteredComponent::Record();
        shownAfterRefusal = d.Text(IDC_DATA_FOLDER);
        d.Press(IDOK);
    });

    EXPECT_EQ(first.calls, 1);
    EXPECT_STREQ(first.folder, std::wstring(start.begin(), start.end()).c_str());
    EXPECT_EQ(first.owner, HandleToLong(dialogWindow));
    EXPECT_EQ(first.mode, -1);
    EXPECT_EQ(shownAfterComponent, byComponent);

    EXPECT_EQ(browserOwner, dialogWindow) << "no browser owned by the dialog";
    const auto selections = m_log.Messages(BFFM_SETSELECTIONA);
    ASSERT_EQ(selections.size(), 1u);
    EXPECT_EQ(selections[0].text, byComponent);
    EXPECT_EQ(shownAfterBrowser, byBrowser);

    EXPECT_EQ(second.calls, 2);
    EXPECT_STREQ(second.folder, std::wstring(byBrowser.begin(), byBrowser.end()).c_str());
    EXPECT_EQ(shownAfterRefusal, byBrowser);
    // Two presses on the component: two objects, both released, two logouts.
    EXPECT_EQ(second.created, 2);
    EXPECT_EQ(second.destroyed, 2);
    EXPECT_EQ(standin::LogoutCalls() - m_logouts, 2);

    EXPECT_EQ(result, TRUE);
    EXPECT_EQ(StoredFolder(), byBrowser);
    EXPECT_EQ(reg::ReadString(HKEY_CURRENT_USER, bktest::DsnKey(kDsn), "DatabaseType"), "1");
}

TEST_F(DialogFolder, EmptyAnswerEmptiesTheFolderAndDisablesOk)
{
    RegisteredComponent component;
    // An empty answer; then one with a result other than 1, which changes
    // nothing; then a chosen folder. Each: the folder shown and OK's state.
    const struct { LONG result; const wchar_t* answer; const char* folder; bool ok; } steps[] = {
        {1, nullptr, "", false}, {7, L"C:\\Ignored", "", false}, {1, L"D:\\Books", "D:\\Books", true}};
    bool okAtStart = false;
    std::vector<std::pair<std::string, bool>> seen;
    const BOOL result = Run("C:\\Data", 1, [&](DialogDriver& d) {
        okAtStart = d.Enabled(IDOK);
        for (const auto& step : steps) {
            DataFolderStandin_Script(step.result, S_OK, kReplaceFolder, step.answer);
            d.Click(IDC_SELECT_FOLDER);
            seen.emplace_back(d.Text(IDC_DATA_FOLDER), d.Enabled(IDOK));
        }
        d.Press(IDCANCEL);
    });

    EXPECT_TRUE(okAtStart);
    ASSERT_EQ(seen.size(), std::size(steps));
    for (size_t i = 0; i < seen.size(); ++i)
        EXPECT_EQ(seen[i], std::make_pair(std::string(steps[i].folder), steps[i].ok)) << "step " << i;
    EXPECT_EQ(standin::LogoutCalls() - m_logouts, 3);
    EXPECT_EQ(result, FALSE);
    EXPECT_FALSE(StoredFolder().has_value()) << "Cancel wrote the data source";
}

TEST_F(DialogFolder, MissingComponentAndCancelledBrowserChangeNothing)
{
    const std::string start = TestFolder('m', 30);
    std::string afterMissing, afterCancel;
    bool okAfterMissing = false, okAfterCancel = false, windowAppeared = true, browserOpened = false;

    const BOOL result = Run(start, 2, [&](DialogDriver& d) {
        // Estimating: the browser opens at the current folder and is cancelled.
        d.Press(IDC_SELECT_FOLDER);
        auto browser = WaitForBrowser(d);
        browserOpened = browser.has_value();
        if (browser) {
            browser->Press(IDCANCEL);
            browser->WaitClosed();
        }
        afterCancel = d.Text(IDC_DATA_FOLDER);
        okAfterCancel = d.Enabled(IDOK);

        // Accounting without the component: nothing at all happens.
        d.Select(IDC_DATABASE_TYPE, kAccounting);
        d.Click(IDC_SELECT_FOLDER);
        windowAppeared = d.WaitForDialog(500).has_value();
        afterMissing = d.Text(IDC_DATA_FOLDER);
        okAfterMissing = d.Enabled(IDOK);
        d.Press(IDOK);
    });

    EXPECT_TRUE(browserOpened);
    ASSERT_EQ(m_log.Messages(BFFM_SETSELECTIONA).size(), 1u);
    EXPECT_EQ(m_log.Messages(BFFM_SETSELECTIONA)[0].text, start);
    EXPECT_EQ(afterCancel, start);
    EXPECT_TRUE(okAfterCancel);
    EXPECT_FALSE(windowAppeared);
    EXPECT_EQ(afterMissing, start);
    EXPECT_TRUE(okAfterMissing);
    EXPECT_EQ(standin::LogoutCalls(), m_logouts);
    EXPECT_EQ(result, TRUE);
    EXPECT_EQ(StoredFolder(), start);
}
