// Helpers of the folder chooser tests: the data-folder component stand-in
// registered for a test, bkCommon's xs_logout count, a log of what is sent to
// the shell browser, and test folders. Modal windows are driven with
// dlgtest::DriveModal.
#pragma once

#include "DataFolderStandin.h"
#include "NonCopyable.h"
#include "common/BkCommonStandin.h"

#include <windows.h>
#include <objbase.h>

#include <mutex>
#include <string>
#include <vector>

namespace foldertest {

// Registers the stand-in component machine-wide for the object's lifetime
// and resets its script and records.
class RegisteredComponent : bktest::NonCopyable {
public:
    RegisteredComponent();
    ~RegisteredComponent();

    static DataFolderStandinRecord Record();
};

// The ProgID registered, but its class' server file missing: not creatable.
class UncreatableComponent : bktest::NonCopyable {
public:
    UncreatableComponent();
    ~UncreatableComponent();
};

// A message sent to the shell browser by the code under test or the driver.
struct BrowserMessage {
    UINT message;
    WPARAM wParam;
    std::string text;
    bool fromDriver;    // sent from another thread (the test's driver)
};

// Records, on the thread that creates it, every BFFM_SETSELECTIONA and
// BFFM_SETSTATUSTEXTA (a hook on the calling thread's window procedures).
class BrowserMessageLog : bktest::NonCopyable {
public:
    BrowserMessageLog();
    ~BrowserMessageLog();

    // The messages of one kind, those the driver sent only when asked.
    std::vector<BrowserMessage> Messages(UINT message, bool withDriver = false) const;
    std::vector<std::string> Texts(UINT message, bool withDriver = false) const;

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);
    HHOOK m_hook = nullptr;
    mutable std::mutex m_lock;
    std::vector<BrowserMessage> m_messages;
};

// A folder of C:\bkfolder-tests whose full path has exactly `length`
// characters (nested when needed), created when `create` is set.
std::string TestFolder(char letter, size_t length, bool create = true);

} // namespace foldertest
