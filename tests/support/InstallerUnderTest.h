// The installer under test and the module as it loads it: the setup module
// and the attribute lists it takes, the installer's facts (what it does where
// it departs from its documented contract), where a data source's entry lives
// and what it holds, and the test driver registered for it. The installer
// functions the programs call are bound here to the installer under test.
#pragma once

#include "NonCopyable.h"
#include "common/CodePage.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace bktest {

// The driver description the tests register their data sources under.
extern const char kDriver[];

// The folder of the running test program (where the module and stand-ins are).
std::string ProgramDir();

// key=value elements, each NUL-ended, the list ended by an empty element.
std::string AttributeList(const std::vector<std::string>& elements);
std::wstring AttributeListW(const std::vector<std::wstring>& elements);
// Text of the ANSI code page in Unicode (the default flags); kDriver in Unicode.
using codepage::Widen;
std::wstring DriverW();

// `fn` set to the export `name` of `module`; false when it has none.
template <typename Fn>
bool Bind(HMODULE module, const char* name, Fn& fn)
{
    fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return fn != nullptr;
}

// bkODBCsu.dll, loaded for the object's lifetime, as the installer loads it.
class SetupModule : NonCopyable {
public:
    SetupModule();
    ~SetupModule();

    HMODULE handle() const { return m_module; }
    BOOL ConfigDSN(HWND hwndParent, WORD request, const char* driver, const std::string& attributes) const {
        return m_configDsn ? m_configDsn(hwndParent, request, driver, attributes.c_str()) : -1;
    }
    BOOL ConfigDSN(WORD request, std::initializer_list<std::string> elements) const {
        return ConfigDSN(nullptr, request, kDriver, AttributeList(elements));
    }
    // The Unicode export; `attributes` as AttributeListW builds it.
    BOOL ConfigDSNW(HWND hwndParent, WORD request, const wchar_t* driver, const std::wstring& attributes) const {
        return m_configDsnW ? m_configDsnW(hwndParent, request, driver, attributes.c_str()) : -1;
    }

private:
    HMODULE m_module = nullptr;
    BOOL(WINAPI* m_configDsn)(HWND, WORD, LPCSTR, LPCSTR) = nullptr;
    BOOL(WINAPI* m_configDsnW)(HWND, WORD, LPCWSTR, LPCWSTR) = nullptr;
};

// A test program runs against Wine's own installer, or (BKTEST_INSTALLER=
// contract, with the override odbccp32=n) against the stand-in that keeps to
// the installer's documented contract, loaded before anything binds the
// installer. What a test may expect of the installer comes from its facts
// here and nowhere else.
bool UnderContract();
// Which data sources a read-back means: the user's or the system's.
enum class Scope { User, System };
// What an installer does, as its departures from the documented contract,
// each by name: false is what the contract says, and the contract stand-in
// has no departure. Wine's are chosen by the version the running Wine
// reports (a version without a row of its own stops the program), never by
// probing what the installer does, which would follow whatever the module
// does. PlatformTest pins every fact against the installer, so a Wine that
// mends one shows as that one test. The rows are in InstallerUnderTest.cpp.
struct InstallerFacts {
    const char* name = nullptr;             // for messages: "Wine 8", "Wine 10", "contract"
    const char* driverKeyword = nullptr;    // the keyword SQLWriteDSNToIni puts into the section
    bool splitsEntryAcrossHives = false;    // registration in the machine's hive and keys in the
                                            // user's, in every mode; else each scope wholly in its own
    bool removalKeepsKeys = false;          // SQLRemoveDSNFromIni leaves the section's keys
    bool registrationKeepsKeys = false;     // SQLWriteDSNToIni of an existing name keeps its keys
    bool loadsDriverNotSetup = false;       // SQLConfigDataSource loads the library named by Driver
    bool wideNeedsConfigDsnW = false;       // SQLConfigDataSourceW reaches only a module's ConfigDSNW
    bool registersAnyDriver = false;        // registers data sources for a driver not installed
    bool refusesRemoveDefault = false;      // SQLConfigDataSource refuses ODBC_REMOVE_DEFAULT_DSN
    bool cutValueReadsAsNothing = false;    // a value that does not fit the buffer answers 0, not cut
    bool profileMissesRegistrations = false;// SQLGetPrivateProfileString reads "ODBC Data Sources" only
                                            // from the user's hive, where this installer keeps none
    bool installJoinsEveryFile = false;     // SQLInstallDriverEx joins every file keyword (Driver, Setup) to
                                            // the install folder, one holding a full path too
    bool installKeepsFoundFiles = false;    // SQLInstallDriverEx keeps a file keyword that names a file
                                            // found from the current folder as given (a bare name too),
                                            // and joins any other to the install folder (a full path too)
    bool driverRemovalKeepsDataSources = false; // SQLRemoveDriver asked to remove the data sources leaves them
    bool removesDriverNotInstalled = false; // SQLRemoveDriver of a driver not installed succeeds, count 0
    bool dropsPostedErrors = false;         // SQLPostInstallerError queues nothing for SQLInstallerError
    bool profileMissesDriversInUserMode = false; // SQLGetPrivateProfileString finds no driver of
                                            // ODBCINST.INI in user mode (it looks in the user's hive)
};
const InstallerFacts& InstallerUnderTest();
// The hive that holds a data source's registration.
HKEY RegistrationHive(Scope scope);

// The key path of a data source's section, the same in the user's and the machine's hive.
std::string DsnKey(const std::string& dsn);
// Removes every trace of a data source from both hives.
void ForgetDataSource(const std::string& dsn);
// The driver description a data source is registered with, if it is registered.
std::optional<std::string> Registration(const std::string& dsn, Scope scope = Scope::User);

// What the configuration holds for one data source.
struct StoredEntry {
    std::optional<std::string> registration;        // driver description in "ODBC Data Sources"
    std::map<std::string, std::string> installer;   // the installer's own keyword in the section
    std::map<std::string, std::string> keys;        // the keys the module wrote
    friend bool operator==(const StoredEntry& a, const StoredEntry& b) {
        return a.registration == b.registration && a.installer == b.installer && a.keys == b.keys;
    }
};
StoredEntry ReadEntry(const std::string& dsn, Scope scope = Scope::User);
void PrintTo(const StoredEntry& entry, std::ostream* out);
// The installer's own part of an entry registered for a driver whose library is `library`.
std::map<std::string, std::string> InstallerKeywords(const std::string& library);
// What removing a data source leaves of an entry that held `stored`.
StoredEntry AfterRemoval(const StoredEntry& stored);
// What SQLInstallDriverEx keeps for a file keyword (Driver, Setup) holding
// `value` when it installs in `folder`, `found` telling whether the value
// names a file from the installing process's current folder.
std::string InstalledFile(const std::string& folder, const std::string& value, bool found);

// A test that uses data sources: every name taken through Use() is forgotten
// before it is handed out and again when the test ends.
class DataSourceTest : public ::testing::Test {
protected:
    std::string Use(const std::string& dsn) {
        ForgetDataSource(dsn);
        m_used.push_back(dsn);
        return dsn;
    }
    void TearDown() override { for (const auto& dsn : m_used) ForgetDataSource(dsn); }

private:
    std::vector<std::string> m_used;
};

// Registers a driver description (kDriver unless told) for the object's
// lifetime, its Setup and Driver values naming the built module (Wine loads
// the one named by Driver). Under the contract kDriver stays registered for
// the whole program: SQLWriteDSNToIni refuses a driver that is not installed.
class ScopedDriverRegistration : NonCopyable {
public:
    explicit ScopedDriverRegistration(const std::string& description = kDriver);
    ~ScopedDriverRegistration();
    static std::string ModulePath();

private:
    std::string m_description;
};

} // namespace bktest
