// The unshareable file DSN left beside each data source written: its exact
// bytes, the folder taken from the machine's DefaultDSNDir, and the names and
// folder values that must give no file at all.
#include "InstallerUnderTest.h"
#include "ReadBack.h"

#include <gtest/gtest.h>
#include <odbcinst.h>

using namespace bktest;

namespace {

std::string Content(const std::string& dsn) { return "[ODBC]\r\nDSN=" + dsn + "\r\n"; }

// Where a folder text that is empty (or "C:\") would put the file.
std::string AtDriveRoot(const std::string& dsn) { return "C:\\" + dsn + " (not sharable).DSN"; }

class FileDsn : public DataSourceTest {
protected:
    BOOL Add(const std::string& dsn) { return module.ConfigDSN(ODBC_ADD_DSN, {"DSN=" + dsn}); }
    BOOL Remove(const std::string& dsn) { return module.ConfigDSN(ODBC_REMOVE_DSN, {"DSN=" + dsn}); }
    SetupModule module;
};

TEST_F(FileDsn, WrittenExactlyOverALongerFileAndDeletedOnRemoval)
{
    ScopedDefaultDsnDir dir;
    const std::string dsn = Use("bkTFile"), path = dir.FileFor(dsn);
    ASSERT_TRUE(WriteFileBytes(path, "[ODBC]\r\nDSN=Other\r\nUID=x\r\n" + std::string(1000, 'x')));

    ASSERT_EQ(Add(dsn), TRUE);
    EXPECT_EQ(ReadFileBytes(path), Content(dsn));
    ASSERT_EQ(module.ConfigDSN(ODBC_CONFIG_DSN, {"DSN=" + dsn, "DBQ=C:\\Data"}), TRUE);
    EXPECT_EQ(ReadFileBytes(path), Content(dsn));

    EXPECT_EQ(Remove(dsn), TRUE);
    EXPECT_TRUE(FilesUnder(dir.folder()).empty());
}

TEST_F(FileDsn, WithoutAFolderValueOrKeyNoFileButTheEntryComesAndGoes)
{
    const std::string dsn = Use("bkTNoDir");
    const auto check = [&] {
        ASSERT_EQ(Add(dsn), TRUE);
        EXPECT_EQ(Registration(dsn), kDriver);
        EXPECT_FALSE(FileExists(AtDriveRoot(dsn)));
        EXPECT_EQ(Remove(dsn), TRUE);
        EXPECT_FALSE(Registration(dsn));
    };
    { ScopedDefaultDsnDir none{ScopedDefaultDsnDir::Absent{}}; check(); }
    { ScopedDefaultDsnDir none{ScopedDefaultDsnDir::NoKey{}}; check(); }
}

TEST_F(FileDsn, FolderValueCountsOnlyAsAStringAndOnlyUpToItsFirstNul)
{
    ScopedDefaultDsnDir dir;   // a real folder that a misread value would still reach
    const std::string dsn = Use("bkTValueType");
    struct Case { DWORD type; std::string bytes; bool file; };
    const Case cases[] = {
        {REG_BINARY, dir.folder() + '\0', false},
        {REG_DWORD, std::string("C:\\\0", 4), false},
        {REG_SZ, dir.folder(), true},                                  // no terminating NUL
        {REG_SZ, dir.folder() + '\0' + "\\junk" + '\0', true},          // an embedded NUL
    };
    for (const Case& c : cases) {
        ScopedDefaultDsnDir value(c.type, c.bytes);
        ASSERT_EQ(Add(dsn), TRUE);
        EXPECT_EQ(FilesUnder(dir.folder()),
                  c.file ? std::vector<std::string>{dsn + " (not sharable).DSN"}
                         : std::vector<std::string>{})
            << "type " << c.type;
        EXPECT_FALSE(FileExists(AtDriveRoot(dsn)));
        EXPECT_EQ(Remove(dsn), TRUE);
        EXPECT_TRUE(FilesUnder(dir.folder()).empty());
        DeleteFileA(AtDriveRoot(dsn).c_str());
    }
}

TEST_F(FileDsn, NamesThatAreNoPlainFileNameGetNoFileButTheirEntry)
{
    ScopedDefaultDsnDir dir;
    // Separators, a drive colon or a line break could leave the folder or add
    // lines; "|" and "<" are taken by the installer but refused by the file system.
    ASSERT_TRUE(CreateDirectoryA((dir.folder() + "\\bkTa").c_str(), nullptr));
    for (const std::string name : {"bkTa/b", "bkTc:x", "bkTline\nx", "bkTa|b", "bkTa<b"}) {
        const std::string dsn = Use(name);
        EXPECT_EQ(Add(dsn), TRUE) << dsn;
        EXPECT_EQ(Registration(dsn), kDriver) << dsn;
        const auto files = FilesUnder(dir.folder());
        EXPECT_TRUE(files.empty()) << dsn << ": " << ::testing::PrintToString(files);
        for (const auto& file : files) DeleteFileA((dir.folder() + "\\" + file).c_str());
    }

    // Nor does removal delete the files such names would lead to.
    const std::string below = dir.folder() + "\\bkTa\\b (not sharable).DSN";
    const std::string beside = dir.folder() + "\\x (not sharable).DSN";
    ASSERT_TRUE(WriteFileBytes(below, "keep"));
    ASSERT_TRUE(WriteFileBytes(beside, "keep"));
    EXPECT_EQ(Remove("bkTa/b"), TRUE);
    EXPECT_FALSE(Registration("bkTa/b"));
    Remove(Use("bkTa\\..\\x"));
    EXPECT_TRUE(FileExists(below));
    EXPECT_TRUE(FileExists(beside));
}

TEST_F(FileDsn, RemovalWhereThePathWouldPassTheLengthBoundStillRemovesTheEntry)
{
    // A folder of 250 characters: folder, name and suffix pass 260.
    ScopedDefaultDsnDir dir(REG_SZ, "C:\\" + std::string(247, 'd') + '\0');
    const std::string dsn = Use("bkTLongPath");
    ASSERT_EQ(Add(dsn), TRUE);
    const StoredEntry added = ReadEntry(dsn);
    EXPECT_EQ(Remove(dsn), TRUE);
    EXPECT_EQ(ReadEntry(dsn), AfterRemoval(added));
}

} // namespace
