#include "RequestLock.h"
#include "Installer.h"

#include <windows.h>
#include <odbcinst.h>

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
// which other users' requests could not open. In text form
// D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100001;;;WD); kept in the binary form the
// system reads (self-relative, a DACL only), since every request would
// otherwise parse the text again: the installer loads the module anew for each.
alignas(4) const unsigned char kLockAccess[] = {
    // revision 1, control SE_DACL_PRESENT | SE_SELF_RELATIVE, no owner, group or SACL, DACL at 20
    1, 0, 0x04, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 20, 0, 0, 0,
    // ACL revision 2, 72 bytes, 3 entries
    2, 0, 72, 0, 3, 0, 0, 0,
    // allowed, GENERIC_ALL, S-1-5-18 (the system)
    0, 0, 20, 0, 0, 0, 0, 0x10, 1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0,
    // allowed, GENERIC_ALL, S-1-5-32-544 (administrators)
    0, 0, 24, 0, 0, 0, 0, 0x10, 1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0,
    // allowed, SYNCHRONIZE | MUTANT_QUERY_STATE, S-1-1-0 (everyone)
    0, 0, 20, 0, 1, 0, 0x10, 0, 1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0,
};

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
    SECURITY_ATTRIBUTES attributes = {sizeof attributes,
                                      const_cast<unsigned char*>(kLockAccess), FALSE};
    // Made here, the lock is this thread's from its creation: no other
    // request has it open, so there is nothing to wait for.
    ::SetLastError(ERROR_SUCCESS);
    m_mutex.reset(::CreateMutexExW(&attributes, kLockName, CREATE_MUTEX_INITIAL_OWNER,
                                   SYNCHRONIZE | MUTEX_MODIFY_STATE));
    if (!m_mutex) {
        Refuse("The data source was not changed: the lock that keeps requests on this driver's "
               "data sources apart could not be opened (error ",
               ::GetLastError(), ").");
        return;
    }
    if (::GetLastError() != ERROR_ALREADY_EXISTS) {
        m_held.reset(m_mutex.get());
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
