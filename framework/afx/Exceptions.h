// The framework layer's two exception kinds. Commands raise them; the dialog
// window procedure's barrier catches them (and anything else), reports the
// failure in a plain message box and keeps the dialog usable.
#pragma once

#include <windows.h>

namespace afx {

class CException {
public:
    virtual ~CException() = default;
    // A short description for the report shown to the user.
    virtual const char* What() const noexcept = 0;
};

// Out of memory.
class CMemoryException : public CException {
public:
    const char* What() const noexcept override { return "Out of memory."; }
};

// A failed COM / OLE call, with its status.
class COleException : public CException {
public:
    explicit COleException(HRESULT sc) noexcept : m_sc(sc) {}
    const char* What() const noexcept override { return "An OLE operation failed."; }
    HRESULT m_sc;
};

[[noreturn]] inline void AfxThrowMemoryException() { throw CMemoryException(); }
[[noreturn]] inline void AfxThrowOleException(HRESULT sc) { throw COleException(sc); }

} // namespace afx
