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
    if (!m_folder.empty()) {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((m_folder + "\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do DeleteFileA((m_folder + "\\" + found.cFileName).c_str());
            while (FindNextFileA(search, &found));
            FindClose(search);
        }
        RemoveDirectoryA(m_folder.c_str());
    }
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
