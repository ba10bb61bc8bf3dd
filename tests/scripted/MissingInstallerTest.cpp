// No installer library at all (the override odbccp32= makes its load fail):
// every request fails after the module has told the user, and the load is
// tried again at the next installer call.
#include "InstallerUnderTest.h"
#include "ReadBack.h"
#include "WindowHooks.h"

#include <gtest/gtest.h>
#include <odbcinst.h>

using namespace bktest;

namespace {

class MissingInstaller : public ::testing::Test {
protected:
    void ExpectNotInstalledBox(size_t index)
    {
        ASSERT_GT(boxes.seen().size(), index);
        const SeenBox box = boxes.seen()[index];
        EXPECT_EQ(box.owner, nullptr);
        EXPECT_EQ(box.caption, "ODBC Installer Error");
        EXPECT_EQ(box.text,
                  "The ODBC installer DLL (ODBCCP32.DLL) is not installed on this system.");
    }

    MessageBoxAnswerer boxes;
    SetupModule module;
};

TEST_F(MissingInstaller, SilentAddFailsAfterAnOwnerlessBoxAndRetriesTheLoadNextCall)
{
    ScopedDefaultDsnDir dsnDir;
    EXPECT_EQ(module.ConfigDSN(ODBC_ADD_DSN, {"DSN=Sales", "DBQ=C:\\Data"}), FALSE);
    EXPECT_EQ(boxes.seen().size(), 1u);
    ExpectNotInstalledBox(0);
    EXPECT_FALSE(FileExists(dsnDir.FileFor("Sales")));

    EXPECT_EQ(module.ConfigDSN(ODBC_CONFIG_DSN, {"DSN=Sales", "DBQ=C:\\Data"}), FALSE);
    EXPECT_EQ(boxes.seen().size(), 2u);
    ExpectNotInstalledBox(1);
}

TEST_F(MissingInstaller, RemoveFailsAfterTheBox)
{
    EXPECT_EQ(module.ConfigDSN(ODBC_REMOVE_DSN, {"DSN=Sales"}), FALSE);
    EXPECT_EQ(boxes.seen().size(), 1u);
    ExpectNotInstalledBox(0);
}

} // namespace
