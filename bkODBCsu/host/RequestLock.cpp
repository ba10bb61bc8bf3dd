#include "RequestLock.h"
#include "Installer.h"

#include <windows.h>
#include <odbcinst.h>
#include <sddl.h>

#include <cstdlib>
#include <string>

namespace host {

namespace {

// One lock for every request of this module, user and system data sources
// alike: a request holds it for milliseconds, so one lock costs nothing that
// locks per name and mode would save, and it needs no name derived from
// text a script supplied. It lives in the machine's namespace because system
// data sources are shared by every session, and one user may run requests
// in several sessions at once.
const wchar_t kLockName[] = L"Global\\bkODBCsu data source requests";

// Anyone may wait for and release the lock (SYNCHRONIZE | MUTANT_QUERY_STATE,
// which is the right to release); only the system and administrators may do
// more. Without it the lock would carry its first creator's default access,
// which other users' requests could not open.
const wchar_t kLockAccess[] = L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100001;;;WD)";

// The text with its one number; the runtime's own formatting would cost the
// module more than everything else in this file.
void Refuse(const char* before, unsigned long number, const char* after)
{
    char digits[16] = {};
    ::_ultoa(number, digits, 10);
    installer::PostError(ODBC_ERROR_REQUEST_FAILED, (std::string(before) + digits + after).c_str());
}

} // namespace

RequestLock::RequestLock() noexcept
{
    afx::UniqueLocalMemory descriptor;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            kLockAccess, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()),
            nullptr))
        attributes.lpSecurityDescriptor = descriptor.get();
    m_mutex.reset(::CreateMutexExW(&attributes, kLockName, 0, SYNCHRONIZE | MUTEX_MODIFY_STATE));
    if (!m_mutex) {
        Refuse("The data source was not changed: the lock that keeps requests on this driver's "
               "data sources apart could not be opened (error ",
               ::GetLastError(), ").");
        return;
    }
    // An abandoned lock is taken like a free one: its holder died, and what
    // it had written is whole key by key.
    const DWORD waited = ::WaitForSingleObject(m_mutex.get(), kRequestLockWaitMs);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
        m_held.reset(m_mutex.get());
        return;
    }
    Refuse("The data source was not changed: another request on this driver's data sources "
           "held them for more than ",
           kRequestLockWaitMs / 1000, " seconds.");
}

} // namespace host
