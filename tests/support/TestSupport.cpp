#include "TestSupport.h"

#include "afx/Handles.h"

#include <gtest/gtest.h>

#include <odbcinst.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace bktest {

const char kDriver[] = "Brennick Data Test Driver";

namespace {
const char kFileDsnKey[] = "Software\\ODBC\\ODBC.INI\\ODBC File DSN";
const char kDefaultDirValue[] = "DefaultDSNDir";
}

std::string ProgramDir()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir = path;
    return dir.substr(0, dir.find_last_of('\\'));
}

std::string AttributeList(const std::vector<std::string>& elements)
{
    std::string list;
    for (const auto& e : elements) list.append(e).push_back('\0');
    list.push_back('\0');
    return list;
}

std::wstring AttributeListW(const std::vector<std::wstring>& elements)
{
    std::wstring list;
    for (const auto& e : elements) list.append(e).push_back(L'\0');
    list.push_back(L'\0');
    return list;
}

std::wstring Widen(const std::string& text)
{
    std::wstring wide(text.size(), L'\0');
    wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                                        &wide[0], static_cast<int>(wide.size()))));
    return wide;
}

std::wstring DriverW() { return Widen(kDriver); }

SetupModule::SetupModule()
{
    m_module = LoadLibraryA((ProgramDir() + "\\bkODBCsu.dll").c_str());
    if (!m_module) {
        ADD_FAILURE() << "bkODBCsu.dll did not load, error " << GetLastError();
        return;
    }
    m_configDsn = reinterpret_cast<decltype(m_configDsn)>(
        reinterpret_cast<void*>(GetProcAddress(m_module, "ConfigDSN")));
    if (!m_configDsn) ADD_FAILURE() << "no ConfigDSN export";
    m_configDsnW = reinterpret_cast<decltype(m_configDsnW)>(
        reinterpret_cast<void*>(GetProcAddress(m_module, "ConfigDSNW")));
    if (!m_configDsnW) ADD_FAILURE() << "no ConfigDSNW export";
}

SetupModule::~SetupModule()
{
    if (m_module) FreeLibrary(m_module);
}

BOOL SetupModule::ConfigDSN(HWND parent, WORD request, const char* driver,
                            const std::string& attributes) const
{
    return m_configDsn ? m_configDsn(parent, request, driver, attributes.c_str()) : -1;
}

BOOL SetupModule::ConfigDSNW(HWND parent, WORD request, const wchar_t* driver,
                             const std::wstring& attributes) const
{
    return m_configDsnW ? m_configDsnW(parent, request, driver, attributes.c_str()) : -1;
}

bool KeyExists(HKEY root, const std::string& key) { return bool(reg::Open(root, key)); }

std::vector<std::string> ValueNames(HKEY root, const std::string& key)
{
    std::vector<std::string> names;
    const afx::UniqueRegKey handle = reg::Open(root, key);
    if (!handle) return names;
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD length = sizeof name;
        if (RegEnumValueA(handle.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::map<std::string, std::string> Values(HKEY root, const std::string& key)
{
    std::map<std::string, std::string> values;
    const afx::UniqueRegKey handle = reg::Open(root, key);
    if (!handle) return values;
    std::vector<char> data(64 * 1024);
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD length = sizeof name, size = static_cast<DWORD>(data.size());
        if (RegEnumValueA(handle.get(), i, name, &length, nullptr, nullptr,
                          reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS)
            break;
        values[std::string(name, length)] = std::string(data.data(), strnlen(data.data(), size));
    }
    return values;
}

std::string DsnKey(const std::string& dsn) { return "Software\\ODBC\\ODBC.INI\\" + dsn; }

namespace {
const char kSources[] = "Software\\ODBC\\ODBC.INI\\ODBC Data Sources";
HKEY ScopeHive(Scope scope) { return scope == Scope::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }
} // namespace

HKEY RegistrationHive(Scope scope)
{
    return InstallerUnderTest().splitsEntryAcrossHives ? HKEY_LOCAL_MACHINE : ScopeHive(scope);
}

HKEY KeysHive(Scope scope)
{
    return InstallerUnderTest().splitsEntryAcrossHives ? HKEY_CURRENT_USER : ScopeHive(scope);
}

void ForgetDataSource(const std::string& dsn)
{
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        reg::DeleteTree(root, DsnKey(dsn));
        reg::DeleteValue(root, kSources, dsn.c_str());
    }
}

std::optional<std::string> Registration(const std::string& dsn, Scope scope)
{
    return reg::ReadString(RegistrationHive(scope), kSources, dsn.c_str());
}

// An installer that splits an entry keeps its keyword in the machine's
// section and the module's keys in the user's; else one section holds both.
StoredEntry ReadEntry(const std::string& dsn, Scope scope)
{
    const InstallerFacts& facts = InstallerUnderTest();
    if (facts.splitsEntryAcrossHives)
        return {Registration(dsn, scope), Values(HKEY_LOCAL_MACHINE, DsnKey(dsn)),
                Values(HKEY_CURRENT_USER, DsnKey(dsn))};
    StoredEntry entry;
    entry.registration = Registration(dsn, scope);
    for (auto& [key, value] : Values(ScopeHive(scope), DsnKey(dsn)))
        (key == facts.driverKeyword ? entry.installer : entry.keys)[key] = value;
    return entry;
}

std::map<std::string, std::string> InstallerKeywords(const std::string& library)
{
    return {{InstallerUnderTest().driverKeyword, library}};
}

StoredEntry AfterRemoval(const StoredEntry& stored)
{
    if (!InstallerUnderTest().removalKeepsKeys) return StoredEntry{};
    return {std::nullopt, {}, stored.keys};
}

void PrintTo(const StoredEntry& entry, std::ostream* out)
{
    *out << "{registration " << ::testing::PrintToString(entry.registration) << ", machine "
         << ::testing::PrintToString(entry.installer) << ", user "
         << ::testing::PrintToString(entry.keys) << "}";
}

std::string DataSourceTest::Use(const std::string& dsn)
{
    ForgetDataSource(dsn);
    m_used.push_back(dsn);
    return dsn;
}

void DataSourceTest::TearDown()
{
    for (const auto& dsn : m_used) ForgetDataSource(dsn);
}

std::string ScopedDriverRegistration::ModulePath() { return ProgramDir() + "\\bkODBCsu.dll"; }

namespace {
const char kDriversKey[] = "Software\\ODBC\\ODBCINST.INI\\";
const std::string kDriverKey = kDriversKey + std::string(kDriver);

void SetDriverValues(const std::string& description = kDriver)
{
    const std::string path = ScopedDriverRegistration::ModulePath();
    for (const char* name : {"Setup", "Driver"})
        ASSERT_TRUE(reg::SetString(HKEY_LOCAL_MACHINE, kDriversKey + description, name, path));
}
} // namespace

ScopedDriverRegistration::ScopedDriverRegistration(const std::string& description)
    : m_description(description)
{
    SetDriverValues(description);
}

// Under the contract the test driver stays installed for the whole program.
ScopedDriverRegistration::~ScopedDriverRegistration()
{
    reg::DeleteTree(HKEY_LOCAL_MACHINE, kDriversKey + m_description);
    if (UnderContract() && m_description == kDriver) SetDriverValues();
}

StoredEntry ExpectedEntry(const std::optional<std::string>& driver,
                          const std::map<std::string, std::string>& keys)
{
    StoredEntry entry;
    if (driver) {
        entry.registration = *driver;
        entry.installer = InstallerKeywords(
            reg::ReadString(HKEY_LOCAL_MACHINE, kDriversKey + *driver, "Driver").value_or(""));
    }
    entry.keys = keys;
    return entry;
}

// ---- The installer under test ----

bool UnderContract()
{
    static const bool contract = [] {
        char value[32] = {};
        return GetEnvironmentVariableA("BKTEST_INSTALLER", value, sizeof value) &&
               std::string(value) == "contract";
    }();
    return contract;
}

// Each row names where that installer departs from the documented contract.
const InstallerFacts& InstallerUnderTest()
{
    // name, keyword, split, removal keeps, registration keeps, Driver, wide W only,
    // any driver, refuses remove-default, cut reads as nothing, profile misses registrations
    static const InstallerFacts contract{"contract", "Driver", false, false, false, false, false,
                                         false, false, false, false};
    static const InstallerFacts wine8{"Wine 8", "driver", true, true, true, true, true,
                                      true, true, true, true};
    static const InstallerFacts wine10{"Wine 10", "driver", false, false, false, false, false,
                                       true, true, true, false};
    static const InstallerFacts* const facts = []() -> const InstallerFacts* {
        if (UnderContract()) return &contract;
        using VersionFn = const char*(CDECL*)();
        const auto version = reinterpret_cast<VersionFn>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")));
        const std::string text = version ? version() : "(not Wine)";
        const int major = std::atoi(text.c_str());
        if (major == 8) return &wine8;
        if (major == 10) return &wine10;
        std::fprintf(stderr, "no installer facts for Wine %s: add its row to test support\n",
                     text.c_str());
        std::exit(3);
    }();
    return *facts;
}

namespace {

// The installer library this program's own installer calls go to: the
// system's, or the contract stand-in by full path. Loaded once, kept.
HMODULE InstallerLibrary()
{
    static const HMODULE library = [] {
        if (!UnderContract()) return LoadLibraryA("odbccp32.dll");
        const std::string path = ProgramDir() + "\\standin-contract\\odbccp32.dll";
        HMODULE module = LoadLibraryA(path.c_str());
        char loaded[MAX_PATH] = {};
        GetModuleFileNameA(module, loaded, MAX_PATH);
        // Without the override odbccp32=n Wine hands out its builtin even by full path.
        if (!module || lstrcmpiA(loaded, path.c_str()) != 0) {
            std::fprintf(stderr, "the contract installer %s was not loaded (got \"%s\"): "
                                 "run with WINEDLLOVERRIDES odbccp32=n\n", path.c_str(), loaded);
            std::exit(3);
        }
        return module;
    }();
    return library;
}

// Before any test and before the module can bind the installer: under the
// contract the stand-in is in place and the test driver installed for it
// until the program ends; with Wine's installer the test driver is not
// installed unless a test registers it (also after a contract run that was
// killed before it could clean up).
struct ContractArrangement {
    ContractArrangement() {
        if (!UnderContract()) {
            reg::DeleteTree(HKEY_LOCAL_MACHINE, kDriverKey);
            return;
        }
        InstallerLibrary();
        SetDriverValues();
    }
    ~ContractArrangement() {
        if (UnderContract()) reg::DeleteTree(HKEY_LOCAL_MACHINE, kDriverKey);
    }
} g_contractArrangement;

template <typename Fn>
Fn Bound(const char* name)
{
    const auto function = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(InstallerLibrary(), name)));
    if (!function) {
        std::fprintf(stderr, "the %s installer has no %s\n", InstallerUnderTest().name, name);
        std::exit(3);
    }
    return function;
}

} // namespace

std::optional<std::string> ReadFileBytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {
void RemoveFolder(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName, path = folder + "\\" + name;
            if (name == "." || name == "..") continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveFolder(path);
            else DeleteFileA(path.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}
} // namespace

bool WriteFileBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    return file && file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> FilesUnder(const std::string& folder)
{
    std::vector<std::string> files;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return files;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            for (const auto& inner : FilesUnder(folder + "\\" + name))
                files.push_back(name + "\\" + inner);
        } else {
            files.push_back(name);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(files.begin(), files.end());
    return files;
}

ScopedDefaultDsnDir::ScopedDefaultDsnDir(Absent) : m_saved(HKEY_LOCAL_MACHINE, kFileDsnKey, kDefaultDirValue)
{
    reg::DeleteValue(HKEY_LOCAL_MACHINE, kFileDsnKey, kDefaultDirValue);
}

ScopedDefaultDsnDir::ScopedDefaultDsnDir(NoKey) : ScopedDefaultDsnDir(Absent{})
{
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kFileDsnKey);
}

ScopedDefaultDsnDir::ScopedDefaultDsnDir() : ScopedDefaultDsnDir(Absent{})
{
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    std::ostringstream name;
    name << temp << "bkdsn-" << GetCurrentProcessId() << "-" << GetTickCount();
    m_folder = name.str();
    CreateDirectoryA(m_folder.c_str(), nullptr);
    Set(REG_SZ, m_folder + std::string(1, '\0'));
}

ScopedDefaultDsnDir::ScopedDefaultDsnDir(DWORD type, const std::string& bytes)
    : ScopedDefaultDsnDir(Absent{})
{
    Set(type, bytes);
}

void ScopedDefaultDsnDir::Set(DWORD type, const std::string& bytes)
{
    const afx::UniqueRegKey key = reg::Create(HKEY_LOCAL_MACHINE, kFileDsnKey);
    ASSERT_TRUE(key);
    ASSERT_TRUE(reg::WriteRaw(key.get(), kDefaultDirValue, type, bytes));
}

// The saved value is put back when m_saved goes.
ScopedDefaultDsnDir::~ScopedDefaultDsnDir()
{
    if (!m_folder.empty()) RemoveFolder(m_folder);
}

namespace {
thread_local MessageBoxAnswerer* t_answerer = nullptr;
}

MessageBoxAnswerer::MessageBoxAnswerer(int button) : m_button(button)
{
    t_answerer = this;
    m_hook = SetWindowsHookExA(WH_CBT, Hook, nullptr, GetCurrentThreadId());
}

MessageBoxAnswerer::~MessageBoxAnswerer()
{
    if (m_hook) UnhookWindowsHookEx(m_hook);
    t_answerer = nullptr;
}

std::string WindowText(HWND window)
{
    char text[2048] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

LRESULT CALLBACK MessageBoxAnswerer::Hook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE && t_answerer) {
        HWND box = reinterpret_cast<HWND>(wParam);
        char cls[64] = {};
        GetClassNameA(box, cls, sizeof cls);
        if (std::string(cls) == "#32770" && GetDlgItem(box, 0xFFFF)) {
            t_answerer->m_seen.push_back(
                {GetWindow(box, GW_OWNER), WindowText(box), WindowText(GetDlgItem(box, 0xFFFF))});
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(t_answerer->m_button, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(box, t_answerer->m_button)));
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

namespace {
thread_local WindowWatcher* t_watcher = nullptr;
}

WindowWatcher::WindowWatcher()
{
    t_watcher = this;
    m_hook = SetWindowsHookExA(WH_CBT, Hook, nullptr, GetCurrentThreadId());
}

WindowWatcher::~WindowWatcher()
{
    if (m_hook) UnhookWindowsHookEx(m_hook);
    t_watcher = nullptr;
}

LRESULT CALLBACK WindowWatcher::Hook(int code, WPARAM wParam, LPARAM lParam)
{
    if (t_watcher && (code == HCBT_CREATEWND || code == HCBT_ACTIVATE)) {
        HWND window = reinterpret_cast<HWND>(wParam);
        char cls[64] = {};
        GetClassNameA(window, cls, sizeof cls);
        if (code == HCBT_CREATEWND) t_watcher->m_created.push_back(cls);
        else if (std::string(cls) == "#32770")
            PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (GetTickCount() - start >= timeoutMs) return false;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    }
}

} // namespace bktest

// The installer functions the test programs call, bound at run time to the
// installer under test (the programs do not import odbccp32.dll, so that a
// contract run can put the stand-in in place first).
using bktest::Bound;
extern "C" {

BOOL WINAPI SQLConfigDataSource(HWND parent, WORD request, LPCSTR driver, LPCSTR attributes)
{
    return Bound<decltype(&SQLConfigDataSource)>("SQLConfigDataSource")(parent, request, driver, attributes);
}
BOOL WINAPI SQLConfigDataSourceW(HWND parent, WORD request, LPCWSTR driver, LPCWSTR attributes)
{
    return Bound<decltype(&SQLConfigDataSourceW)>("SQLConfigDataSourceW")(parent, request, driver, attributes);
}
BOOL WINAPI SQLGetConfigMode(UWORD* mode)
{
    return Bound<decltype(&SQLGetConfigMode)>("SQLGetConfigMode")(mode);
}
BOOL WINAPI SQLSetConfigMode(UWORD mode)
{
    return Bound<decltype(&SQLSetConfigMode)>("SQLSetConfigMode")(mode);
}
BOOL WINAPI SQLValidDSN(LPCSTR dsn) { return Bound<decltype(&SQLValidDSN)>("SQLValidDSN")(dsn); }
BOOL WINAPI SQLWriteDSNToIni(LPCSTR dsn, LPCSTR driver)
{
    return Bound<decltype(&SQLWriteDSNToIni)>("SQLWriteDSNToIni")(dsn, driver);
}
BOOL WINAPI SQLRemoveDSNFromIni(LPCSTR dsn)
{
    return Bound<decltype(&SQLRemoveDSNFromIni)>("SQLRemoveDSNFromIni")(dsn);
}
BOOL WINAPI SQLWritePrivateProfileString(LPCSTR section, LPCSTR entry, LPCSTR string, LPCSTR file)
{
    return Bound<decltype(&SQLWritePrivateProfileString)>("SQLWritePrivateProfileString")(
        section, entry, string, file);
}
int WINAPI SQLGetPrivateProfileString(LPCSTR section, LPCSTR entry, LPCSTR defaultText,
                                      LPSTR buffer, int size, LPCSTR file)
{
    return Bound<decltype(&SQLGetPrivateProfileString)>("SQLGetPrivateProfileString")(
        section, entry, defaultText, buffer, size, file);
}
SQLRETURN WINAPI SQLInstallerError(WORD record, DWORD* code, LPSTR text, WORD size, WORD* length)
{
    return Bound<decltype(&SQLInstallerError)>("SQLInstallerError")(record, code, text, size, length);
}

}
