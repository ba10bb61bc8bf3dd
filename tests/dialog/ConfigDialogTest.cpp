// The configuration dialog, driven for real: ConfigDSN with a parent window,
// Wine's installer behind it, the dialog worked from a second thread.
#include "DialogDriver.h"
#include "InstallerUnderTest.h"
#include "ReadBack.h"
#include "WindowHooks.h"
#include "resource.h"

#include <gtest/gtest.h>
#include <odbcinst.h>

#include <map>
#include <string>
#include <vector>

using namespace bktest;
using namespace dlgtest;
using Keys = std::map<std::string, std::string>;

namespace {

const char kCaption[] = "Brennick Data ODBC Setup";
const std::string kInvalidText =
    "' cannot be used as a data source name. Make sure that\nthe first character is a letter, "
    "that it contains at least\none non-blank character, and that it doesn't contain any of\n"
    "the following characters: [ ] { } ( ) ? * = ! @ , ;\\";
const int kLowerBand[] = {IDC_NAMING_LABEL, IDC_NAMING_MODE, IDC_MAX_COL_SUPPORT, IDC_SHORTEN_NAMES};
// The note below the first check box (a static without an id of its own).
const char kNote[] = "Note: Setting this option may cause this data source to be incompatible "
                     "with non-Brennick applications.";

// A warning box of the dialog's own, with `text` and `buttons`.
void ExpectWarning(const std::optional<SeenBox>& box, HWND dialog, const std::string& text,
                   const std::vector<int>& buttons)
{
    ASSERT_TRUE(box) << "no message box";
    EXPECT_EQ(box->owner, dialog);
    EXPECT_EQ(box->caption, kCaption);
    EXPECT_EQ(box->text, text);
    EXPECT_EQ(box->buttons, buttons);
    EXPECT_TRUE(box->icon && box->icon == LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_WARNING)));
}

class ConfigDialog : public DataSourceTest {
protected:
    // Stores a data source silently through the module: the test's starting point.
    void Store(const std::string& dsn, std::vector<std::string> keys)
    {
        keys.insert(keys.begin(), "DSN=" + dsn);
        ASSERT_EQ(module.ConfigDSN(nullptr, ODBC_ADD_DSN, kDriver, AttributeList(keys)), TRUE);
    }
    // Opens the dialog on a stored data source, as the administrator does.
    DialogRun Edit(const std::string& dsn, const std::function<void(DialogDriver&)>& script)
    {
        return RunDialog(module, AttributeList({"DSN=" + dsn}), script, ODBC_CONFIG_DSN);
    }
    Keys KeysOf(const std::string& dsn) { return ReadEntry(dsn).keys; }

    SetupModule module;
    ScopedDefaultDsnDir dir;
};

// ---- Layout ----

TEST_F(ConfigDialog, OpensCollapsedAndCentredThenGrowsDownwardsInPlace)
{
    const std::string dsn = Use("bkTLayout");
    Store(dsn, {"DBQ=C:\\Data"});
    ParentWindow parent;
    RECT owner = {};
    GetWindowRect(parent.get(), &owner);

    const DialogRun run = RunDialogWithParent(module, parent.get(), AttributeList({"DSN=" + dsn}), [&](DialogDriver& d) {
        const RECT collapsed = d.Dlu(0, 0, 318, 104), expanded = d.Dlu(0, 0, 318, 186);
        RECT client = d.ClientRect();
        EXPECT_EQ(client.right, collapsed.right);
        EXPECT_EQ(client.bottom, collapsed.bottom);
        const RECT opened = d.WindowRect();
        EXPECT_NEAR(opened.left + opened.right, owner.left + owner.right, 2);
        EXPECT_NEAR(opened.top + opened.bottom, owner.top + owner.bottom, 2);

        // Only the upper band takes input; the note is never disabled.
        for (int id : kLowerBand) EXPECT_FALSE(d.Enabled(id)) << "control " << id;
        EXPECT_TRUE(IsWindowEnabled(d.Showing(kNote)));
        EXPECT_TRUE(d.Enabled(IDC_OPTIONS));
        EXPECT_EQ(d.Focus(), d.Item(IDC_DSN_NAME));
        EXPECT_EQ(d.Send(DM_GETDEFID), MAKELONG(IDOK, DC_HASDEFID));
        // Made under the module's manifest, the controls are those of version 6
        // of the common controls, which Wine keeps side by side (and reports
        // as version 5, so the library's path tells).
        for (int id : {IDC_DSN_NAME, IDC_DATABASE_TYPE, IDOK}) {
            HMODULE owner = nullptr;
            GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                   GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                               reinterpret_cast<LPCSTR>(GetWindowLongPtrW(d.Item(id), GWLP_WNDPROC)),
                               &owner);
            char library[MAX_PATH] = {};
            GetModuleFileNameA(owner, library, MAX_PATH);
            EXPECT_NE(std::string(library).find("winsxs"), std::string::npos) << library;
        }

        d.Click(IDC_OPTIONS);
        for (int id : kLowerBand) EXPECT_TRUE(d.Enabled(id)) << "control " << id;
        EXPECT_FALSE(d.Enabled(IDC_OPTIONS));
        EXPECT_EQ(d.Text(IDC_OPTIONS), "&Options >>");
        EXPECT_EQ(d.Focus(), d.Item(IDC_NAMING_MODE));
        client = d.ClientRect();
        EXPECT_EQ(client.right, expanded.right);
        EXPECT_EQ(client.bottom, expanded.bottom);
        const RECT grown = d.WindowRect();
        EXPECT_EQ(grown.left, opened.left);
        EXPECT_EQ(grown.top, opened.top);
        EXPECT_EQ(grown.right, opened.right);
        EXPECT_GT(grown.bottom, opened.bottom);

        // The lists hold the resource's entries; the type list is sorted, the
        // naming list keeps the resource's order.
        EXPECT_EQ(d.Items(IDC_DATABASE_TYPE),
                  (std::vector<std::string>{"Accounting Data Folder", "Estimating Data Folder"}));
        EXPECT_EQ(d.Items(IDC_NAMING_MODE),
                  (std::vector<std::string>{"Custom descriptions", "Standard descriptions",
                                            "Dictionary names"}));
        d.Click(IDCANCEL);
    });
    EXPECT_TRUE(run.shown);
    EXPECT_EQ(run.result, FALSE);
}

TEST_F(ConfigDialog, EscapeAndTheCloseBoxCancelAndCancelWritesNothing)
{
    const std::string dsn = Use("bkTCancel");
    Store(dsn, {"DBQ=C:\\Data", "DatabaseType=2", "MaxColSupport=1536"});
    const StoredEntry before = ReadEntry(dsn);
    const auto fileBefore = ReadFileBytes(dir.FileFor(dsn));
    ASSERT_TRUE(fileBefore);

    // Every value changed, then Cancel, Escape or the close box.
    const std::vector<std::function<void(DialogDriver&)>> cancels = {
        [](DialogDriver& d) { d.Click(IDCANCEL); },
        [](DialogDriver& d) { d.Key(IDC_DSN_NAME, VK_ESCAPE); },
        [](DialogDriver& d) { PostMessageA(d.dialog(), WM_CLOSE, 0, 0); },
    };
    for (const auto& cancel : cancels) {
        const DialogRun run = Edit(dsn, [&](DialogDriver& d) {
            d.SetText(IDC_DSN_NAME, "bkTCancelled");
            d.Click(IDC_OPTIONS);
            d.Select(IDC_DATABASE_TYPE, 0);
            d.Select(IDC_NAMING_MODE, 2);
            d.SetChecked(IDC_MAX_COL_SUPPORT, false);
            d.SetChecked(IDC_SHORTEN_NAMES, true);
            cancel(d);
            EXPECT_TRUE(d.WaitClosed());
        });
        EXPECT_EQ(run.result, FALSE);
        EXPECT_EQ(ReadEntry(dsn), before);
        EXPECT_EQ(ReadFileBytes(dir.FileFor(dsn)), fileBefore);
        EXPECT_EQ(ReadEntry("bkTCancelled"), StoredEntry{});
    }

    // A new data source with everything OK needs, cancelled: nothing is written.
    const std::string added = Use("bkTCancelNew");
    const DialogRun run = RunDialog(module, AttributeList({"DSN=" + added, "DBQ=C:\\Data"}), [](DialogDriver& d) {
        EXPECT_TRUE(d.Enabled(IDOK));
        d.Click(IDCANCEL);
    }, ODBC_ADD_DSN);
    EXPECT_EQ(run.result, FALSE);
    EXPECT_EQ(ReadEntry(added), StoredEntry{});
}

// ---- Values between the set and the controls ----

TEST_F(ConfigDialog, StoredValuesOpenInTheControls)
{
    struct Case {
        std::vector<std::string> stored;
        int type, naming;
        bool maxCol, shorten;
    };
    const Case cases[] = {
        {{"DatabaseType=2", "StandardMode=1", "MaxColSupport=1536", "ShortenNames=1"}, 1, 1, true, true},
        {{"DatabaseType=1", "DictionaryMode=1", "MaxColSupport=255", "ShortenNames=0"}, 0, 2, false, false},
        // Numbers outside the known ones open at the first positions.
        {{"DatabaseType=7", "StandardMode=4", "DictionaryMode=9"}, 0, 0, false, false},
    };
    const std::string dsn = Use("bkTOpen");
    for (const Case& c : cases) {
        ForgetDataSource(dsn);
        std::vector<std::string> stored = c.stored;
        stored.push_back("DBQ=C:\\Brennick\\Data");
        Store(dsn, stored);
        Edit(dsn, [&](DialogDriver& d) {
            EXPECT_EQ(d.Text(IDC_DSN_NAME), dsn);
            EXPECT_EQ(d.Text(IDC_DATA_FOLDER), "C:\\Brennick\\Data");
            EXPECT_EQ(d.Selection(IDC_DATABASE_TYPE), c.type);
            EXPECT_EQ(d.Selection(IDC_NAMING_MODE), c.naming);
            EXPECT_EQ(d.Checked(IDC_MAX_COL_SUPPORT), c.maxCol);
            EXPECT_EQ(d.Checked(IDC_SHORTEN_NAMES), c.shorten);
            EXPECT_TRUE(d.Enabled(IDOK));
            d.Click(IDCANCEL);
        });
    }
}

TEST_F(ConfigDialog, OkWritesEveryControlsValueAsAllSixKeys)
{
    struct Case {
        std::string name;
        std::function<void(DialogDriver&)> edit;
        Keys expected;
    };
    const Case cases[] = {
        {"unexpanded: the loaded options are stored as they were",
         [](DialogDriver&) {},
         {{"DBQ", "C:\\Data"}, {"DatabaseType", "1"}, {"MaxColSupport", "1536"},
          {"ShortenNames", "1"}, {"StandardMode", "1"}, {"DictionaryMode", "0"}}},
        {"estimating, dictionary names, both options off",
         [](DialogDriver& d) {
             d.Click(IDC_OPTIONS);
             d.Select(IDC_DATABASE_TYPE, 1);
             d.Select(IDC_NAMING_MODE, 2);
             d.SetChecked(IDC_MAX_COL_SUPPORT, false);
             d.SetChecked(IDC_SHORTEN_NAMES, false);
         },
         {{"DBQ", "C:\\Data"}, {"DatabaseType", "2"}, {"MaxColSupport", "255"},
          {"ShortenNames", "0"}, {"StandardMode", "0"}, {"DictionaryMode", "1"}}},
        {"no type selected is accounting data; custom descriptions",
         [](DialogDriver& d) {
             d.Click(IDC_OPTIONS);
             d.Select(IDC_DATABASE_TYPE, -1);
             d.Select(IDC_NAMING_MODE, 0);
         },
         {{"DBQ", "C:\\Data"}, {"DatabaseType", "1"}, {"MaxColSupport", "1536"},
          {"ShortenNames", "1"}, {"StandardMode", "0"}, {"DictionaryMode", "0"}}},
    };
    const std::string dsn = Use("bkTWrite");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ForgetDataSource(dsn);
        Store(dsn, {"DBQ=C:\\Data", "MaxColSupport=1536", "ShortenNames=1", "StandardMode=1"});
        const DialogRun run = Edit(dsn, [&](DialogDriver& d) {
            c.edit(d);
            d.Click(IDOK);
            EXPECT_TRUE(d.WaitClosed());
        });
        EXPECT_EQ(run.result, TRUE);
        EXPECT_EQ(KeysOf(dsn), c.expected);
        EXPECT_EQ(Registration(dsn), kDriver);
        EXPECT_EQ(ReadFileBytes(dir.FileFor(dsn)), "[ODBC]\r\nDSN=" + dsn + "\r\n");
    }
}

TEST_F(ConfigDialog, UnknownNamingModeIsStoredAsCustomDescriptions)
{
    const std::string dsn = Use("bkTNaming");
    Store(dsn, {"DBQ=C:\\Data", "StandardMode=3", "DictionaryMode=3", "DatabaseType=5"});
    const DialogRun run = Edit(dsn, [](DialogDriver& d) { d.Click(IDOK); });
    EXPECT_EQ(run.result, TRUE);
    const Keys keys = KeysOf(dsn);
    EXPECT_EQ(keys.at("StandardMode"), "0");
    EXPECT_EQ(keys.at("DictionaryMode"), "0");
    EXPECT_EQ(keys.at("DatabaseType"), "1");
}

// ---- The name ----

TEST_F(ConfigDialog, OkIsEnabledOnlyWithANameAndAFolder)
{
    const std::string dsn = Use("bkTTrim");
    Store(dsn, {"DBQ=C:\\Data"});
    const DialogRun run = Edit(dsn, [&](DialogDriver& d) {
        EXPECT_TRUE(d.Enabled(IDOK));
        d.SetText(IDC_DSN_NAME, "");
        EXPECT_FALSE(d.Enabled(IDOK));
        d.SetText(IDC_DSN_NAME, " \t  ");
        EXPECT_FALSE(d.Enabled(IDOK)) << "blanks only are no name";
        // Enter with OK disabled does not end the dialog.
        d.Key(IDC_DSN_NAME, VK_RETURN);
        Sleep(200);
        EXPECT_TRUE(IsWindow(d.dialog()));
        // The name is used trimmed; the edit keeps what was typed.
        d.SetText(IDC_DSN_NAME, "  " + dsn + " \t");
        EXPECT_TRUE(d.Enabled(IDOK));
        EXPECT_EQ(d.Text(IDC_DSN_NAME), "  " + dsn + " \t");
        d.Key(IDC_DSN_NAME, VK_RETURN);
        EXPECT_TRUE(d.WaitClosed());
    });
    EXPECT_EQ(run.result, TRUE);
    EXPECT_EQ(Registration(dsn), kDriver);
    EXPECT_EQ(KeysOf(dsn).count("DBQ"), 1u);
}

TEST_F(ConfigDialog, WithoutAFolderOkStaysDisabledWhateverTheName)
{
    const std::string dsn = Use("bkTNoFolder");
    const DialogRun run = RunDialog(module, AttributeList({"DSN=" + dsn}), [&](DialogDriver& d) {
        EXPECT_EQ(d.Text(IDC_DSN_NAME), dsn);
        EXPECT_EQ(d.Text(IDC_DATA_FOLDER), "");
        EXPECT_FALSE(d.Enabled(IDOK));
        d.Type(IDC_DSN_NAME, "x");
        EXPECT_FALSE(d.Enabled(IDOK));
        d.Click(IDCANCEL);
    }, ODBC_ADD_DSN);
    EXPECT_EQ(run.result, FALSE);
    EXPECT_EQ(ReadEntry(dsn), StoredEntry{});
}

TEST_F(ConfigDialog, TypingStopsAt32CharactersButALongerGivenNameIsKeptWhole)
{
    const std::string longName(40, 'n');
    const DialogRun run = RunDialog(module, AttributeList({"DSN=" + longName, "DBQ=C:\\Data"}), [&](DialogDriver& d) {
        EXPECT_EQ(d.Text(IDC_DSN_NAME), longName);
        // Typed at the end, not over the selection that the focus made.
        d.SendItem(IDC_DSN_NAME, EM_SETSEL, 40, 40);
        d.Type(IDC_DSN_NAME, "x");
        EXPECT_EQ(d.Text(IDC_DSN_NAME), longName);
        d.SetText(IDC_DSN_NAME, "");
        d.Type(IDC_DSN_NAME, std::string(20, 'a') + std::string(20, 'b'));
        EXPECT_EQ(d.Text(IDC_DSN_NAME), std::string(20, 'a') + std::string(12, 'b'));
        d.Click(IDCANCEL);
    }, ODBC_ADD_DSN);
    EXPECT_EQ(run.result, FALSE);
}

TEST_F(ConfigDialog, AnInvalidNameIsRefusedWithTheMessageAndTheDialogStaysOpen)
{
    const std::string dsn = Use("bkTInvalid");
    Store(dsn, {"DBQ=C:\\Data"});
    const StoredEntry before = ReadEntry(dsn);
    // A '%' in the name is shown as it is, "%s" included.
    const std::string refused = "%s[bkT]";
    MessageBoxAnswerer boxes(IDOK);
    const DialogRun run = Edit(dsn, [&](DialogDriver& d) {
        d.SetText(IDC_DSN_NAME, " " + refused + " ");
        for (int attempt = 0; attempt < 2; ++attempt) {
            d.Press(IDOK);
            ExpectWarning(boxes.Next(), d.dialog(), "'" + refused + kInvalidText, {IDOK});
            EXPECT_TRUE(IsWindow(d.dialog()));
            EXPECT_EQ(d.Text(IDC_DSN_NAME), " " + refused + " ");
        }
        d.Click(IDCANCEL);
    });
    EXPECT_EQ(run.result, FALSE);
    EXPECT_EQ(ReadEntry(dsn), before);
}

TEST_F(ConfigDialog, RenameWritesTheNewEntryAndRemovesTheOldOneAndItsFile)
{
    const std::string from = Use("bkTRenameFrom"), to = Use("bkTRenameTo");
    Store(from, {"DBQ=C:\\Data", "DatabaseType=2"});
    const StoredEntry old = ReadEntry(from);
    ASSERT_TRUE(FileExists(dir.FileFor(from)));
    const DialogRun run = Edit(from, [&](DialogDriver& d) {
        d.SetText(IDC_DSN_NAME, to);
        d.Click(IDOK);
        EXPECT_TRUE(d.WaitClosed()) << "a new name that nobody uses needs no question";
    });
    EXPECT_EQ(run.result, TRUE);
    EXPECT_EQ(Registration(to), kDriver);
    EXPECT_EQ(KeysOf(to), (Keys{{"DBQ", "C:\\Data"}, {"DatabaseType", "2"}, {"MaxColSupport", "255"},
                                {"ShortenNames", "0"}, {"StandardMode", "0"}, {"DictionaryMode", "0"}}));
    EXPECT_TRUE(FileExists(dir.FileFor(to)));
    EXPECT_EQ(ReadEntry(from), AfterRemoval(old));
    EXPECT_FALSE(FileExists(dir.FileFor(from)));
}

TEST_F(ConfigDialog, ChangingOnlyTheCaseOfTheNameAsksNothing)
{
    const std::string dsn = Use("bkTCase");
    Store(dsn, {"DBQ=C:\\Data"});
    const DialogRun run = Edit(dsn, [&](DialogDriver& d) {
        d.SetText(IDC_DSN_NAME, "BKTCASE");
        d.Click(IDOK);
        EXPECT_TRUE(d.WaitClosed());
    });
    EXPECT_EQ(run.result, TRUE);
    EXPECT_TRUE(Registration("BKTCASE"));
    EXPECT_TRUE(FileExists(dir.FileFor(dsn)));
}

TEST_F(ConfigDialog, RenamingOntoAnExistingSourceAsksNoThenYesOverwrites)
{
    const std::string from = Use("bkTMine"), other = Use("bkTTheirs");
    Store(from, {"DBQ=C:\\Mine", "DatabaseType=2"});
    Store(other, {"DBQ=C:\\Theirs", "ShortenNames=1"});
    const StoredEntry mine = ReadEntry(from), theirs = ReadEntry(other);

    MessageBoxAnswerer boxes;
    const DialogRun run = Edit(from, [&](DialogDriver& d) {
        d.SetText(IDC_DSN_NAME, other);
        for (int answer : {IDNO, IDYES}) {
            boxes.answer(answer);
            d.Press(IDOK);
            ExpectWarning(boxes.Next(), d.dialog(), "Data source " + other + " already exists.\nOverwrite?",
                          {IDYES, IDNO});
            if (answer == IDNO) {
                EXPECT_TRUE(IsWindow(d.dialog())) << "No keeps the dialog open";
                EXPECT_EQ(ReadEntry(other), theirs);
            }
        }
        EXPECT_TRUE(d.WaitClosed());
    });
    EXPECT_EQ(run.result, TRUE);
    EXPECT_EQ(KeysOf(other).at("DBQ"), "C:\\Mine");
    EXPECT_EQ(KeysOf(other).at("DatabaseType"), "2");
    EXPECT_EQ(ReadEntry(from), AfterRemoval(mine));
    EXPECT_FALSE(FileExists(dir.FileFor(from)));
    EXPECT_TRUE(FileExists(dir.FileFor(other)));
}

} // namespace
