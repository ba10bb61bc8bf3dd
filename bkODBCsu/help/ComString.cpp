#include "ComString.h"
#include "../afx/Exceptions.h"

// Placeholder until the COM string routines land.
BSTR AnsiToBstr(const char*, int) { return nullptr; }
void ThrowComError(HRESULT hr)
{
    if (hr == E_OUTOFMEMORY) afx::AfxThrowMemoryException();
    afx::AfxThrowOleException(hr);
}
CBstrHolder::CBstrHolder(const wchar_t*) {}
CBstrHolder::CBstrHolder(const char*) {}
afx::CString BstrToAnsi(const wchar_t*) { return afx::CString(); }
