#include "StandinInstaller.h"
#include "InstallerUnderTest.h"

#include <gtest/gtest.h>

#include <sstream>

namespace bktest {

StandinInstaller::StandinInstaller(Flavour flavour)
{
    const std::string file = ProgramDir() + (flavour == Flavour::Full ? "\\standin-full"
                                                                      : "\\standin-partial") +
                             "\\odbccp32.dll";
    m_module.reset(LoadLibraryA(file.c_str()));
    if (!m_module) {
        ADD_FAILURE() << file << " did not load, error " << GetLastError();
        return;
    }
    Bind(m_module.get(), "Standin_SetResult", m_setResult);
    Bind(m_module.get(), "Standin_EndAt", m_endAt);
    Bind(m_module.get(), "Standin_SetProfile", m_setProfile);
    Bind(m_module.get(), "Standin_GetProfile", m_getProfile);
    Bind(m_module.get(), "Standin_CallLog", m_callLog);
    Bind(m_module.get(), "Standin_Reset", m_reset);
    // Without the override Wine loads its builtin even by full path.
    if (!m_reset || !m_setResult || !m_endAt || !m_setProfile || !m_getProfile || !m_callLog) {
        ADD_FAILURE() << "the system's installer was loaded instead of " << file;
        m_reset = nullptr;
        return;
    }
    m_reset();
}

std::string StandinInstaller::path() const
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(m_module.get(), path, MAX_PATH);
    return path;
}

std::optional<std::string> StandinInstaller::Profile(const char* section, const char* key) const
{
    const int length = m_getProfile(section, key, nullptr, 0);
    if (length < 0) return std::nullopt;
    std::string value(static_cast<size_t>(length) + 1, '\0');
    m_getProfile(section, key, &value[0], length + 1);
    value.resize(static_cast<size_t>(length));
    return value;
}

std::vector<std::string> StandinInstaller::Calls() const
{
    std::string text(static_cast<size_t>(m_callLog(nullptr, 0)) + 1, '\0');
    m_callLog(&text[0], static_cast<int>(text.size()));
    std::vector<std::string> calls;
    std::istringstream lines(text.c_str());
    for (std::string line; std::getline(lines, line);) calls.push_back(line);
    return calls;
}

} // namespace bktest
