// The registry access the tests, the stand-ins and the tools share: open or
// create a key, read and write a value, delete a key with all below it, and
// a value saved on entry and put back on exit. Results are reported, never
// thrown; callers that must succeed check them.
#pragma once

#include "afx/Handles.h"

#include <windows.h>

#include <cstring>
#include <optional>
#include <string>
#include <utility>

namespace reg {

// A value as stored: its type and its bytes.
using Raw = std::pair<DWORD, std::string>;

// The key opened for `access`; empty when it cannot be opened.
inline afx::UniqueRegKey Open(HKEY root, const std::string& key, REGSAM access = KEY_QUERY_VALUE)
{
    afx::UniqueRegKey handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, access, handle.put()) != ERROR_SUCCESS) handle.reset();
    return handle;
}

// The key opened for writing, created with the keys above it if missing;
// empty when that fails.
inline afx::UniqueRegKey Create(HKEY root, const std::string& key)
{
    afx::UniqueRegKey handle;
    if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, handle.put(),
                        nullptr) != ERROR_SUCCESS)
        handle.reset();
    return handle;
}

inline afx::UniqueRegKey Create(HKEY root, const std::wstring& key)
{
    afx::UniqueRegKey handle;
    if (RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, handle.put(),
                        nullptr) != ERROR_SUCCESS)
        handle.reset();
    return handle;
}

inline std::optional<Raw> ReadRaw(HKEY key, const char* name)
{
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    std::string data(size, '\0');
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    data.resize(size);
    return Raw(type, data);
}

inline std::optional<Raw> ReadRaw(HKEY root, const std::string& key, const char* name)
{
    const afx::UniqueRegKey handle = Open(root, key);
    return handle ? ReadRaw(handle.get(), name) : std::nullopt;
}

// A value's text, up to its first terminator (stored ones may lack it).
inline std::optional<std::string> ReadString(HKEY root, const std::string& key, const char* name)
{
    auto raw = ReadRaw(root, key, name);
    if (!raw) return std::nullopt;
    raw->second.resize(strnlen(raw->second.c_str(), raw->second.size()));
    return raw->second;
}

inline bool WriteRaw(HKEY key, const char* name, DWORD type, const std::string& bytes)
{
    return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                          static_cast<DWORD>(bytes.size())) == ERROR_SUCCESS;
}

// A REG_SZ value (terminator included), the key created if missing.
inline bool SetString(HKEY root, const std::string& key, const char* name, const std::string& value)
{
    const afx::UniqueRegKey handle = Create(root, key);
    return handle && WriteRaw(handle.get(), name, REG_SZ, value + std::string(1, '\0'));
}

inline bool SetString(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value)
{
    const afx::UniqueRegKey handle = Create(root, key);
    return handle && RegSetValueExW(handle.get(), name, 0, REG_SZ,
                                    reinterpret_cast<const BYTE*>(value.c_str()),
                                    static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) ==
                         ERROR_SUCCESS;
}

inline void DeleteValue(HKEY root, const std::string& key, const char* name)
{
    if (const afx::UniqueRegKey handle = Open(root, key, KEY_SET_VALUE))
        RegDeleteValueA(handle.get(), name);
}

// The key and everything below it.
inline void DeleteTree(HKEY root, const std::string& key)
{
    RegDeleteTreeA(root, key.c_str());
    RegDeleteKeyA(root, key.c_str());
}

inline void DeleteTree(HKEY root, const std::wstring& key)
{
    RegDeleteTreeW(root, key.c_str());
    RegDeleteKeyW(root, key.c_str());
}

// One value as it was on construction, put back (or removed again, if it was
// absent) on destruction, whatever was written in between.
class SavedValue {
public:
    SavedValue(HKEY root, std::string key, const char* name)
        : m_root(root), m_key(std::move(key)), m_name(name ? name : ""), m_named(name != nullptr),
          m_saved(ReadRaw(m_root, m_key, Name()))
    {}
    ~SavedValue() { Restore(); }
    SavedValue(const SavedValue&) = delete;
    SavedValue& operator=(const SavedValue&) = delete;

    const std::optional<Raw>& Saved() const { return m_saved; }

    void Restore() const
    {
        const afx::UniqueRegKey handle = Create(m_root, m_key);
        if (!handle) return;
        if (m_saved) WriteRaw(handle.get(), Name(), m_saved->first, m_saved->second);
        else RegDeleteValueA(handle.get(), Name());
    }

private:
    const char* Name() const { return m_named ? m_name.c_str() : nullptr; }

    HKEY m_root;
    std::string m_key, m_name;
    bool m_named;
    std::optional<Raw> m_saved;
};

// Under Xvfb there is no window manager, and Wine waits two seconds for one
// whenever a managed window is hidden or destroyed: makes the windows of
// program `exe` (this program when null) unmanaged (Wine's per-program
// setting). It is read when the display driver loads, so call it before the
// program's first window, e.g. from a static object.
inline void UseUnmanagedWindows(const char* exe = nullptr)
{
    std::string name;
    if (exe) {
        name = exe;
    } else {
        char path[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, path, MAX_PATH);
        name = path;
        name = name.substr(name.find_last_of('\\') + 1);
    }
    SetString(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\" + name + "\\X11 Driver", "Managed", "N");
}

} // namespace reg
