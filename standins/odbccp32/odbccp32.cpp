// Stand-in ODBC installer for fault injection: loaded by a test process in
// place of the system's (DLL override), it answers as the test scripts it and
// records every call in order. It keeps a tiny profile of its own so that
// lookups can find what a test put there.
#include "InstallerText.h"

#include <windows.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

struct Script {
    std::map<std::string, std::map<int, int>> results;   // function -> call number -> result
    std::map<std::string, int> calls;                     // function -> calls so far
    std::map<std::string, std::map<std::string, std::string>> profile;  // section -> key -> value
    std::vector<std::string> log;
    int endsAt = 0;   // from this call on (counted over all functions), nothing applies
};

Script& State()
{
    static Script script;
    return script;
}

using standin::CopyOut;
using standin::Text;

// Records the call and gives the scripted answer for it (`fallback` otherwise).
// Past the scripted end of the process every call answers 0 and applies
// nothing: what is stored is what the calls before it left.
int Answer(const char* function, const std::string& arguments, int fallback)
{
    Script& s = State();
    s.log.push_back(std::string(function) + "(" + arguments + ")");
    if (s.endsAt && static_cast<int>(s.log.size()) >= s.endsAt) return 0;
    const int n = ++s.calls[function];
    const auto& byCall = s.results[function];
    if (auto it = byCall.find(n); it != byCall.end()) return it->second;
    if (auto it = byCall.find(0); it != byCall.end()) return it->second;
    return fallback;
}

} // namespace

extern "C" {

BOOL WINAPI SQLValidDSN(LPCSTR dsn)
{
    return Answer("SQLValidDSN", Text(dsn), TRUE);
}

BOOL WINAPI SQLWriteDSNToIni(LPCSTR dsn, LPCSTR driver)
{
    const int result = Answer("SQLWriteDSNToIni", Text(dsn) + "," + Text(driver), TRUE);
    // As the Windows installer documents: an existing section is removed
    // before the new one is created, so its keys are gone.
    if (result && dsn) State().profile[dsn].clear();
    return result;
}

BOOL WINAPI SQLWritePrivateProfileString(LPCSTR section, LPCSTR entry, LPCSTR string,
                                         LPCSTR file)
{
    const int result = Answer("SQLWritePrivateProfileString",
                              Text(section) + "," + Text(entry) + "," + Text(string) + "," + Text(file),
                              TRUE);
    if (result && section && entry && string) State().profile[section][entry] = string;
    return result;
}

int WINAPI SQLGetPrivateProfileString(LPCSTR section, LPCSTR entry, LPCSTR defaultText,
                                      LPSTR buffer, int size, LPCSTR file)
{
    // The stored value (for a null entry: the section's keys, each NUL-ended,
    // and a lone NUL for a section without any) unless scripted.
    std::string value;
    int found = 0;
    const auto& profile = State().profile;
    if (auto sec = profile.find(Text(section)); section && sec != profile.end()) {
        if (!entry) {
            found = 1;
            for (const auto& key : sec->second) value.append(key.first).push_back('\0');
            if (value.empty()) value.push_back('\0');
        } else if (auto key = sec->second.find(entry); key != sec->second.end()) {
            value = key->second;
            found = static_cast<int>(value.size());
        }
    }
    if (!found && defaultText) value = defaultText;
    // A list is cut as the Win32 profile functions cut it.
    const int copied = (entry ? CopyOut : standin::CopyList)(value, buffer, size);
    const int natural = found ? copied : 0;
    return Answer("SQLGetPrivateProfileString",
                  Text(section) + "," + Text(entry) + "," + Text(defaultText) + "," +
                      std::to_string(size) + "," + Text(file),
                  natural);
}

// Recorded only: a request's refusal posts why it failed.
short WINAPI SQLPostInstallerError(DWORD code, LPCSTR text)
{
    Answer("SQLPostInstallerError", std::to_string(code) + "," + Text(text), 0);
    return 0;
}

BOOL WINAPI SQLRemoveDSNFromIni(LPCSTR dsn)
{
    const int result = Answer("SQLRemoveDSNFromIni", Text(dsn), TRUE);
    if (result && dsn) State().profile.erase(dsn);
    return result;
}

// ---- Test hooks ----

// Forgets every script, every recorded call and the profile.
__declspec(dllexport) void Standin_Reset(void)
{
    State() = Script();
}

// The `call`-th call (from 1; 0 for every call) of `function` returns `result`.
__declspec(dllexport) void Standin_SetResult(const char* function, int call, int result)
{
    State().results[function][call] = result;
}

// The process "ends" at the `call`-th installer call (from 1, over all
// functions; 0: never): that call and every later one apply nothing.
__declspec(dllexport) void Standin_EndAt(int call)
{
    State().endsAt = call;
}

// Puts a value into the stand-in's profile (a null entry only creates the section).
__declspec(dllexport) void Standin_SetProfile(const char* section, const char* entry,
                                              const char* value)
{
    auto& sec = State().profile[section];
    if (entry) sec[entry] = value ? value : "";
}

// The stored value of `entry` in `section`, without recording a call: its
// length, or -1 when there is none.
__declspec(dllexport) int Standin_GetProfile(const char* section, const char* entry, char* buffer,
                                             int size)
{
    if (!section || !entry) return -1;
    const auto& profile = State().profile;
    const auto sec = profile.find(section);
    if (sec == profile.end()) return -1;
    const auto key = sec->second.find(entry);
    if (key == sec->second.end()) return -1;
    CopyOut(key->second, buffer, size);
    return static_cast<int>(key->second.size());
}

// The recorded calls, one per line, in order; the length of the whole text.
__declspec(dllexport) int Standin_CallLog(char* buffer, int size)
{
    std::string text;
    for (const auto& line : State().log) text += line + "\n";
    CopyOut(text, buffer, size);
    return static_cast<int>(text.size());
}

}
