// The fault-injecting installer stand-in, put in place of the system's for
// the module: loaded by full path before the module's first installer call,
// so that the module's load of "odbccp32.dll" by name finds it already
// loaded. Needs the override odbccp32=n, or Wine hands out its builtin.
// Below it, the calls it records as the tests expect them.
#pragma once

#include "InstallerUnderTest.h"
#include "afx/Handles.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace bktest {

class StandinInstaller {
public:
    enum class Flavour { Full, Partial };   // Partial lacks SQLRemoveDSNFromIni

    // Loads the stand-in and forgets every earlier script, call and value.
    explicit StandinInstaller(Flavour flavour = Flavour::Full);

    bool loaded() const { return m_reset != nullptr; }
    std::string path() const;

    // The `call`-th call (from 1; 0: every call) of `function` answers `result`.
    void SetResult(const char* function, int call, int result) const { m_setResult(function, call, result); }
    // The process "ends" at the `call`-th installer call (from 1, over all
    // functions): from it on nothing applies and every call answers 0.
    void EndAt(int call) const { m_endAt(call); }
    void SetProfile(const char* section, const char* key, const char* value) const {
        m_setProfile(section, key, value);
    }
    std::optional<std::string> Profile(const char* section, const char* key) const;
    // The calls recorded since the last reset, one "Function(arg,...)" each.
    std::vector<std::string> Calls() const;
    void Reset() const { m_reset(); }

private:
    afx::UniqueModule m_module;
    void (*m_reset)() = nullptr;
    void (*m_setResult)(const char*, int, int) = nullptr;
    void (*m_endAt)(int) = nullptr;
    void (*m_setProfile)(const char*, const char*, const char*) = nullptr;
    int (*m_getProfile)(const char*, const char*, char*, int) = nullptr;
    int (*m_callLog)(char*, int) = nullptr;
};

// ---- The calls the stand-in records, one "Function(arg,...)" each ----

using Calls = std::vector<std::string>;

inline std::string Valid(const std::string& dsn) { return "SQLValidDSN(" + dsn + ")"; }
inline std::string Register(const std::string& dsn) { return "SQLWriteDSNToIni(" + dsn + "," + kDriver + ")"; }
inline std::string Write(const std::string& dsn, const std::string& key, const std::string& value)
{
    return "SQLWritePrivateProfileString(" + dsn + "," + key + "," + value + ",ODBC.INI)";
}
inline std::string Remove(const std::string& dsn) { return "SQLRemoveDSNFromIni(" + dsn + ")"; }

// A read of `key` ("(null)": the section's keys) with an empty default,
// never a null one: an installer may answer 0 for a null default.
inline std::string ProfileRead(const std::string& dsn, const std::string& key, const std::string& file)
{
    return "SQLGetPrivateProfileString(" + dsn + "," + key + ",,260," + file + ")";
}
inline std::string Read(const std::string& dsn, const std::string& key) { return ProfileRead(dsn, key, "ODBC.INI"); }
// The question whether a name is registered for the driver, asked before a write.
inline std::string RegisteredFor(const std::string& dsn) { return Read("ODBC Data Sources", dsn); }
// The lookup of a section's keys, made once when a read answered nothing.
inline std::string List(const std::string& dsn) { return ProfileRead(dsn, "(null)", "ODBC.INI"); }
// The dialog's question whether a new name is taken.
inline std::string Exists(const std::string& dsn) { return ProfileRead(dsn, "(null)", "odbc.ini"); }

// The calls from the first `call` on; none when it was not made.
inline Calls From(const Calls& calls, const std::string& call)
{
    return Calls(std::find(calls.begin(), calls.end(), call), calls.end());
}

} // namespace bktest
