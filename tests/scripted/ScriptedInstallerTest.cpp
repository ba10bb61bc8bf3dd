// Silent requests against the fault-injecting installer: the exact installer
// calls they make, the stored keys a configure keeps, and the refusals that
// Wine's own installer cannot be made to produce (an unreadable stored value
// also with a parent window, refused before the dialog).
#include "DialogDriver.h"
#include "InstallerUnderTest.h"
#include "ReadBack.h"
#include "StandinInstaller.h"
#include "WindowHooks.h"

#include <gtest/gtest.h>
#include <odbcinst.h>

#include <algorithm>

using namespace bktest;
using Calls = std::vector<std::string>;

namespace {

class ScriptedInstaller : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(standin.loaded()); }
    void TearDown() override
    {
        for (const auto& box : boxes.seen()) ADD_FAILURE() << "unexpected message box: " << box.text;
    }

    // Declared in this order: the stand-in is in place before the module can
    // bind the installer, and any box (a fault here) is answered, not waited on.
    MessageBoxAnswerer boxes;
    StandinInstaller standin;
    SetupModule module;
    ScopedDefaultDsnDir dsnDir;
};

// ---- What a silent add or configure asks of the installer ----

TEST_F(ScriptedInstaller, SilentAddValidatesRegistersThenWritesKeysInIndexOrder)
{
    EXPECT_EQ(module.ConfigDSN(ODBC_ADD_DSN, {"DatabaseType=2", "DictionaryMode=1",
                                              "StandardMode=0", "ShortenNames=1",
                                              "MaxColSupport=1536", "DBQ=C:\\Data", "DSN=Sales"}),
              TRUE);
    EXPECT_EQ(standin.Calls(),
              (Calls{Valid("Sales"), RegisteredFor("Sales"), Register("Sales"),
                     Write("Sales", "DBQ", "C:\\Data"), Write("Sales", "MaxColSupport", "1536"),
                     Write("Sales", "ShortenNames", "1"), Write("Sales", "StandardMode", "0"),
                     Write("Sales", "DictionaryMode", "1"), Write("Sales", "DatabaseType", "2")}));
    EXPECT_TRUE(FileExists(dsnDir.FileFor("Sales")));
}

TEST_F(ScriptedInstaller, SilentAddOfANewSourceLooksUpOnlyUnsuppliedKeysAndWritesOnlySupplied)
{
    // A name not registered for the driver is registered, which may drop the
    // section: the lookups come before it. The section's list of keys comes
    // first: when it holds none, as for a new data source, no key is read; a
    // section left without its registration has each unsupplied key read.
    for (const bool leftOver : {false, true}) {
        SCOPED_TRACE(leftOver ? "a section without its registration" : "no section");
        standin.Reset();
        if (leftOver) standin.SetProfile("Sales", "Left", "over");
        EXPECT_EQ(module.ConfigDSN(ODBC_ADD_DSN, {"DSN=Sales", "shortennames=1"}), TRUE);
        Calls expected{Valid("Sales"), RegisteredFor("Sales"), List("Sales")};
        if (leftOver)
            for (const char* key : {"DBQ", "MaxColSupport", "StandardMode", "DictionaryMode", "DatabaseType"})
                expected.push_back(Read("Sales", key));
        expected.insert(expected.end(), {Register("Sales"), Write("Sales", "ShortenNames", "1")});
        EXPECT_EQ(standin.Calls(), expected);
    }
}

TEST_F(ScriptedInstaller, SilentConfigureKeepsTheStoredKeysItDidNotSupply)
{
    // The stand-in's registration empties the section, as Windows' does.
    standin.SetProfile("Sales", "DBQ", "C:\\Old");
    standin.SetProfile("Sales", "MaxColSupport", "255");
    standin.SetProfile("Sales", "DatabaseType", "2");
    standin.SetProfile("Other", "ShortenNames", "1");

    EXPECT_EQ(module.ConfigDSN(ODBC_CONFIG_DSN, {"DSN=Sales", "MaxColSupport=1536"}), TRUE);

    EXPECT_EQ(From(standin.Calls(), Register("Sales")),
              (Calls{Register("Sales"), Write("Sales", "DBQ", "C:\\Old"),
                     Write("Sales", "MaxColSupport", "1536"), Write("Sales", "DatabaseType", "2")}));
    EXPECT_EQ(standin.Profile("Sales", "DBQ"), "C:\\Old");
    EXPECT_EQ(standin.Profile("Sales", "MaxColSupport"), "1536");
    EXPECT_EQ(standin.Profile("Sales", "DatabaseType"), "2");
    for (const char* unfound : {"ShortenNames", "StandardMode", "DictionaryMode"})
        EXPECT_EQ(standin.Profile("Sales", unfound), std::nullopt) << unfound;
}

TEST_F(ScriptedInstaller, SilentConfigureKeepsStoredValuesWholeHoweverLong)
{
    // Lengths around the read buffer and its doublings, up to what the
    // largest read still takes whole; read by an installer that cuts a value
    // to the buffer, and by one that answers nothing for a value that does
    // not fit (Wine's), where only the section's list of keys tells it apart
    // from an absent one, even when that list passes the buffer and is cut.
    for (size_t length : {258u, 259u, 260u, 600u, 33279u, 33280u, 70000u, 1000000u}) {
        for (bool nothingWhenCut : {false, true}) {
            SCOPED_TRACE(std::to_string(length) + (nothingWhenCut ? ", nothing when cut" : ""));
            standin.Reset();
            const std::string folder = "C:\\" + std::string(length - 3, 'd');
            standin.SetProfile("Sales", "DBQ", folder.c_str());
            standin.SetProfile("Sales", std::string(300, 'A').c_str(), "listed before DBQ");
            // The first read asks whether the name is registered, two more
            // list the keys (the list is cut at the first); the fourth is DBQ's.
            if (nothingWhenCut) standin.SetResult("SQLGetPrivateProfileString", 4, 0);
            EXPECT_EQ(module.ConfigDSN(ODBC_CONFIG_DSN, {"DSN=Sales", "ShortenNames=0"}), TRUE);
            EXPECT_EQ(standin.Profile("Sales", "DBQ"), folder);
        }
    }
}

// ---- Refusals ----

TEST_F(ScriptedInstaller, RefusedRegistrationFailsWithoutWritingAnyKey)
{
    standin.SetResult("SQLWriteDSNToIni", 0, FALSE);
    EXPECT_EQ(module.ConfigDSN(ODBC_ADD_DSN, {"DSN=Sales", "DBQ=C:\\Data", "ShortenNames=1"}),
              FALSE);
    EXPECT_EQ(standin.Calls().back(), Register("Sales"));
    EXPECT_FALSE(FileExists(dsnDir.FileFor("Sales")));
}

TEST_F(ScriptedInstaller, KeyWriteRefusedAtTheNthCallStillWritesEveryOtherKeyAndFails)
{
    // The registration has emptied the section: a refused key must not take
    // the keys after it along.
    const Calls writes{Write("Sales", "DBQ", "C:\\Data"), Write("Sales", "MaxColSupport", "1536"),
                       Write("Sales", "ShortenNames", "1")};
    const char* keys[] = {"DBQ", "MaxColSupport", "ShortenNames"};
    for (int refused = 1; refused <= 3; ++refused) {
        SCOPED_TRACE(refused);
        standin.Reset();
        standin.SetResult("SQLWritePrivateProfileString", refused, FALSE);
        EXPECT_EQ(module.ConfigDSN(ODBC_ADD_DSN, {"DSN=Sales", "ShortenNames=1", "DBQ=C:\\Data",
                                                  "MaxColSupport=1536"}),
                  FALSE);

        Calls expected{Register("Sales")};
        expected.insert(expected.end(), writes.begin(), writes.end());
        EXPECT_EQ(From(standin.Calls(), Register("Sales")), expected);
        for (int key = 0; key < 3; ++key)
            EXPECT_EQ(standin.Profile("Sales", keys[key]).has_value(), key + 1 != refused) << keys[key];
        EXPECT_FALSE(FileExists(dsnDir.FileFor("Sales")));
    }
}

TEST_F(ScriptedInstaller, AStoredValueThatCannotBeReadWholeFailsTheRequestBeforeAnyWrite)
{
    // A refused lookup of the second key's value, and of the section's keys
    // (asked with a parent window once the second key, not stored, answered
    // nothing; silently at once after the registration's read); a value cut
    // to the first read whose larger read answers nothing; a value too long
    // for the largest read. Silently, and with a parent window before any
    // dialog; the call is counted for each.
    const std::string cut(600, 'c'), huge(1100 * 1024, 'h');
    const struct { int call, silentCall, answer; const char* key; const std::string* value; } cases[] = {
        {2, 4, -1, nullptr, nullptr}, {3, 2, -1, nullptr, nullptr},
        {3, 5, 0, "MaxColSupport", &cut}, {0, 0, 0, "DatabaseType", &huge}};
    const dlgtest::ParentWindow parent;
    for (const auto& c : cases) {
        for (HWND hwndParent : {HWND(nullptr), parent.get()}) {
            SCOPED_TRACE(std::string(c.key ? c.key : "") + " call " + std::to_string(c.call) + " answers " +
                         std::to_string(c.answer) + (hwndParent ? ", parent window" : ", silent"));
            standin.Reset();
            standin.SetProfile("Sales", "DBQ", "C:\\Old");
            if (c.key) standin.SetProfile("Sales", c.key, c.value->c_str());
            if (c.call) standin.SetResult("SQLGetPrivateProfileString", hwndParent ? c.call : c.silentCall, c.answer);
            const WindowWatcher watcher;   // cancels a dialog that shows, so it cannot wait
            EXPECT_EQ(module.ConfigDSN(hwndParent, ODBC_CONFIG_DSN, kDriver,
                                       AttributeList({"DSN=Sales", "ShortenNames=1"})),
                      FALSE);
            EXPECT_TRUE(watcher.created().empty()) << ::testing::PrintToString(watcher.created());
            for (const auto& call : standin.Calls())
                EXPECT_EQ(call.rfind("SQLWrite", 0), std::string::npos) << call;
            EXPECT_EQ(standin.Profile("Sales", "DBQ"), "C:\\Old");
            EXPECT_FALSE(FileExists(dsnDir.FileFor("Sales")));
        }
    }
}

TEST_F(ScriptedInstaller, NamesBreakingTheRulesFailAndWriteNothing)
{
    // The module's own rules are checked before the installer is asked.
    struct Case { const char* driver; std::string list; } ownRules[] = {
        {kDriver, AttributeList({"DSN=9Sales", "DBQ=C:\\Data"})},
        {kDriver, AttributeList({"DSN= Sales", "DBQ=C:\\Data"})},
        {kDriver, AttributeList({"DSN=", "DBQ=C:\\Data"})},
        {kDriver, AttributeList({"DBQ=C:\\Data"})},
        {"", AttributeList({"DSN=Sales", "DBQ=C:\\Data"})},
    };
    for (const auto& c : ownRules) {
        SCOPED_TRACE(c.list.c_str());
        standin.Reset();
        EXPECT_EQ(module.ConfigDSN(nullptr, ODBC_ADD_DSN, c.driver, c.list), FALSE);
        EXPECT_EQ(standin.Calls(), Calls{});
    }

    standin.Reset();
    standin.SetResult("SQLValidDSN", 0, FALSE);
    EXPECT_EQ(module.ConfigDSN(ODBC_CONFIG_DSN, {"DSN=Sa[les", "DBQ=C:\\Data"}), FALSE);
    EXPECT_EQ(standin.Calls(), Calls{Valid("Sa[les")});
    EXPECT_FALSE(FileExists(dsnDir.FileFor("Sa[les")));
}

// ---- Removal ----

TEST_F(ScriptedInstaller, RemoveReportsTheInstallersAnswerAndKeepsTheFileOfARefusedOne)
{
    WriteFileBytes(dsnDir.FileFor("Sales"), "[ODBC]\r\nDSN=Sales\r\n");
    standin.SetResult("SQLRemoveDSNFromIni", 0, FALSE);
    EXPECT_EQ(module.ConfigDSN(ODBC_REMOVE_DSN, {"DSN=Sales"}), FALSE);
    EXPECT_EQ(standin.Calls(), (Calls{Valid("Sales"), Remove("Sales")}));
    EXPECT_TRUE(FileExists(dsnDir.FileFor("Sales")));

    standin.Reset();
    EXPECT_EQ(module.ConfigDSN(ODBC_REMOVE_DSN, {"DSN=Sales", "DBQ=C:\\Data"}), TRUE);
    EXPECT_EQ(standin.Calls(), (Calls{Valid("Sales"), Remove("Sales")}));
    EXPECT_FALSE(FileExists(dsnDir.FileFor("Sales")));
}

TEST_F(ScriptedInstaller, RemoveOfNoNameOrNotADataSourceNameFailsWithoutAskingToRemove)
{
    // Installer sections (any case), registry paths and names that are not
    // text in the code page never reach the removal.
    WriteFileBytes(dsnDir.FileFor("Sales"), "[ODBC]\r\nDSN=Sales\r\n");
    for (const auto& list :
         {AttributeList({}), AttributeList({"DSN="}), AttributeList({"DBQ=C:\\Data"}),
          AttributeList({"DSN=ODBC Data Sources"}), AttributeList({"DSN=ODBC Data Sources\\"}),
          AttributeList({"DSN=odbc file dsn"}), AttributeList({"DSN=Odbc"}),
          AttributeList({"DSN=Sales\\"}), AttributeList({"DSN=Sales\\x"})}) {
        SCOPED_TRACE(list.c_str());
        standin.Reset();
        EXPECT_EQ(module.ConfigDSN(nullptr, ODBC_REMOVE_DSN, kDriver, list), FALSE);
        for (const auto& call : standin.Calls()) EXPECT_EQ(call.rfind("SQLRemove", 0), std::string::npos);
    }
    standin.Reset();
    standin.SetResult("SQLValidDSN", 0, FALSE);
    EXPECT_EQ(module.ConfigDSN(ODBC_REMOVE_DSN, {"DSN=Sales"}), FALSE);
    EXPECT_EQ(standin.Calls(), Calls{Valid("Sales")});
    EXPECT_TRUE(FileExists(dsnDir.FileFor("Sales")));
}

} // namespace
