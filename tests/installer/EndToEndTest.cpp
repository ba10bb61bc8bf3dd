// The installer's own way in: with the driver registered, SQLConfigDataSource
// loads the built module for each request and calls its ConfigDSN.
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <odbcinst.h>

#include <functional>
#include <optional>
#include <vector>

using namespace bktest;
using Keys = std::map<std::string, std::string>;

namespace {

// ANSI code page text in Unicode, and back (0 for a character the code page lacks).
std::wstring Wide(const std::string& text)
{
    std::wstring wide(text.size(), L'\0');
    wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                                        &wide[0], static_cast<int>(wide.size()))));
    return wide;
}
std::string Ansi(const std::wstring& text)
{
    BOOL defaulted = FALSE;
    std::string ansi(text.size() * 2, '\0');
    ansi.resize(static_cast<size_t>(WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(),
                                                        static_cast<int>(text.size()), &ansi[0],
                                                        static_cast<int>(ansi.size()), nullptr, &defaulted)));
    return defaulted ? std::string() : ansi;
}

// The installer's 8-bit entry or its wide one, which reaches the module's ConfigDSNW.
enum class Entry { Ansi, Wide };

class EndToEnd : public DataSourceTest {
protected:
    static BOOL Config(WORD request, std::initializer_list<std::string> elements, Entry entry = Entry::Ansi) {
        if (entry == Entry::Ansi)
            return SQLConfigDataSource(nullptr, request, kDriver, AttributeList(elements).c_str());
        std::vector<std::wstring> wide;
        for (const auto& element : elements) wide.push_back(Wide(element));
        return ConfigW(request, wide);
    }
    static BOOL ConfigW(WORD request, const std::vector<std::wstring>& elements,
                        const std::wstring& driver = DriverW()) {
        return SQLConfigDataSourceW(nullptr, request, driver.c_str(), AttributeListW(elements).c_str());
    }
    ScopedDriverRegistration driver;
    ScopedDefaultDsnDir dir;
};

// User requests, then the same through the system requests: ODBC_*_SYS_DSN
// reach the module as 1-3 with the installer in system mode. Under the
// contract a system data source lives wholly in the machine's hive; Wine
// keeps its keys in the user's hive in every mode. Each through the
// installer's 8-bit entry and through its wide one.
TEST_F(EndToEnd, AddConfigureAndRemoveThroughTheInstaller)
{
    struct Case { Scope scope; WORD add, config, remove; Entry entry; };
    for (const Case& c : {Case{Scope::User, ODBC_ADD_DSN, ODBC_CONFIG_DSN, ODBC_REMOVE_DSN, Entry::Ansi},
                          Case{Scope::System, ODBC_ADD_SYS_DSN, ODBC_CONFIG_SYS_DSN, ODBC_REMOVE_SYS_DSN, Entry::Ansi},
                          Case{Scope::User, ODBC_ADD_DSN, ODBC_CONFIG_DSN, ODBC_REMOVE_DSN, Entry::Wide},
                          Case{Scope::System, ODBC_ADD_SYS_DSN, ODBC_CONFIG_SYS_DSN, ODBC_REMOVE_SYS_DSN, Entry::Wide}}) {
        SCOPED_TRACE(std::to_string(c.add) + (c.entry == Entry::Wide ? " wide" : " 8-bit"));
        const Scope other = c.scope == Scope::User ? Scope::System : Scope::User;
        const std::string dsn = Use("bkTEndToEnd"), file = dir.FileFor(dsn);
        ASSERT_EQ(Config(c.add, {"DSN=" + dsn, "DBQ=C:\\Data", "MaxColSupport=1536"}, c.entry), TRUE);
        EXPECT_EQ(ReadEntry(dsn, c.scope),
                  (StoredEntry{kDriver, InstallerKeywords(ScopedDriverRegistration::ModulePath()),
                               {{"DBQ", "C:\\Data"}, {"MaxColSupport", "1536"}}}));
        if (InstallerUnderTest().separatesScopes) {
            EXPECT_EQ(ReadEntry(dsn, other), StoredEntry{});
        }
        EXPECT_EQ(ReadFileBytes(file), "[ODBC]\r\nDSN=" + dsn + "\r\n");

        // The registration empties the section; the configure keeps every stored key.
        ASSERT_EQ(Config(c.config, {"DSN=" + dsn, "ShortenNames=1"}, c.entry), TRUE);
        const StoredEntry configured = ReadEntry(dsn, c.scope);
        EXPECT_EQ(configured.registration, kDriver);
        EXPECT_EQ(configured.user,
                  (Keys{{"DBQ", "C:\\Data"}, {"MaxColSupport", "1536"}, {"ShortenNames", "1"}}));
        if (InstallerUnderTest().separatesScopes) {
            EXPECT_EQ(ReadEntry(dsn, other), StoredEntry{});
        }
        EXPECT_EQ(ReadFileBytes(file), "[ODBC]\r\nDSN=" + dsn + "\r\n");

        ASSERT_EQ(Config(c.remove, {"DSN=" + dsn}, c.entry), TRUE);
        EXPECT_EQ(ReadEntry(dsn, c.scope), AfterRemoval(configured));
        EXPECT_FALSE(FileExists(file));
    }
}

TEST_F(EndToEnd, RefusalsReachTheInstallersCaller)
{
    // A deployment script sees the module's refusal of a name.
    const std::string refused = Use("1bkT");
    EXPECT_EQ(Config(ODBC_ADD_DSN, {"DSN=" + refused}), FALSE);
    EXPECT_EQ(ReadEntry(refused), StoredEntry{});

    // Request 7 never reaches the module, which would have taken it as an
    // add: Wine's installer refuses it, the contract removes the Default data source.
    const std::string dsn = Use("bkTSeven");
    EXPECT_EQ(Config(7, {"DSN=" + dsn}), InstallerUnderTest().removeDefaultAnswer);
    EXPECT_EQ(ReadEntry(dsn), StoredEntry{});
    EXPECT_TRUE(FilesUnder(dir.folder()).empty());
}

// A wide text the code page cannot hold never reaches another data source:
// converted loosely, "\u015Cales" would be "Sales". Every request, through the
// installer's wide entry and through the module's own, fails and leaves the
// existing data source as it was; the same for a look-alike in the driver
// description or in a value.
TEST_F(EndToEnd, WideTextOutsideTheCodePageActsOnNoDataSource)
{
    const std::string dsn = Use("bkTSales");
    ASSERT_EQ(Config(ODBC_ADD_DSN, {"DSN=" + dsn, "DBQ=C:\\Data"}), TRUE);
    const StoredEntry stored = ReadEntry(dsn), storedSystem = ReadEntry(dsn, Scope::System);
    const auto file = ReadFileBytes(dir.FileFor(dsn));
    ASSERT_TRUE(file);

    SetupModule module;
    const std::wstring lookAlike = L"DSN=bkT\u015Cales";
    const struct { WORD request; std::vector<std::wstring> elements; std::wstring driver; } cases[] = {
        {ODBC_REMOVE_DSN, {lookAlike}, DriverW()},
        {ODBC_CONFIG_DSN, {lookAlike, L"ShortenNames=1"}, DriverW()},
        {ODBC_ADD_DSN, {lookAlike, L"DBQ=C:\\Other"}, DriverW()},
        {ODBC_REMOVE_SYS_DSN, {lookAlike}, DriverW()},
        {ODBC_CONFIG_DSN, {L"DSN=bkTSales", L"DBQ=C:\\\u0141\u00F3d\u017A"}, DriverW()},
        {ODBC_REMOVE_DSN, {L"DSN=bkTSales"}, L"Brennick Data T\u0117st Driver"},
        {ODBC_REMOVE_DSN, {L"DSN=bkTSales", L"DBQ=\xD800"}, DriverW()},   // a lone surrogate
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        EXPECT_EQ(ConfigW(c.request, c.elements, c.driver), FALSE);
        const WORD direct = c.request > ODBC_REMOVE_DSN ? c.request - 3 : c.request;
        EXPECT_EQ(module.ConfigDSNW(nullptr, direct, c.driver.c_str(), AttributeListW(c.elements)), FALSE);
        EXPECT_EQ(ReadEntry(dsn), stored);
        EXPECT_EQ(ReadFileBytes(dir.FileFor(dsn)), file);
        EXPECT_EQ(ReadEntry(dsn, Scope::System), storedSystem);
    }
}

// A name inside the code page (Caf\u00E9 under 1252, a Japanese one under 932)
// works through both entries of the installer and of the module, and lands
// identically.
TEST_F(EndToEnd, NameInsideTheCodePageLandsIdenticallyThroughEveryEntry)
{
    const std::wstring name = GetACP() == 932 ? L"bkT\u65E5\u672C" : L"bkTCaf\u00E9";
    const std::string dsn = Use(Ansi(name));
    if (dsn.empty() || (GetACP() != 1252 && GetACP() != 932)) GTEST_SKIP() << "code page " << GetACP();
    const std::vector<std::wstring> elements = {L"DSN=" + name, L"DBQ=C:\\" + name};
    SetupModule module;
    const std::function<BOOL()> entries[] = {
        [&] { return ConfigW(ODBC_ADD_DSN, elements); },
        [&] { return Config(ODBC_ADD_DSN, {"DSN=" + dsn, "DBQ=C:\\" + dsn}); },
        [&] { return module.ConfigDSNW(nullptr, ODBC_ADD_DSN, DriverW().c_str(), AttributeListW(elements)); },
        [&] { return module.ConfigDSN(ODBC_ADD_DSN, {"DSN=" + dsn, "DBQ=C:\\" + dsn}); },
    };
    std::optional<StoredEntry> first;
    for (const auto& add : entries) {
        ForgetDataSource(dsn);
        DeleteFileA(dir.FileFor(dsn).c_str());
        ASSERT_EQ(add(), TRUE);
        const StoredEntry entry = ReadEntry(dsn);
        EXPECT_EQ(entry.user, (Keys{{"DBQ", "C:\\" + dsn}}));
        EXPECT_EQ(ReadFileBytes(dir.FileFor(dsn)), "[ODBC]\r\nDSN=" + dsn + "\r\n");
        if (!first) first = entry;
        EXPECT_EQ(entry, *first);
    }
    ASSERT_EQ(ConfigW(ODBC_REMOVE_DSN, {L"DSN=" + name}), TRUE);
    EXPECT_FALSE(Registration(dsn));
    EXPECT_FALSE(FileExists(dir.FileFor(dsn)));
}

} // namespace
