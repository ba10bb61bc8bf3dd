// Small COM string and error routines shared by the dialog's commands.
#pragma once

#include "Handles.h"
#include "String.h"

// Converts `length` bytes of 8-bit text (-1: up to its NUL) in the thread's
// ANSI code page into a new BSTR the caller owns; null on failure or for a
// null text or a length of 0. Never raises.
BSTR AnsiToBstr(const char* text, int length);

// Raises the framework's exception for a failed HRESULT: the memory exception
// for E_OUTOFMEMORY, the OLE exception otherwise.
[[noreturn]] void ThrowComError(HRESULT hr);

// Owns one BSTR (or null); built from a wide or a narrow string. A null source
// gives null, an empty one an empty non-null BSTR; out of memory raises.
class CBstrHolder {
public:
    CBstrHolder() = default;
    explicit CBstrHolder(const wchar_t* text);
    explicit CBstrHolder(const char* text);

    BSTR get() const noexcept { return m_bstr.get(); }
    // Address for an out-parameter: the held string is freed first.
    BSTR* put() noexcept { return m_bstr.put(); }
    // Address of the held string for an in-and-out parameter: the callee may
    // replace it, and the holder then owns the replacement.
    BSTR* inout() noexcept { return m_bstr.addressof(); }

private:
    afx::UniqueBstr m_bstr;
};

// 8-bit text (thread's ANSI code page) of a wide string; empty for null.
afx::CString BstrToAnsi(const wchar_t* text);
