// The COM string and error routines: BSTR building from 8-bit text in the
// thread's code page, the owning holder, and the exception kinds raised.
#include "afx/ComString.h"
#include "afx/Exceptions.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring Wide(BSTR s) { return std::wstring(s, SysStringLen(s)); }

// Puts another locale (and with it another ANSI code page) in force on this
// thread for the object's lifetime.
class ScopedThreadLocale {
public:
    explicit ScopedThreadLocale(LCID lcid) : m_saved(GetThreadLocale()) { SetThreadLocale(lcid); }
    ~ScopedThreadLocale() { SetThreadLocale(m_saved); }

private:
    LCID m_saved;
};

const LCID kRussian = MAKELCID(MAKELANGID(LANG_RUSSIAN, SUBLANG_RUSSIAN_RUSSIA), SORT_DEFAULT);
const LCID kEnglish = MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT);

} // namespace

TEST(AnsiToBstr, NullTextOrZeroLengthGivesNull)
{
    EXPECT_EQ(AnsiToBstr(nullptr, -1), nullptr);
    EXPECT_EQ(AnsiToBstr(nullptr, 5), nullptr);
    EXPECT_EQ(AnsiToBstr("abc", 0), nullptr);
}

TEST(AnsiToBstr, LengthRules)
{
    // -1: up to the terminator, which is not part of the BSTR's length.
    afx::UniqueBstr whole(AnsiToBstr("C:\\Data", -1));
    ASSERT_TRUE(whole);
    EXPECT_EQ(SysStringLen(whole.get()), 7u);
    EXPECT_EQ(Wide(whole.get()), L"C:\\Data");
    EXPECT_EQ(whole.get()[7], L'\0');

    afx::UniqueBstr empty(AnsiToBstr("", -1));
    ASSERT_TRUE(empty) << "an empty text is an empty string, not null";
    EXPECT_EQ(SysStringLen(empty.get()), 0u);

    // An explicit length takes exactly that many bytes, NULs included.
    afx::UniqueBstr prefix(AnsiToBstr("abcdef", 3));
    ASSERT_TRUE(prefix);
    EXPECT_EQ(Wide(prefix.get()), L"abc");
    EXPECT_EQ(prefix.get()[3], L'\0');

    afx::UniqueBstr inner(AnsiToBstr("a\0b", 3));
    ASSERT_TRUE(inner);
    EXPECT_EQ(Wide(inner.get()), std::wstring(L"a\0b", 3));
}

TEST(AnsiToBstr, FollowsTheThreadsCodePage)
{
    // Byte 0xE9 is e-acute in Western code page 1252 and short i in Cyrillic 1251.
    {
        ScopedThreadLocale western(kEnglish);
        afx::UniqueBstr s(AnsiToBstr("\xE9", -1));
        ASSERT_TRUE(s);
        EXPECT_EQ(Wide(s.get()), L"\u00E9");
    }
    {
        ScopedThreadLocale cyrillic(kRussian);
        afx::UniqueBstr s(AnsiToBstr("\xE9", -1));
        ASSERT_TRUE(s);
        EXPECT_EQ(Wide(s.get()), L"\u0439");
        EXPECT_EQ(BstrToAnsi(L"\u0439").str(), "\xE9");
    }
}

TEST(BstrToAnsi, ConvertsAndTreatsNullAsEmpty)
{
    EXPECT_TRUE(BstrToAnsi(nullptr).IsEmpty());
    EXPECT_TRUE(BstrToAnsi(L"").IsEmpty());
    EXPECT_EQ(BstrToAnsi(L"D:\\Brennick\\Data").str(), "D:\\Brennick\\Data");

    ScopedThreadLocale western(kEnglish);
    EXPECT_EQ(BstrToAnsi(L"Caf\u00E9").str(), "Caf\xE9");
    // Round trip of every byte of a single-byte code page that maps.
    std::string bytes;
    for (int c = 0x20; c < 0x80; ++c) bytes.push_back(static_cast<char>(c));
    afx::UniqueBstr wide(AnsiToBstr(bytes.c_str(), -1));
    EXPECT_EQ(BstrToAnsi(wide.get()).str(), bytes);
}

TEST(CBstrHolder, NullEmptyAndText)
{
    EXPECT_EQ(CBstrHolder().get(), nullptr);
    EXPECT_EQ(CBstrHolder(static_cast<const char*>(nullptr)).get(), nullptr);
    EXPECT_EQ(CBstrHolder(static_cast<const wchar_t*>(nullptr)).get(), nullptr);

    CBstrHolder emptyNarrow(""), emptyWide(L"");
    ASSERT_NE(emptyNarrow.get(), nullptr);
    ASSERT_NE(emptyWide.get(), nullptr);
    EXPECT_EQ(SysStringLen(emptyNarrow.get()), 0u);
    EXPECT_EQ(SysStringLen(emptyWide.get()), 0u);

    EXPECT_EQ(Wide(CBstrHolder("bkPath://Help").get()), L"bkPath://Help");
    EXPECT_EQ(Wide(CBstrHolder(L"bkPath://Help").get()), L"bkPath://Help");
}

TEST(ThrowComError, OutOfMemoryAndOtherFailures)
{
    EXPECT_THROW(ThrowComError(E_OUTOFMEMORY), afx::CMemoryException);
    for (HRESULT hr : {E_FAIL, E_NOINTERFACE, REGDB_E_CLASSNOTREG, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)}) {
        try {
            ThrowComError(hr);
            ADD_FAILURE() << "returned";
        } catch (const afx::COleException& e) {
            EXPECT_EQ(e.m_sc, hr);
        } catch (...) {
            ADD_FAILURE() << "not the OLE exception for " << std::hex << hr;
        }
    }
}
