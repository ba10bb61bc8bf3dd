// The accounting-data chooser against the data-folder component stand-in,
// registered as a real in-process COM server for each test.
#include "DialogDriver.h"
#include "FolderTestSupport.h"
#include "afx/Exceptions.h"
#include "dialog/FolderChoosers.h"

#include <gtest/gtest.h>

using namespace dlgtest;
using namespace foldertest;

namespace {

class ComponentChooser : public testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        m_logouts = standin::LogoutCalls();
        ASSERT_GE(m_logouts, 0) << "bkCommon.dll stand-in not loaded";
    }
    void TearDown() override { CoUninitialize(); }

    LONG NewLogouts() const { return standin::LogoutCalls() - m_logouts; }
    bool Choose(afx::CString& folder) { return ChooseFolderWithComponent(m_owner.get(), folder); }

    ParentWindow m_owner;
    LONG m_logouts = 0;
};

} // namespace

TEST_F(ComponentChooser, MissingComponentDoesNothing)
{
    afx::CString folder("C:\\Keep");
    EXPECT_FALSE(Choose(folder)) << "not registered";
    {
        UncreatableComponent registeredOnly;
        EXPECT_FALSE(Choose(folder)) << "registered, not creatable";
    }
    EXPECT_EQ(folder.str(), "C:\\Keep");
    EXPECT_EQ(NewLogouts(), 0);
    EXPECT_EQ(FindDialog(GetCurrentThreadId()), nullptr) << "something was shown";
}

TEST_F(ComponentChooser, ChosenFolderReplacesTheFolder)
{
    RegisteredComponent component;
    DataFolderStandin_Script(1, S_OK, kReplaceFolder, L"D:\\Accounting\\Company A");
    afx::CString folder("C:\\Old data");

    EXPECT_TRUE(Choose(folder));
    EXPECT_EQ(folder.str(), "D:\\Accounting\\Company A");

    const auto record = RegisteredComponent::Record();
    EXPECT_EQ(record.calls, 1);
    EXPECT_EQ(record.owner, HandleToLong(m_owner.get()));
    EXPECT_EQ(record.mode, -1);
    EXPECT_EQ(record.resultOnEntry, 0);
    EXPECT_FALSE(record.folderWasNull);
    EXPECT_EQ(record.folderLength, 11u);
    EXPECT_STREQ(record.folder, L"C:\\Old data");
    // One xs_logout, after the call, before its answer was freed and the component released.
    EXPECT_EQ(NewLogouts(), 1);
    EXPECT_EQ(record.logoutsAtCall, m_logouts);
    EXPECT_EQ(record.logoutsAtAnswerFree, m_logouts + 1);
    EXPECT_EQ(record.logoutsAtRelease, m_logouts + 1);
    EXPECT_EQ(record.created, 1);
    EXPECT_EQ(record.destroyed, 1);
}

TEST_F(ComponentChooser, EmptyOrNullAnswerEmptiesTheFolder)
{
    RegisteredComponent component;
    for (const wchar_t* answer : {L"", static_cast<const wchar_t*>(nullptr)}) {
        SCOPED_TRACE(answer ? "empty string" : "null string");
        DataFolderStandin_Script(1, S_OK, kReplaceFolder, answer);
        afx::CString folder("C:\\Data");
        EXPECT_TRUE(Choose(folder));
        EXPECT_TRUE(folder.IsEmpty()) << folder.str();
    }
    EXPECT_EQ(NewLogouts(), 2);

    // With no folder yet the component still gets a string: empty, not null.
    afx::CString none;
    DataFolderStandin_Script(0, S_OK, kLeaveFolder, nullptr);
    EXPECT_FALSE(Choose(none));
    const auto record = RegisteredComponent::Record();
    EXPECT_FALSE(record.folderWasNull);
    EXPECT_EQ(record.folderLength, 0u);
}

TEST_F(ComponentChooser, AnyOtherResultChangesNothingAndStillLogsOut)
{
    RegisteredComponent component;
    const LONG results[] = {0, 2, -1, 0x101};
    for (LONG result : results) {
        SCOPED_TRACE(result);
        DataFolderStandin_Script(result, S_OK, kReplaceFolder, L"X:\\Not taken");
        afx::CString folder("C:\\Data");
        EXPECT_FALSE(Choose(folder));
        EXPECT_EQ(folder.str(), "C:\\Data");
    }
    const auto record = RegisteredComponent::Record();
    EXPECT_EQ(NewLogouts(), LONG(std::size(results)));
    EXPECT_EQ(record.logoutsAtRelease, m_logouts + LONG(std::size(results)));
    EXPECT_EQ(record.destroyed, record.created);
}

TEST_F(ComponentChooser, FailingCallIsJudgedByItsResultAlone)
{
    RegisteredComponent component;
    afx::CString folder("C:\\Data");
    DataFolderStandin_Script(0, E_FAIL, kLeaveFolder, nullptr);
    EXPECT_FALSE(Choose(folder));
    EXPECT_EQ(folder.str(), "C:\\Data");
    EXPECT_EQ(NewLogouts(), 1);

    // The status is not examined: a result of 1 counts even with a failure.
    DataFolderStandin_Script(1, E_UNEXPECTED, kReplaceFolder, L"E:\\Taken");
    EXPECT_TRUE(Choose(folder));
    EXPECT_EQ(folder.str(), "E:\\Taken");
    EXPECT_EQ(NewLogouts(), 2);
}

TEST_F(ComponentChooser, EachChoiceCreatesAndReleasesItsOwnComponent)
{
    RegisteredComponent component;
    afx::CString folder("C:\\First");
    DataFolderStandin_Script(1, S_OK, kReplaceFolder, L"C:\\Second");
    EXPECT_TRUE(Choose(folder));
    DataFolderStandin_Script(1, S_OK, kReplaceFolder, L"C:\\Third");
    EXPECT_TRUE(Choose(folder));

    const auto record = RegisteredComponent::Record();
    EXPECT_EQ(record.calls, 2);
    EXPECT_EQ(record.created, 2);
    EXPECT_EQ(record.destroyed, 2);
    EXPECT_STREQ(record.folder, L"C:\\Second") << "the second call gets the folder now held";
    EXPECT_EQ(NewLogouts(), 2);
    EXPECT_EQ(folder.str(), "C:\\Third");
}

TEST_F(ComponentChooser, FolderTextCrossesInTheThreadsCodePage)
{
    const LCID saved = GetThreadLocale();
    SetThreadLocale(MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT));
    RegisteredComponent component;
    DataFolderStandin_Script(1, S_OK, kReplaceFolder, L"C:\\Daten\\B\u00FCro");
    afx::CString folder("C:\\Caf\xE9");
    EXPECT_TRUE(Choose(folder));
    EXPECT_STREQ(RegisteredComponent::Record().folder, L"C:\\Caf\u00E9");
    EXPECT_EQ(folder.str(), "C:\\Daten\\B\xFC" "ro");
    SetThreadLocale(saved);
}
