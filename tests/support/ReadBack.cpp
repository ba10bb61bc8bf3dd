#include "ReadBack.h"
#include "OdbcNames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

namespace bktest {

bool KeyExists(HKEY root, const std::string& key) { return bool(reg::Open(root, key)); }

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

bool WriteFileBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    return file && file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

namespace {

const char* const kFileDsnKey = odbc::kFileDsnKey;
const char kDefaultDirValue[] = "DefaultDSNDir";

// The names of the entries of `folder` but "." and "..", each with whether it is a folder.
std::vector<std::pair<std::string, bool>> Entries(const std::string& folder)
{
    std::vector<std::pair<std::string, bool>> entries;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return entries;
    do {
        const std::string name = found.cFileName;
        if (name != "." && name != "..")
            entries.emplace_back(name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return entries;
}

void RemoveFolder(const std::string& folder)
{
    for (const auto& [name, isFolder] : Entries(folder)) {
        const std::string path = folder + "\\" + name;
        if (isFolder) RemoveFolder(path);
        else DeleteFileA(path.c_str());
    }
    RemoveDirectoryA(folder.c_str());
}

} // namespace

std::vector<std::string> FilesUnder(const std::string& folder)
{
    std::vector<std::string> files;
    for (const auto& [name, isFolder] : Entries(folder)) {
        if (!isFolder) files.push_back(name);
        else
            for (const auto& inner : FilesUnder(folder + "\\" + name)) files.push_back(name + "\\" + inner);
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string TempPath(const std::string& prefix, const std::string& suffix)
{
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    return temp + prefix + std::to_string(GetCurrentProcessId()) + suffix;
}

// ---- The private default file-DSN folder ----

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
    m_folder = TempPath("bkdsn-", "-" + std::to_string(GetTickCount()));
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

} // namespace bktest
