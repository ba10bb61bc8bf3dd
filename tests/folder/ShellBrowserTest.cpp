// The shell's folder browser as the estimating-data chooser opens it: Wine's
// real browser under Xvfb, driven from a second thread.
#include "DialogDriver.h"
#include "FolderTestSupport.h"
#include "WindowHooks.h"
#include "dialog/FolderChoosers.h"

#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>

using namespace dlgtest;
using namespace foldertest;

namespace {

const char kCaption[] = "Select Data Folder";
const char kInstruction[] =
    "Select the folder that contains the Brennick data to be used for this data source.";
const char kMyComputer[] = "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}";

class ShellBrowser : public testing::Test {
protected:
    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override { CoUninitialize(); }

    // Opens the browser over the owner at `folder` while `script` works it;
    // whether a folder was chosen.
    bool Browse(afx::CString& folder, const std::function<void(DialogDriver&)>& script) {
        bool chosen = false;
        DriveModal(m_owner.get(), [&] { chosen = BrowseForFolder(m_owner.get(), folder); },
                   [&](DialogDriver& browser) {
                       EXPECT_EQ(browser.Caption(), kCaption);
                       script(browser);
                   });
        return chosen;
    }

    // The status text the chooser last sent (whoever caused the change).
    std::string LastStatus() const {
        const auto texts = m_log.Texts(BFFM_SETSTATUSTEXTA, true);
        return texts.empty() ? "<none>" : texts.back();
    }

    // Highlights a folder as the user would, from the driving thread. (A
    // dialog procedure's answer does not come back as the message's result:
    // the status line tells whether it worked.)
    static void Highlight(DialogDriver& browser, const std::string& path) {
        browser.Send(BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(path.c_str()));
    }

    ParentWindow m_owner;
    BrowserMessageLog m_log;
};

} // namespace

TEST_F(ShellBrowser, OpensOverTheOwnerWithItsTextsAtTheCurrentFolderAndCancelChangesNothing)
{
    const std::string current = TestFolder('a', 49);
    afx::CString folder(current.c_str());
    HWND owner = nullptr;
    bool instructionShown = false, statusShown = false;
    const bool chosen = Browse(folder, [&](DialogDriver& browser) {
        owner = GetWindow(browser.dialog(), GW_OWNER);
        instructionShown = browser.Showing(kInstruction) != nullptr;
        statusShown = bktest::WaitFor([&] { return browser.Showing(current) != nullptr; }, 2000);
        browser.Press(IDCANCEL);
    });

    EXPECT_EQ(owner, m_owner.get()) << "no browser over the owner";
    EXPECT_TRUE(instructionShown);
    // The preselection is the current folder as a path, whole.
    const auto selections = m_log.Messages(BFFM_SETSELECTIONA);
    ASSERT_EQ(selections.size(), 1u);
    EXPECT_EQ(selections[0].wParam, static_cast<WPARAM>(TRUE));
    EXPECT_EQ(selections[0].text, current);
    // ... and the browser did open there: its status line shows that folder.
    EXPECT_TRUE(statusShown) << "last status: " << LastStatus();

    EXPECT_FALSE(chosen);
    EXPECT_EQ(folder.str(), current);
}

TEST_F(ShellBrowser, StatusLineShowsTheHighlightedPathShortenedFrom50Characters)
{
    const std::string at49 = TestFolder('a', 49), at50 = TestFolder('b', 50),
                      deep = TestFolder('c', 130);
    ASSERT_EQ(at49.size(), 49u);
    ASSERT_EQ(at50.size(), 50u);
    afx::CString folder(at49.c_str());
    std::string status49, status50, statusDeep, statusNoPath;
    const bool chosen = Browse(folder, [&](DialogDriver& browser) {
        status49 = LastStatus();
        Highlight(browser, at50);
        status50 = LastStatus();
        Highlight(browser, deep);
        statusDeep = LastStatus();
        // An item without a file-system path: the status line is emptied,
        // and taking it ends without a folder.
        Highlight(browser, kMyComputer);
        statusNoPath = LastStatus();
        browser.Press(IDOK);
    });

    EXPECT_EQ(status49, at49);
    EXPECT_LE(status50.size(), 49u) << status50;
    EXPECT_NE(status50.find("..."), std::string::npos) << status50;
    EXPECT_EQ(status50, CompactPathForDisplay(at50.c_str(), 50).str());
    EXPECT_LE(statusDeep.size(), 49u) << statusDeep;
    const std::string lastElement = deep.substr(deep.rfind('\\'));
    EXPECT_EQ(statusDeep.substr(statusDeep.size() - lastElement.size()), lastElement) << statusDeep;

    EXPECT_EQ(statusNoPath, "");
    EXPECT_FALSE(chosen);
    EXPECT_EQ(folder.str(), at49);
}

TEST_F(ShellBrowser, ChoosingAFolderReplacesAnEmptyFolder)
{
    const std::string target = TestFolder('d', 60);
    afx::CString folder;
    const bool chosen = Browse(folder, [&](DialogDriver& browser) {
        Highlight(browser, target);
        browser.Press(IDOK);
    });

    EXPECT_TRUE(m_log.Messages(BFFM_SETSELECTIONA).empty()) << "no folder, no preselection";
    EXPECT_TRUE(chosen);
    EXPECT_EQ(folder.str(), target);
}

TEST_F(ShellBrowser, AFolderLongerThanTheCallbackBufferOpensWithoutPreselection)
{
    // 260 characters still fit the 261-byte buffer and are sent whole.
    for (size_t length : {260u, 261u, 300u}) {
        SCOPED_TRACE(length);
        const std::string current = TestFolder('e', length, false);
        ASSERT_EQ(current.size(), length);
        afx::CString folder(current.c_str());
        const size_t before = m_log.Messages(BFFM_SETSELECTIONA).size();
        bool opened = false;
        const bool chosen = Browse(folder, [&](DialogDriver& browser) {
            opened = true;
            browser.Press(IDCANCEL);
        });
        EXPECT_TRUE(opened);
        const auto selections = m_log.Messages(BFFM_SETSELECTIONA);
        if (length <= 260) {
            ASSERT_EQ(selections.size(), before + 1);
            EXPECT_EQ(selections.back().text, current);
        } else {
            EXPECT_EQ(selections.size(), before) << "a cut path was sent: " << selections.back().text;
        }
        EXPECT_FALSE(chosen);
        EXPECT_EQ(folder.str(), current);
    }
}

TEST(CompactPathForDisplay, ShortensFromTheLimitOnly)
{
    const std::string at49 = foldertest::TestFolder('f', 49, false);
    const std::string at50 = foldertest::TestFolder('f', 50, false);
    EXPECT_EQ(CompactPathForDisplay(at49.c_str(), 50).str(), at49);
    EXPECT_EQ(CompactPathForDisplay("", 50).str(), "");

    const std::string shown = CompactPathForDisplay(at50.c_str(), 50).str();
    EXPECT_LE(shown.size(), 49u);
    EXPECT_NE(shown.find("..."), std::string::npos) << shown;

    const std::string deep = foldertest::TestFolder('g', 200, false);
    for (unsigned short limit : {20, 50, 120}) {
        const std::string s = CompactPathForDisplay(deep.c_str(), limit).str();
        EXPECT_LE(s.size(), limit - 1u) << s;
        EXPECT_FALSE(s.empty());
    }
    // Paths too long for the API are shortened all the same, their end kept,
    // also with a limit beyond the 260-byte buffer.
    const std::string overlong = foldertest::TestFolder('h', 300, false);
    for (unsigned short limit : {50, 280}) {
        const std::string s = CompactPathForDisplay(overlong.c_str(), limit).str();
        EXPECT_EQ(s.size(), std::min<size_t>(limit, 260) - 1) << s;
        EXPECT_EQ(s.substr(0, 3), "...");
        EXPECT_EQ(overlong.substr(overlong.size() - (s.size() - 3)), s.substr(3));
    }
    EXPECT_EQ(CompactPathForDisplay(overlong.c_str(), 3).str(), "..");
}
