// One request at a time on the data sources this module keeps, across the
// threads and processes of every user: a request reads what is stored,
// perhaps registers the name again and writes its keys, and another request
// in between would write back a stale value or find the section short.
#pragma once

#include "afx/Handles.h"

namespace host {

// The wait for the lock is bounded, so that a stuck holder cannot hang the
// ODBC Data Source Administrator; a holder that died leaves the lock free.
constexpr unsigned long kRequestLockWaitMs = 5000;

class RequestLock {
public:
    // Takes the lock, waiting at most kRequestLockWaitMs. When it cannot, an
    // installer error says why and the lock is not held: the request must
    // then fail without touching anything.
    RequestLock() noexcept;
    RequestLock(const RequestLock&) = delete;
    RequestLock& operator=(const RequestLock&) = delete;

    explicit operator bool() const noexcept { return static_cast<bool>(m_held); }

private:
    afx::UniqueKernelHandle m_mutex;   // declared first: released after the ownership
    afx::MutexOwnership m_held;
};

} // namespace host
