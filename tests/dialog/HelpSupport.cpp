#include "HelpSupport.h"
#include "common/Registry.h"

#include <gtest/gtest.h>
#include <odbcinst.h>

#include <fstream>
#include <sstream>

namespace helptest {

namespace {

const char kControlKey[] =
    "Software\\Classes\\CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32";

void WriteRaw(HKEY key, const char* name, DWORD type, const std::string& bytes)
{
    EXPECT_TRUE(reg::WriteRaw(key, name, type, bytes));
}

} // namespace

std::string FullStandinDir() { return bktest::ProgramDir() + "\\standin-hhctrl-full"; }
std::string NoExportStandinDir() { return bktest::ProgramDir() + "\\standin-hhctrl-noexport"; }

EventLog::EventLog()
{
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    m_path = std::string(temp) + "bkhelp-events-" + std::to_string(GetCurrentProcessId()) + ".txt";
    DeleteFileA(m_path.c_str());
    SetEnvironmentVariableA("BKTEST_EVENT_LOG", m_path.c_str());
}

EventLog::~EventLog()
{
    SetEnvironmentVariableA("BKTEST_EVENT_LOG", nullptr);
    DeleteFileA(m_path.c_str());
}

std::vector<std::string> EventLog::Lines() const
{
    std::vector<std::string> lines;
    std::ifstream file(m_path);
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
}

void EventLog::Clear() const { DeleteFileA(m_path.c_str()); }

void ScopedHelpControlRegistration::Save()
{
    const afx::UniqueRegKey key = reg::Open(HKEY_LOCAL_MACHINE, kControlKey);
    m_keyExisted = bool(key);
    if (!m_keyExisted) return;
    m_saved = reg::ReadRaw(key.get(), nullptr);
    if (auto threading = reg::ReadRaw(key.get(), "ThreadingModel")) m_savedThreading = threading->second;
}

ScopedHelpControlRegistration::ScopedHelpControlRegistration(DWORD type, const std::string& bytes)
{
    Save();
    const afx::UniqueRegKey key = reg::Create(HKEY_LOCAL_MACHINE, kControlKey);
    EXPECT_TRUE(key);
    WriteRaw(key.get(), nullptr, type, bytes);
}

ScopedHelpControlRegistration::ScopedHelpControlRegistration(Unregistered)
{
    Save();
    reg::DeleteTree(HKEY_LOCAL_MACHINE, kControlKey);
}

ScopedHelpControlRegistration ScopedHelpControlRegistration::Text(DWORD type, const std::string& text)
{
    return ScopedHelpControlRegistration(type, text + std::string(1, '\0'));
}

ScopedHelpControlRegistration::~ScopedHelpControlRegistration()
{
    reg::DeleteTree(HKEY_LOCAL_MACHINE, kControlKey);
    if (!m_keyExisted) return;
    const afx::UniqueRegKey key = reg::Create(HKEY_LOCAL_MACHINE, kControlKey);
    if (!key) return;
    if (m_saved) WriteRaw(key.get(), nullptr, m_saved->first, m_saved->second);
    if (m_savedThreading) WriteRaw(key.get(), "ThreadingModel", REG_SZ, *m_savedThreading);
}

ScopedPathsComponent::ScopedPathsComponent(const std::string& answer)
{
    SetEnvironmentVariableA("BKTEST_PATHS_ANSWER", answer.c_str());
    m_module.reset(LoadLibraryA((bktest::ProgramDir() + "\\kvlPaths.dll").c_str()));
    auto registerServer = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(m_module.get(), "DllRegisterServer")));
    EXPECT_TRUE(registerServer) << "kvlPaths.dll did not load";
    if (registerServer) {
        EXPECT_EQ(registerServer(), S_OK);
    }
}

ScopedPathsComponent::~ScopedPathsComponent()
{
    auto unregisterServer = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(m_module.get(), "DllUnregisterServer")));
    if (unregisterServer) unregisterServer();
    SetEnvironmentVariableA("BKTEST_PATHS_ANSWER", nullptr);
}

std::string HelpCall(const std::string& library, const std::string& file, unsigned command,
                     unsigned long long data)
{
    std::ostringstream line;
    line << "hhctrl|" << library << "|0|" << file << "|" << command << "|" << data;
    return line.str();
}

std::vector<std::string> HelpCalls(const std::vector<std::string>& lines)
{
    std::vector<std::string> calls;
    for (const auto& line : lines)
        if (line.rfind("hhctrl|", 0) == 0) calls.push_back(line);
    return calls;
}

void WithDialog(const bktest::SetupModule& module,
                const std::function<void(dlgtest::DialogDriver&)>& script)
{
    const std::string attributes =
        bktest::AttributeList({"DSN=bkTHelp", "DBQ=C:\\Data"});
    const dlgtest::DialogRun run = dlgtest::RunDialog(module, attributes, [&](dlgtest::DialogDriver& d) {
        script(d);
        d.Click(IDCANCEL);
        EXPECT_TRUE(d.WaitClosed());
    }, ODBC_ADD_DSN);
    EXPECT_TRUE(run.shown);
    EXPECT_EQ(run.result, FALSE);
}

} // namespace helptest
