// What the Help tests need around the module: the HTML Help control's
// registration set as a test wants it, the paths component stand-in
// registered and scripted, and the event log both stand-ins append to.
#pragma once

#include "DialogDriver.h"
#include "InstallerUnderTest.h"
#include "NonCopyable.h"
#include "afx/Handles.h"
#include "common/Registry.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace helptest {

// The stand-in HTML Help libraries (built by standins/hhctrl).
std::string FullStandinDir();        // hhctrl.ocx, hhctrl-sz.ocx, hhctrl-expand.ocx
std::string NoExportStandinDir();    // hhctrl.ocx, hhctrl-noexport.ocx: no ordinal 14

// The event log of the stand-ins (BKTEST_EVENT_LOG), one line per event.
class EventLog {
public:
    EventLog();
    ~EventLog();
    std::vector<std::string> Lines() const;
    void Clear() const;

private:
    std::string m_path;
};

// The default value of the HTML Help control's InprocServer32 key, replaced
// for the object's lifetime (machine's classes); restored afterwards.
class ScopedHelpControlRegistration : bktest::NonCopyable {
public:
    ScopedHelpControlRegistration(DWORD type, const std::string& bytes);
    struct Unregistered {};
    explicit ScopedHelpControlRegistration(Unregistered);   // no key at all
    ~ScopedHelpControlRegistration();

    // A REG_SZ / REG_EXPAND_SZ value of `text` with its terminator.
    static ScopedHelpControlRegistration Text(DWORD type, const std::string& text);

private:
    ScopedHelpControlRegistration();
    // The key's two values as they were, put back after the key is gone;
    // nothing when there was no key.
    struct Saved {
        reg::SavedValue server, threading;
        Saved();
    };
    std::optional<Saved> m_saved;
};

// The paths component stand-in, registered for the object's lifetime and
// answering as `answer` says ("path:<text>", "null", "fail").
class ScopedPathsComponent : bktest::NonCopyable {
public:
    explicit ScopedPathsComponent(const std::string& answer);
    ~ScopedPathsComponent();

private:
    afx::UniqueModule m_module;
};

// The record line of an HtmlHelpA call as the stand-in writes it.
std::string HelpCall(const std::string& library, const std::string& file, unsigned command,
                     unsigned long long data);
// Only the lines of HtmlHelpA calls.
std::vector<std::string> HelpCalls(const std::vector<std::string>& lines);

// Opens the configuration dialog on a new data source with a folder, runs
// `script`, then cancels: the dialog's window destruction also calls HTML Help.
void WithDialog(const bktest::SetupModule& module,
                const std::function<void(dlgtest::DialogDriver&)>& script);

} // namespace helptest
