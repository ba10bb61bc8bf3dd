// "Select Folder..." in the real configuration dialog: ConfigDSN with a parent
// window, the dialog and the choosers it opens driven from a second thread.
#include "FolderTestSupport.h"
#include "TestSupport.h"
#include "resource.h"

#include <odbcinst.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace foldertest;

namespace {

const char kDialogCaption[] = "Brennick Data ODBC Setup";
const char kBrowserCaption[] = "Select Data Folder";
const char kDsn[] = "bkFolderE2E";
const int kAccounting = 0, kEstimating = 1;

// The configuration dialog as the driving thread sees and works it.
class Dialog {
public:
    explicit Dialog(HWND window) : m_window(window) {}
    HWND get() const { return m_window; }

    void SelectType(int position) const {
        HWND list = GetDlgItem(m_window, IDC_DATABASE_TYPE);
        SendMessageA(list, CB_SETCURSEL, position, 0);
        SendMessageA(m_window, WM_COMMAND, MAKEWPARAM(IDC_DATABASE_TYPE, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(list));
    }
    // Presses "Select Folder..." and waits for the command to finish (for
    // the component, which answers without a window of its own). Bounded: a
    // command that opens a window after all fails instead of blocking.
    bool SelectFolder() const {
        DWORD_PTR result = 0;
        return SendMessageTimeoutA(m_window, WM_COMMAND, MAKEWPARAM(IDC_SELECT_FOLDER, BN_CLICKED),
                                   reinterpret_cast<LPARAM>(GetDlgItem(m_window, IDC_SELECT_FOLDER)),
                                   SMTO_NORMAL, 10000, &result) != 0;
    }
    // Presses it without waiting: the browser's loop runs inside the command.
    void PressSelectFolder() const { PostCommand(m_window, IDC_SELECT_FOLDER); }

    std::string Folder() const { return Text(GetDlgItem(m_window, IDC_DATA_FOLDER)); }
    bool OkEnabled() const { return IsWindowEnabled(GetDlgItem(m_window, IDOK)) != FALSE; }

private:
    HWND m_window;
};

class DialogFolder : public testing::Test {
protected:
    void SetUp() override {
        bktest::ForgetDataSource(kDsn);
        m_logouts = LogoutCalls();
    }
    void TearDown() override { bktest::ForgetDataSource(kDsn); }

    // ConfigDSN on this thread opens the dialog on a new data source with
    // these values; `script` works it from a second thread. ConfigDSN's result.
    BOOL Run(const std::string& folder, int type, const std::function<void(const Dialog&)>& script) {
        const std::string list = bktest::AttributeList(
            {std::string("DSN=") + kDsn, "DBQ=" + folder, "DatabaseType=" + std::to_string(type)});
        BOOL result = -1;
        bool shown = false;
        RunModal([&] { result = m_module.ConfigDSN(m_parent.get(), ODBC_ADD_DSN, bktest::kDriver, list); },
                 [&] {
                     HWND window = nullptr;
                     if (!Poll([&] { return (window = FindDialog(m_thread, m_parent.get(),
                                                                 kDialogCaption)) != nullptr; }))
                         return;
                     shown = true;
                     script(Dialog(window));
                 });
        EXPECT_TRUE(shown) << "the configuration dialog did not appear";
        return result;
    }

    // The shell browser the dialog opened, once initialised; null if none.
    HWND WaitForBrowser(const Dialog& dialog, DWORD timeoutMs = 5000) const {
        HWND browser = nullptr;
        Poll([&] { return (browser = FindDialog(m_thread, dialog.get(), kBrowserCaption)) != nullptr; },
             timeoutMs);
        return browser;
    }

    std::optional<std::string> StoredFolder() const {
        return bktest::ReadString(HKEY_CURRENT_USER, bktest::UserDsnKey(kDsn), "DBQ");
    }

    const DWORD m_thread = GetCurrentThreadId();
    bktest::SetupModule m_module;
    OwnerWindow m_parent;
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

    const BOOL result = Run(start, 1, [&](const Dialog& d) {
        dialogWindow = d.get();
        // Accounting data: the component, given the folder the dialog opened with.
        DataFolderStandin_Script(1, S_OK, kReplaceFolder, std::wstring(byComponent.begin(), byComponent.end()).c_str());
        EXPECT_TRUE(d.SelectFolder());
        first = RegisteredComponent::Record();
        shownAfterComponent = d.Folder();

        // Estimating data: the shell browser, opened at the folder the component chose.
        d.SelectType(kEstimating);
        d.PressSelectFolder();
        HWND browser = WaitForBrowser(d);
        if (!browser) return;
        browserOwner = GetWindow(browser, GW_OWNER);
        SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(byBrowser.c_str()));
        PostCommand(browser, IDOK);
        if (!Poll([&] { return d.Folder() == byBrowser; })) return;
        shownAfterBrowser = d.Folder();

        // Back to accounting: the component now gets the browser's folder; it declines.
        d.SelectType(kAccounting);
        DataFolderStandin_Script(0, S_OK, kReplaceFolder, L"X:\\Not taken");
        EXPECT_TRUE(d.SelectFolder());
        second = RegisteredComponent::Record();
        shownAfterRefusal = d.Folder();
        PostCommand(d.get(), IDOK);
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
    EXPECT_EQ(LogoutCalls() - m_logouts, 2);

    EXPECT_EQ(result, TRUE);
    EXPECT_EQ(StoredFolder(), byBrowser);
    EXPECT_EQ(bktest::ReadString(HKEY_CURRENT_USER, bktest::UserDsnKey(kDsn), "DatabaseType"), "1");
}

TEST_F(DialogFolder, EmptyAnswerEmptiesTheFolderAndDisablesOk)
{
    RegisteredComponent component;
    bool okAtStart = false, okAfterEmpty = true, okAfterRefusal = true, okAfterChoice = false;
    std::string afterEmpty = "<not reached>", afterRefusal, afterChoice;

    const BOOL result = Run("C:\\Data", 1, [&](const Dialog& d) {
        okAtStart = d.OkEnabled();
        DataFolderStandin_Script(1, S_OK, kReplaceFolder, nullptr);
        EXPECT_TRUE(d.SelectFolder());
        afterEmpty = d.Folder();
        okAfterEmpty = d.OkEnabled();

        DataFolderStandin_Script(7, S_OK, kReplaceFolder, L"C:\\Ignored");
        EXPECT_TRUE(d.SelectFolder());
        afterRefusal = d.Folder();
        okAfterRefusal = d.OkEnabled();

        DataFolderStandin_Script(1, S_OK, kReplaceFolder, L"D:\\Books");
        EXPECT_TRUE(d.SelectFolder());
        afterChoice = d.Folder();
        okAfterChoice = d.OkEnabled();
        PostCommand(d.get(), IDCANCEL);
    });

    EXPECT_TRUE(okAtStart);
    EXPECT_EQ(afterEmpty, "");
    EXPECT_FALSE(okAfterEmpty);
    EXPECT_EQ(afterRefusal, "") << "an answer other than 1 changed the folder";
    EXPECT_FALSE(okAfterRefusal);
    EXPECT_EQ(afterChoice, "D:\\Books");
    EXPECT_TRUE(okAfterChoice);
    EXPECT_EQ(LogoutCalls() - m_logouts, 3);
    EXPECT_EQ(result, FALSE);
    EXPECT_FALSE(StoredFolder().has_value()) << "Cancel wrote the data source";
}

TEST_F(DialogFolder, MissingComponentAndCancelledBrowserChangeNothing)
{
    const std::string start = TestFolder('m', 30);
    std::string afterMissing, afterCancel;
    bool okAfterMissing = false, okAfterCancel = false, windowAppeared = true, browserOpened = false;

    const BOOL result = Run(start, 2, [&](const Dialog& d) {
        // Estimating: the browser opens at the current folder and is cancelled.
        d.PressSelectFolder();
        HWND browser = WaitForBrowser(d);
        browserOpened = browser != nullptr;
        if (browser) PostCommand(browser, IDCANCEL);
        Poll([&] { return !IsWindow(browser); });
        afterCancel = d.Folder();
        okAfterCancel = d.OkEnabled();

        // Accounting without the component: nothing at all happens.
        d.SelectType(kAccounting);
        EXPECT_TRUE(d.SelectFolder());
        windowAppeared = Poll([&] { return FindDialog(m_thread, d.get()) != nullptr; }, 500);
        afterMissing = d.Folder();
        okAfterMissing = d.OkEnabled();
        PostCommand(d.get(), IDOK);
    });

    EXPECT_TRUE(browserOpened);
    ASSERT_EQ(m_log.Messages(BFFM_SETSELECTIONA).size(), 1u);
    EXPECT_EQ(m_log.Messages(BFFM_SETSELECTIONA)[0].text, start);
    EXPECT_EQ(afterCancel, start);
    EXPECT_TRUE(okAfterCancel);
    EXPECT_FALSE(windowAppeared);
    EXPECT_EQ(afterMissing, start);
    EXPECT_TRUE(okAfterMissing);
    EXPECT_EQ(LogoutCalls(), m_logouts);
    EXPECT_EQ(result, TRUE);
    EXPECT_EQ(StoredFolder(), start);
}
