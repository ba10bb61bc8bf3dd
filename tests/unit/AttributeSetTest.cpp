// The attribute set built from a ConfigDSN attribute list: parsing, the typed
// options decoded from the texts, the setters and the name-change rule.
#include "InstallerUnderTest.h"
#include "core/DSNAttributes.h"

#include <gtest/gtest.h>

using bktest::AttributeList;

namespace {

CDSNAttributes Parse(std::initializer_list<std::string> elements, const char* driver = "Drv")
{
    const std::string list = AttributeList(elements);
    return CDSNAttributes(driver, list.c_str());
}

std::string Value(const CDSNAttributes& set, int index) { return set.Attributes().at(index).strValue.str(); }
bool Supplied(const CDSNAttributes& set, int index) { return set.Attributes().at(index).bModified; }

TEST(AttributeSet, KeyNamesComeFromTheStringTableInIndexOrder)
{
    const CDSNAttributes set("Drv", "\0");
    std::vector<std::string> keys;
    for (const auto& [index, entry] : set.Attributes()) keys.push_back(entry.strKey.str());
    EXPECT_EQ(keys, (std::vector<std::string>{"DSN", "DBQ", "MaxColSupport", "ShortenNames",
                                               "StandardMode", "DictionaryMode", "DatabaseType"}));
}

TEST(AttributeSet, EmptyListGivesEmptyUnsuppliedValuesAndDefaultOptions)
{
    for (const char* list : {"\0", static_cast<const char*>(nullptr)}) {
        const CDSNAttributes set("Drv", list);
        for (const auto& [index, entry] : set.Attributes()) {
            EXPECT_TRUE(entry.strValue.IsEmpty()) << index;
            EXPECT_FALSE(entry.bModified) << index;
        }
        EXPECT_FALSE(set.GetMaxColSupport());
        EXPECT_FALSE(set.GetShortenNames());
        EXPECT_EQ(set.GetNamingMode(), namingCustom);
        EXPECT_EQ(set.GetDatabaseType(), dbAccounting);
        EXPECT_TRUE(set.InitialName().IsEmpty());
    }
    EXPECT_TRUE(CDSNAttributes(nullptr, "\0").Driver().IsEmpty());
}

TEST(AttributeSet, KeysMatchCaseInsensitivelyButBlanksAreKept)
{
    const auto set = Parse({"dbq=C:\\Data", " MaxColSupport=600", "ShortenNames =1", "Unknown=x"});
    EXPECT_EQ(Value(set, attrDBQ), "C:\\Data");
    EXPECT_TRUE(Supplied(set, attrDBQ));
    EXPECT_EQ(set.Attributes().at(attrDBQ).strKey.str(), "DBQ");
    EXPECT_FALSE(Supplied(set, attrMaxColSupport));
    EXPECT_FALSE(Supplied(set, attrShortenNames));
}

TEST(AttributeSet, ElementsWithoutKeyOrEqualsAreIgnoredAndValuesKeepFurtherEquals)
{
    const auto set = Parse({"DSN", "=Sales", "DBQ=a=b= c ", "DSN=Payroll"});
    EXPECT_EQ(Value(set, attrDBQ), "a=b= c ");
    EXPECT_EQ(Value(set, attrDSN), "Payroll");
    EXPECT_EQ(set.InitialName().str(), "Payroll");
}

TEST(AttributeSet, LastOccurrenceWinsAndEmptyNameIsSupplied)
{
    const auto twice = Parse({"DSN=First", "DSN=Second"});
    EXPECT_EQ(twice.GetDataSourceName().str(), "Second");
    EXPECT_EQ(twice.InitialName().str(), "Second");

    const auto empty = Parse({"DSN="});
    EXPECT_TRUE(empty.GetDataSourceName().IsEmpty());
    EXPECT_TRUE(empty.InitialName().IsEmpty());
    EXPECT_TRUE(Supplied(empty, attrDSN));
}

TEST(AttributeSet, OptionsAreDecodedLikeAtoi)
{
    struct Case { const char* maxCol; bool on; } maxCols[] = {
        {"500", false}, {"501", true}, {"1536", true}, {"600abc", true}, {"abc", false},
        {" 900", true}, {"+700", true}, {"-900", false}, {"", false}};
    for (const auto& c : maxCols)
        EXPECT_EQ(Parse({std::string("MaxColSupport=") + c.maxCol}).GetMaxColSupport(), c.on)
            << c.maxCol;

    EXPECT_TRUE(Parse({"ShortenNames=01"}).GetShortenNames());
    EXPECT_FALSE(Parse({"ShortenNames=yes"}).GetShortenNames());
    EXPECT_FALSE(Parse({"ShortenNames=2"}).GetShortenNames());

    EXPECT_EQ(Parse({"StandardMode=1", "DictionaryMode=1"}).GetNamingMode(), namingStandard);
    EXPECT_EQ(Parse({"StandardMode=0", "DictionaryMode=1"}).GetNamingMode(), namingDictionary);
    EXPECT_EQ(Parse({"StandardMode=2", "DictionaryMode=2"}).GetNamingMode(), namingCustom);

    EXPECT_EQ(Parse({"DatabaseType=02"}).GetDatabaseType(), dbEstimating);
    EXPECT_EQ(Parse({"DatabaseType=3"}).GetDatabaseType(), dbAccounting);
    EXPECT_EQ(Parse({"DatabaseType="}).GetDatabaseType(), dbAccounting);
}

TEST(AttributeSet, SettersWriteFixedTextsAndMarkSupplied)
{
    auto set = Parse({"MaxColSupport=900"});
    set.SetMaxColSupport(true);
    EXPECT_EQ(Value(set, attrMaxColSupport), "1536");
    set.SetMaxColSupport(false);
    EXPECT_EQ(Value(set, attrMaxColSupport), "255");
    EXPECT_FALSE(set.GetMaxColSupport());

    set.SetShortenNames(true);
    EXPECT_EQ(Value(set, attrShortenNames), "1");
    EXPECT_TRUE(Supplied(set, attrShortenNames));
    set.SetShortenNames(false);
    EXPECT_EQ(Value(set, attrShortenNames), "0");

    set.SetDatabaseType(dbEstimating);
    EXPECT_EQ(Value(set, attrDatabaseType), "2");
    set.SetDatabaseType(7);
    EXPECT_EQ(Value(set, attrDatabaseType), "1");
    EXPECT_EQ(set.GetDatabaseType(), 7);

    set.SetDataFolder("D:\\Books");
    EXPECT_EQ(set.GetDataFolder().str(), "D:\\Books");
    EXPECT_TRUE(Supplied(set, attrDBQ));
}

TEST(AttributeSet, NamingModeSetsBothTextsAndUnknownModesKeepThem)
{
    auto set = Parse({"StandardMode=7", "DictionaryMode=8"});
    set.SetNamingMode(5);
    EXPECT_EQ(Value(set, attrStandardMode), "7");
    EXPECT_EQ(Value(set, attrDictionaryMode), "8");
    EXPECT_EQ(set.GetNamingMode(), 5);

    auto fresh = Parse({});
    fresh.SetNamingMode(-1);
    EXPECT_TRUE(Supplied(fresh, attrStandardMode));
    EXPECT_TRUE(Supplied(fresh, attrDictionaryMode));

    const std::pair<int, std::pair<const char*, const char*>> modes[] = {
        {namingCustom, {"0", "0"}}, {namingStandard, {"1", "0"}}, {namingDictionary, {"0", "1"}}};
    for (const auto& [mode, texts] : modes) {
        set.SetNamingMode(mode);
        EXPECT_EQ(Value(set, attrStandardMode), texts.first) << mode;
        EXPECT_EQ(Value(set, attrDictionaryMode), texts.second) << mode;
    }
}

TEST(AttributeSet, RenamingLeavesTheInitialNameAndIgnoresCase)
{
    auto set = Parse({"DSN=Payroll"});
    EXPECT_FALSE(set.IsNameChanged());
    set.SetDataSourceName("PAYROLL");
    EXPECT_FALSE(set.IsNameChanged());
    EXPECT_FALSE(Supplied(Parse({}), attrDSN));
    set.SetDataSourceName("Payroll2");
    EXPECT_TRUE(set.IsNameChanged());
    EXPECT_EQ(set.InitialName().str(), "Payroll");

    auto unnamed = Parse({});
    unnamed.SetDataSourceName("New");
    EXPECT_TRUE(unnamed.IsNameChanged());
    EXPECT_FALSE(Supplied(unnamed, attrDSN));
}

} // namespace
