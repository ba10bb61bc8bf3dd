// What a test reads back, in this process's view: registry keys and values
// (single values and deletion: common/Registry.h), files and folders, and a
// private default file-DSN folder for the machine.
#pragma once

#include "NonCopyable.h"
#include "common/Registry.h"

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace bktest {

bool KeyExists(HKEY root, const std::string& key);
// The string values of a key by name (empty when there is no key).
std::map<std::string, std::string> Values(HKEY root, const std::string& key);

std::optional<std::string> ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
// Every file below `folder`, as paths relative to it, sorted.
std::vector<std::string> FilesUnder(const std::string& folder);
// A path in the temporary folder: `prefix`, this process's id, `suffix`.
std::string TempPath(const std::string& prefix, const std::string& suffix = "");

// Gives the machine a default file-DSN folder (a fresh temporary folder, or
// a raw registry value) for the object's lifetime; restores what was there.
class ScopedDefaultDsnDir : NonCopyable {
public:
    ScopedDefaultDsnDir();                                         // a fresh folder
    ScopedDefaultDsnDir(DWORD type, const std::string& bytes);     // a raw value
    struct Absent {};
    explicit ScopedDefaultDsnDir(Absent);                          // no value at all
    struct NoKey {};
    explicit ScopedDefaultDsnDir(NoKey);                           // not even the key
    ~ScopedDefaultDsnDir();

    const std::string& folder() const { return m_folder; }
    std::string FileFor(const std::string& dsn) const {
        return m_folder + "\\" + dsn + " (not sharable).DSN";
    }

private:
    void Set(DWORD type, const std::string& bytes);
    reg::SavedValue m_saved;
    std::string m_folder;
};

} // namespace bktest
