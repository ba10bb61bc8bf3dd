#include "HelpSupport.h"
#include "ReadBack.h"
#include "common/Registry.h"

#include <gtest/gtest.h>
#include <odbcinst.h>

#include <fstream>
#include <sstream>

namespace helptest {

namespace {

const char kControlKey[] =
    "Software\\Classes\\CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32";

} // namespace

std::string FullStandinDir() { return bktest::ProgramDir() + "\\standin-hhctrl-full"; }
std::string NoExportStandinDir() { return bktest::ProgramDir() + "\\standin-hhctrl-noexport"; }

EventLog::EventLog()
{
    m_path = bktest::TempPath("bkhelp-events-", ".txt");
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

ScopedHelpControlRegistration::Saved::Saved()
    : server(HKEY_LOCAL_MACHINE, kControlKey, nullptr),
      threading(HKEY_LOCAL_MACHINE, kControlKey, "ThreadingModel")
{}

ScopedHelpControlRegistration::ScopedHelpControlRegistration()
{
    if (reg::Open(HKEY_LOCAL_MACHINE, kControlKey)) m_saved.emplace();
}

ScopedHelpControlRegistration::ScopedHelpControlRegistration(DWORD type, const std::string& bytes)
    : ScopedHelpControlRegistration()
{
    const afx::UniqueRegKey key = reg::Create(HKEY_LOCAL_MACHINE, kControlKey);
    EXPECT_TRUE(key);
    EXPECT_TRUE(reg::WriteRaw(key.get(), nullptr, type, bytes));
}

ScopedHelpControlRegistration::ScopedHelpControlRegistration(Unregistered) : ScopedHelpControlRegistration()
{
    reg::DeleteTree(HKEY_LOCAL_MACHINE, kControlKey);
}

ScopedHelpControlRegistration ScopedHelpControlRegistration::Text(DWORD type, const std::string& text)
{
    return ScopedHelpControlRegistration(type, text + std::string(1, '\0'));
}

// Whatever a test left in the key goes; m_saved then writes the saved values
// back into a fresh key.
ScopedHelpControlRegistration::~ScopedHelpControlRegistration()
{
    reg::DeleteTree(HKEY_LOCAL_MACHINE, kControlKey);
}

ScopedPathsComponent::ScopedPathsComponent(const std::string& answer)
{
    SetEnvironmentVariableA("BKTEST_PATHS_ANSWER", answer.c_str());
    m_module.reset(LoadLibraryA((bktest::ProgramDir() + "\\kvlPaths.dll").c_str()));
    HRESULT(STDAPICALLTYPE * registerServer)() = nullptr;
    EXPECT_TRUE(bktest::Bind(m_module.get(), "DllRegisterServer", registerServer)) << "kvlPaths.dll did not load";
    if (registerServer) {
        EXPECT_EQ(registerServer(), S_OK);
    }
}

ScopedPathsComponent::~ScopedPathsComponent()
{
    HRESULT(STDAPICALLTYPE * unregisterServer)() = nullptr;
    if (bktest::Bind(m_module.get(), "DllUnregisterServer", unregisterServer)) unregisterServer();
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
