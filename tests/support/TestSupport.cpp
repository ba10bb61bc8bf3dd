#include "TestSupport.h"

#include "afx/Handles.h"

#include <gtest/gtest.h>

#include <algorithm>
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

std::string AttributeList(std::initializer_list<std::string> elements)
{
    std::string list;
    for (const auto& e : elements) list.append(e).push_back('\0');
    list.push_back('\0');
    return list;
}

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

std::optional<std::string> ReadString(HKEY root, const std::string& key, const char* value)
{
    afx::UniqueRegKey handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE, handle.put()) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(handle.get(), value, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    std::string data(size, '\0');
    if (RegQueryValueExA(handle.get(), value, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]),
                         &size) != ERROR_SUCCESS)
        return std::nullopt;
    data.resize(strnlen(data.c_str(), size));
    return data;
}

bool KeyExists(HKEY root, const std::string& key)
{
    afx::UniqueRegKey handle;
    return RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE, handle.put()) == ERROR_SUCCESS;
}

void DeleteTree(HKEY root, const std::string& key)
{
    RegDeleteTreeA(root, key.c_str());
    RegDeleteKeyA(root, key.c_str());
}

std::vector<std::string> ValueNames(HKEY root, const std::string& key)
{
    std::vector<std::string> names;
    afx::UniqueRegKey handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE, handle.put()) != ERROR_SUCCESS)
        return names;
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
    afx::UniqueRegKey handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE, handle.put()) != ERROR_SUCCESS)
        return values;
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

std::string UserDsnKey(const std::string& dsn) { return "Software\\ODBC\\ODBC.INI\\" + dsn; }
std::string MachineDsnKey(const std::string& dsn) { return "Software\\ODBC\\ODBC.INI\\" + dsn; }

void ForgetDataSource(const std::string& dsn)
{
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        DeleteTree(root, "Software\\ODBC\\ODBC.INI\\" + dsn);
        afx::UniqueRegKey sources;
        if (RegOpenKeyExA(root, "Software\\ODBC\\ODBC.INI\\ODBC Data Sources", 0, KEY_SET_VALUE,
                          sources.put()) == ERROR_SUCCESS)
            RegDeleteValueA(sources.get(), dsn.c_str());
    }
}

std::optional<std::string> Registration(const std::string& dsn)
{
    return ReadString(HKEY_LOCAL_MACHINE, "Software\\ODBC\\ODBC.INI\\ODBC Data Sources",
                      dsn.c_str());
}

StoredEntry ReadEntry(const std::string& dsn)
{
    return {Registration(dsn), Values(HKEY_LOCAL_MACHINE, MachineDsnKey(dsn)),
            Values(HKEY_CURRENT_USER, UserDsnKey(dsn))};
}

void PrintTo(const StoredEntry& entry, std::ostream* out)
{
    *out << "{registration " << ::testing::PrintToString(entry.registration) << ", machine "
         << ::testing::PrintToString(entry.machine) << ", user "
         << ::testing::PrintToString(entry.user) << "}";
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
const std::string kDriverKey = std::string("Software\\ODBC\\ODBCINST.INI\\") + kDriver;

void SetDriverValues()
{
    afx::UniqueRegKey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kDriverKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    const std::string path = ScopedDriverRegistration::ModulePath();
    for (const char* name : {"Setup", "Driver"})
        ASSERT_EQ(RegSetValueExA(key.get(), name, 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(path.c_str()),
                                 static_cast<DWORD>(path.size() + 1)),
                  ERROR_SUCCESS);
}
} // namespace

ScopedDriverRegistration::ScopedDriverRegistration() { SetDriverValues(); }

ScopedDriverRegistration::~ScopedDriverRegistration()
{
    DeleteTree(HKEY_LOCAL_MACHINE, kDriverKey);
}

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

ScopedDefaultDsnDir::ScopedDefaultDsnDir(Absent)
{
    afx::UniqueRegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kFileDsnKey, 0, KEY_QUERY_VALUE, key.put()) ==
        ERROR_SUCCESS) {
        DWORD type = 0, size = 0;
        if (RegQueryValueExA(key.get(), kDefaultDirValue, nullptr, &type, nullptr, &size) ==
            ERROR_SUCCESS) {
            std::string data(size, '\0');
            RegQueryValueExA(key.get(), kDefaultDirValue, nullptr, &type,
                             reinterpret_cast<BYTE*>(&data[0]), &size);
            m_saved.emplace(type, data);
        }
    }
    afx::UniqueRegKey writable;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kFileDsnKey, 0, KEY_SET_VALUE, writable.put()) ==
        ERROR_SUCCESS)
        RegDeleteValueA(writable.get(), kDefaultDirValue);
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
    afx::UniqueRegKey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kFileDsnKey, 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key.get(), kDefaultDirValue, 0, type,
                             reinterpret_cast<const BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
}

ScopedDefaultDsnDir::~ScopedDefaultDsnDir()
{
    afx::UniqueRegKey key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kFileDsnKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS)
        return;
    if (m_saved)
        RegSetValueExA(key.get(), kDefaultDirValue, 0, m_saved->first,
                       reinterpret_cast<const BYTE*>(m_saved->second.data()),
                       static_cast<DWORD>(m_saved->second.size()));
    else
        RegDeleteValueA(key.get(), kDefaultDirValue);
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

void UseUnmanagedWindows()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string exe = path;
    exe = exe.substr(exe.find_last_of('\\') + 1);
    afx::UniqueRegKey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, ("Software\\Wine\\AppDefaults\\" + exe + "\\X11 Driver").c_str(),
                        0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr) == ERROR_SUCCESS)
        RegSetValueExA(key.get(), "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
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
