// An installer library without SQLRemoveDSNFromIni: the functions it has
// work, and the missing one is reported by name with both paths, then fails.
#include "InstallerUnderTest.h"
#include "StandinInstaller.h"
#include "WindowHooks.h"

#include <gtest/gtest.h>
#include <odbcinst.h>

using namespace bktest;

namespace {

class PartialInstaller : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(standin.loaded()); }

    MessageBoxAnswerer boxes;
    StandinInstaller standin{StandinInstaller::Flavour::Partial};
    SetupModule module;
};

TEST_F(PartialInstaller, RemoveNamesTheMissingFunctionTheProgramAndTheLoadedInstaller)
{
    EXPECT_EQ(module.ConfigDSN(ODBC_REMOVE_DSN, {"DSN=Sales"}), FALSE);

    char program[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    ASSERT_EQ(boxes.seen().size(), 1u);
    const SeenBox box = boxes.seen()[0];
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(box.caption, "ODBC Installer Error");
    EXPECT_EQ(box.text, "The program " + std::string(program) +
                            ", or one of its DLLs attempted to call the function "
                            "SQLRemoveDSNFromIni which is not supported in the loaded ODBC "
                            "installer DLL (" + standin.path() + "). Press OK to proceed.");
}

TEST_F(PartialInstaller, TheFunctionsItHasStillWork)
{
    EXPECT_EQ(module.ConfigDSN(ODBC_ADD_DSN, {"DSN=Sales", "DBQ=C:\\Data"}), TRUE);
    EXPECT_EQ(standin.Profile("Sales", "DBQ"), "C:\\Data");
    EXPECT_TRUE(boxes.seen().empty());
}

} // namespace
