// The framework string operations whose exact semantics the module relies on,
// and the module's string table as the code loads it.
#include "afx/String.h"
#include "resource.h"

#include <gtest/gtest.h>

using afx::CString;

namespace {

CString Loaded(unsigned id)
{
    CString s("stale");
    s.LoadString(id);
    return s;
}

TEST(String, CompareNoCaseIsWholeStringAndCaseBlind)
{
    EXPECT_EQ(CString("dbq").CompareNoCase("DBQ"), 0);
    EXPECT_NE(CString("DBQ ").CompareNoCase("DBQ"), 0);
    EXPECT_LT(CString("DB").CompareNoCase("DBQ"), 0);
    EXPECT_EQ(CString("").CompareNoCase(nullptr), 0);
}

TEST(String, TrimRemovesTheSixWhiteSpaceCharactersOnly)
{
    CString s(" \t\n\v\f\r Sales Data \r\n\t ");
    s.TrimLeft();
    EXPECT_EQ(s.str(), "Sales Data \r\n\t ");
    s.TrimRight();
    EXPECT_EQ(s.str(), "Sales Data");
    CString blanks("   ");
    EXPECT_TRUE(blanks.TrimLeft().TrimRight().IsEmpty());
    CString other("\xA0x\xA0");
    EXPECT_EQ(other.TrimLeft().TrimRight().str(), "\xA0x\xA0");
}

TEST(String, ReplaceIsPlainTextEverywhere)
{
    CString s("'%s' and %s");
    EXPECT_EQ(s.Replace("%s", "50%s%d"), 2);
    EXPECT_EQ(s.str(), "'50%s%d' and 50%s%d");
    EXPECT_EQ(s.Replace("", "x"), 0);
}

TEST(String, AtoiReadsLikeTheRuntime)
{
    EXPECT_EQ(afx::Atoi("  -12abc"), -12);
    EXPECT_EQ(afx::Atoi("abc"), 0);
    EXPECT_EQ(afx::Atoi(""), 0);
    EXPECT_EQ(afx::Atoi(nullptr), 0);
}

TEST(StringTable, MessagesAreLoadedWhole)
{
    const CString invalid = Loaded(IDS_INVALID_DSN_NAME);
    EXPECT_EQ(invalid.GetLength(), 229);
    EXPECT_EQ(invalid.str(),
              "'%s' cannot be used as a data source name. Make sure that\n"
              "the first character is a letter, that it contains at least\n"
              "one non-blank character, and that it doesn't contain any of\n"
              "the following characters: [ ] { } ( ) ? * = ! @ , ;\\");
    EXPECT_EQ(Loaded(IDS_DSN_EXISTS).str(), "Data source %s already exists.\nOverwrite?");
    EXPECT_EQ(Loaded(IDS_CAPTION).str(), "Brennick Data ODBC Setup");
    EXPECT_EQ(Loaded(IDS_BROWSE_CAPTION).str(), "Select Data Folder");
    EXPECT_EQ(Loaded(IDS_BROWSE_TITLE).str(),
              "Select the folder that contains the Brennick data to be used for this data source.");
}

TEST(StringTable, MissingEntryLeavesAFreshEmptyString)
{
    CString s("stale");
    EXPECT_FALSE(s.LoadString(9));
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_TRUE(Loaded(6000).IsEmpty());
}

} // namespace
