// Shared helpers of the test programs: the setup module loaded as a caller
// would load it, attribute lists, registry and file read-back, a private
// default file-DSN folder, and an answerer for message boxes.
#pragma once

#include <windows.h>

#include "common/Registry.h"

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
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
std::wstring Widen(const std::string& text);
std::wstring DriverW();

// bkODBCsu.dll, loaded for the object's lifetime, as the installer loads it.
class SetupModule {
public:
    SetupModule();
    ~SetupModule();
    SetupModule(const SetupModule&) = delete;
    SetupModule& operator=(const SetupModule&) = delete;

    HMODULE handle() const { return m_module; }
    BOOL ConfigDSN(HWND parent, WORD request, const char* driver, const std::string& attributes) const;
    BOOL ConfigDSN(WORD request, std::initializer_list<std::string> elements) const {
        return ConfigDSN(nullptr, request, kDriver, AttributeList(elements));
    }
    // The Unicode export; `attributes` as AttributeListW builds it.
    BOOL ConfigDSNW(HWND parent, WORD request, const wchar_t* driver, const std::wstring& attributes) const;

private:
    HMODULE m_module = nullptr;
    BOOL(WINAPI* m_configDsn)(HWND, WORD, LPCSTR, LPCSTR) = nullptr;
    BOOL(WINAPI* m_configDsnW)(HWND, WORD, LPCWSTR, LPCWSTR) = nullptr;
};

// Registry read-back, in this process's view of the registry (single values and
// deletion: reg::ReadString, reg::DeleteTree).
bool KeyExists(HKEY root, const std::string& key);
// The value names of a key, sorted.
std::vector<std::string> ValueNames(HKEY root, const std::string& key);
// The string values of a key by name (empty when there is no key).
std::map<std::string, std::string> Values(HKEY root, const std::string& key);

// ---- The installer under test ----
// A test program runs against Wine's own installer, or (BKTEST_INSTALLER=
// contract, with the override odbccp32=n) against the stand-in that keeps to
// the installer's documented contract, loaded before anything binds the
// installer. What a test may expect of the installer comes from its facts
// here and nowhere else.
bool UnderContract();
// Which data sources a read-back means: the user's or the system's.
enum class Scope { User, System };
// What an installer does, as its departures from the documented contract,
// each by name: the contract stand-in has none. Wine's are chosen by the
// version the running Wine reports (a version without a row of its own
// stops the program), never by probing what the installer does, which
// would follow whatever the module does. PlatformTest pins every fact
// against the installer, so a Wine that mends one shows as that one test.
struct InstallerFacts {
    const char* name;                // for messages: "Wine 8", "Wine 10", "contract"
    const char* driverKeyword;       // the keyword SQLWriteDSNToIni puts into the section
    bool splitsEntryAcrossHives;     // registration in the machine's hive and keys in the
                                     // user's, in every mode; else each scope wholly in its own
    bool removalKeepsKeys;           // SQLRemoveDSNFromIni leaves the section's keys
    bool registrationKeepsKeys;      // SQLWriteDSNToIni of an existing name keeps its keys
    bool loadsDriverNotSetup;        // SQLConfigDataSource loads the library named by Driver
    bool wideNeedsConfigDsnW;        // SQLConfigDataSourceW reaches only a module's ConfigDSNW
    bool registersAnyDriver;         // registers data sources for a driver not installed
    bool refusesRemoveDefault;       // SQLConfigDataSource refuses ODBC_REMOVE_DEFAULT_DSN
    bool cutValueReadsAsNothing;     // a value that does not fit the buffer answers 0, not cut
    bool profileMissesRegistrations; // SQLGetPrivateProfileString reads "ODBC Data Sources" only
                                     // from the user's hive, where this installer keeps none
};
const InstallerFacts& InstallerUnderTest();
// The hive that holds a data source's registration, and the one with the keys the module writes.
HKEY RegistrationHive(Scope scope);
HKEY KeysHive(Scope scope);

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
// What the installer holds for a data source registered for `driver` (none:
// never registered) whose keys the module wrote are `keys`, with the driver's
// library as installed now.
StoredEntry ExpectedEntry(const std::optional<std::string>& driver,
                          const std::map<std::string, std::string>& keys);

// A test that uses data sources: every name taken through Use() is forgotten
// before it is handed out and again when the test ends.
class DataSourceTest : public ::testing::Test {
protected:
    std::string Use(const std::string& dsn);
    void TearDown() override;

private:
    std::vector<std::string> m_used;
};

// Registers kDriver with the installer for the object's lifetime, its Setup
// and Driver values naming the built module (Wine loads the one named by Driver).
// Under the contract the driver stays registered for the whole program, as
// SQLWriteDSNToIni refuses a driver that is not installed.
// Another description can be registered the same way (its Setup and Driver
// naming the module too).
class ScopedDriverRegistration {
public:
    explicit ScopedDriverRegistration(const std::string& description = kDriver);
    ~ScopedDriverRegistration();
    ScopedDriverRegistration(const ScopedDriverRegistration&) = delete;
    ScopedDriverRegistration& operator=(const ScopedDriverRegistration&) = delete;
    static std::string ModulePath();

private:
    std::string m_description;
};

std::optional<std::string> ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
// Every file below `folder`, as paths relative to it, sorted.
std::vector<std::string> FilesUnder(const std::string& folder);

// Gives the machine a default file-DSN folder (a fresh temporary folder, or
// a raw registry value) for the object's lifetime; restores what was there.
class ScopedDefaultDsnDir {
public:
    ScopedDefaultDsnDir();                                         // a fresh folder
    ScopedDefaultDsnDir(DWORD type, const std::string& bytes);     // a raw value
    struct Absent {};
    explicit ScopedDefaultDsnDir(Absent);                          // no value at all
    struct NoKey {};
    explicit ScopedDefaultDsnDir(NoKey);                           // not even the key
    ~ScopedDefaultDsnDir();
    ScopedDefaultDsnDir(const ScopedDefaultDsnDir&) = delete;
    ScopedDefaultDsnDir& operator=(const ScopedDefaultDsnDir&) = delete;

    const std::string& folder() const { return m_folder; }
    std::string FileFor(const std::string& dsn) const {
        return m_folder + "\\" + dsn + " (not sharable).DSN";
    }

private:
    void Set(DWORD type, const std::string& bytes);
    reg::SavedValue m_saved;
    std::string m_folder;
};

// A message box seen by MessageBoxAnswerer.
struct SeenBox {
    HWND owner;
    std::string caption;
    std::string text;
};

// Answers every message box shown on this thread while it lives (a thread
// CBT hook, as Wine's own tests do): records it and presses `button`.
class MessageBoxAnswerer {
public:
    explicit MessageBoxAnswerer(int button = IDOK);
    ~MessageBoxAnswerer();
    MessageBoxAnswerer(const MessageBoxAnswerer&) = delete;
    MessageBoxAnswerer& operator=(const MessageBoxAnswerer&) = delete;

    const std::vector<SeenBox>& seen() const { return m_seen; }
    void answer(int button) { m_button = button; }

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);
    HHOOK m_hook = nullptr;
    int m_button;
    std::vector<SeenBox> m_seen;
};

std::string WindowText(HWND window);

// Watches this thread while it lives (a thread CBT hook): records the class of
// every window created and cancels every dialog that activates, so that a
// dialog that should not appear fails a test instead of blocking it.
class WindowWatcher {
public:
    WindowWatcher();
    ~WindowWatcher();
    WindowWatcher(const WindowWatcher&) = delete;
    WindowWatcher& operator=(const WindowWatcher&) = delete;

    const std::vector<std::string>& created() const { return m_created; }

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);
    HHOOK m_hook = nullptr;
    std::vector<std::string> m_created;
};

// Polls `condition` every 10 ms, pumping this thread's messages, for at
// most `timeoutMs`; true as soon as it holds.
bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = 5000);

} // namespace bktest
