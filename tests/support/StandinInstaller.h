// The fault-injecting installer stand-in, put in place of the system's for
// the module: loaded by full path before the module's first installer call,
// so that the module's load of "odbccp32.dll" by name finds it already
// loaded. Needs the override odbccp32=n, or Wine hands out its builtin.
#pragma once

#include "afx/Handles.h"

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
    void SetResult(const char* function, int call, int result) const;
    void SetProfile(const char* section, const char* key, const char* value) const;
    std::optional<std::string> Profile(const char* section, const char* key) const;
    // The calls recorded since the last reset, one "Function(arg,...)" each.
    std::vector<std::string> Calls() const;
    void Reset() const { m_reset(); }

private:
    afx::UniqueModule m_module;
    void (*m_reset)() = nullptr;
    void (*m_setResult)(const char*, int, int) = nullptr;
    void (*m_setProfile)(const char*, const char*, const char*) = nullptr;
    int (*m_getProfile)(const char*, const char*, char*, int) = nullptr;
    int (*m_callLog)(char*, int) = nullptr;
};

} // namespace bktest
