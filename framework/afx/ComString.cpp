#include "ComString.h"
#include "Exceptions.h"

#include <cwchar>

BSTR AnsiToBstr(const char* text, int length)
{
    if (!text || length == 0) return nullptr;

    const int count = ::MultiByteToWideChar(CP_THREAD_ACP, 0, text, length, nullptr, 0);
    // A text the code page cannot convert counts 0: nothing to allocate.
    if (count <= 0) return nullptr;

    // With -1 the count includes the terminator, which is not part of a
    // BSTR's length (SysAllocStringLen adds its own).
    const UINT chars = static_cast<UINT>(length == -1 ? count - 1 : count);
    afx::UniqueBstr result(::SysAllocStringLen(nullptr, chars));
    if (!result) return nullptr;

    if (::MultiByteToWideChar(CP_THREAD_ACP, 0, text, length, result.get(), count) != count)
        return nullptr;
    return result.release();
}

void ThrowComError(HRESULT hr)
{
    if (hr == E_OUTOFMEMORY) afx::AfxThrowMemoryException();
    afx::AfxThrowOleException(hr);
}

CBstrHolder::CBstrHolder(const wchar_t* text)
{
    if (!text) return;
    m_bstr.reset(::SysAllocString(text));
    if (!m_bstr) ThrowComError(E_OUTOFMEMORY);
}

CBstrHolder::CBstrHolder(const char* text)
{
    if (!text) return;
    m_bstr.reset(AnsiToBstr(text, -1));
    if (!m_bstr) ThrowComError(E_OUTOFMEMORY);
}

afx::CString BstrToAnsi(const wchar_t* text)
{
    if (!text) return afx::CString();
    const int length = static_cast<int>(std::wcslen(text));
    if (length == 0) return afx::CString();
    const int bytes =
        ::WideCharToMultiByte(CP_THREAD_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return afx::CString();
    std::string narrow(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_THREAD_ACP, 0, text, length, &narrow[0], bytes, nullptr, nullptr);
    return afx::CString(std::move(narrow));
}
