// The property test's generator: requests from small pools of names, keys
// and values, so that requests meet existing entries often; a share of them
// in Unicode, with look-alikes and characters outside the code page.
#pragma once

#include "RequestModel.h"

#include <cstdint>

namespace hostile {

class Random {
public:
    explicit Random(uint64_t seed) : m_state(seed * 2 + 1) {}
    uint32_t Next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 7;
        m_state ^= m_state << 17;
        return static_cast<uint32_t>(m_state >> 11);
    }
    uint32_t Below(uint32_t n) { return Next() % n; }
    bool Chance(uint32_t percent) { return Below(100) < percent; }
    template <typename T> const T& Pick(const std::vector<T>& from) { return from[Below(static_cast<uint32_t>(from.size()))]; }

private:
    uint64_t m_state;
};

inline std::string RandomCase(Random& random, std::string text)
{
    for (char& c : text)
        if (random.Chance(50)) c = static_cast<char>(isupper(static_cast<unsigned char>(c)) ? tolower(c) : toupper(c));
    return text;
}

inline char AnyByte(Random& random) { return static_cast<char>(1 + random.Below(255)); }

inline std::string RandomName(Random& random)
{
    const std::string letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    const std::string plain = letters + "0123456789 ._-$";
    std::string name;
    name += random.Chance(80) ? letters[random.Below(static_cast<uint32_t>(letters.size()))] : AnyByte(random);
    const uint32_t length = random.Chance(90) ? 2 + random.Below(12) : random.Below(34);
    while (name.size() < length) {
        const uint32_t kind = random.Below(100);
        if (kind < 60) name += plain[random.Below(static_cast<uint32_t>(plain.size()))];
        else if (kind < 80) name += AnyByte(random);
        else {   // a double-byte character of code page 932
            name += static_cast<char>(random.Chance(50) ? 0x81 + random.Below(0x1F) : 0xE0 + random.Below(0x1D));
            name += static_cast<char>(random.Chance(50) ? 0x40 + random.Below(0x3F) : 0x80 + random.Below(0x7D));
        }
    }
    return name;
}

inline std::vector<std::string> MakePool(Random& random)
{
    std::vector<std::string> pool = {
        "bkPSales", "BKPSALES", "bkP Pay roll ", "bkPa.b.c", "bkPCOM1",
        "ODBC Data Sources", "odbc data sources\\", "ODBC File DSN", "Odbc File Dsn\\", "ODBC",
        "odbc\\", "oDbC",
        "COM1.x", "lpt9.dsn", "PRN.x", "Aux", "nul .txt", "CON", "conin$.a", "CONOUT$", "Com5 ",
        "LPT1", "COM1.x.y", "con.a.b", "Lpt\xB9.a.b", "com0 .x.y", "CON  .x", "COM1  .x",
        "bkPa|b", "bkPa<b>", "bkP\"q\"", "bkPa/b", "bkPc:x", "bkPline\nx", "bkP\x01",
        "1bkP", " bkP", "bkP[x]", "bkPx;y", std::string(33, 'n'), std::string(32, 'm'),
        "Ab\xE8", "D\x84\n", "D\x85\r", "D\x84\nX", "bkP\x82\xA0", "bkP\x81\x7C", "\xC9t\xE9",
        "bkP\x81",
        // Beside the 260-character bound in the long folder (220 characters).
        "bkPLength20xxxxxxxxx", "bkPLength21xxxxxxxxxx"};
    for (int i = 0; i < 8; ++i) pool.push_back(RandomName(random));
    return pool;
}

inline std::string RandomValue(Random& random)
{
    const uint32_t kind = random.Below(100);
    if (kind < 30)
        return random.Pick(std::vector<std::string>{"0", "1", "2", "01", "02", "1536", "255", "500",
                                                    "501", "-1", " 1", "3x", "x"});
    if (kind < 50) return "C:\\Data\\" + RandomName(random);
    if (kind < 70) {
        std::string value;
        for (uint32_t n = random.Below(30); n > 0; --n) value += AnyByte(random);
        return value;
    }
    if (kind < 80) return "";
    if (kind < 90) return "a=b=" + RandomName(random);
    // Long values: past the dialog's 260 bytes, past 33,279, up to 64 KB.
    const uint32_t length = random.Chance(60) ? 261 + random.Below(4000)
                                              : 33000 + random.Below(65535 - 33000);
    std::string value(length, 'v');
    for (size_t i = 0; i < value.size(); i += 1 + random.Below(97)) value[i] = AnyByte(random);
    return value;
}

inline std::string Element(Random& random, const std::string& key, const std::string& value)
{
    const uint32_t kind = random.Below(100);
    const std::string spelled = RandomCase(random, key);
    if (kind < 88) return spelled + "=" + value;
    if (kind < 92) return (random.Chance(50) ? " " : "") + spelled + (random.Chance(50) ? " " : "\t") + "=" + value;
    if (kind < 96) return spelled + value;   // no "="
    return "=" + value;
}

// Characters inside and outside code pages 1252 and 932: Latin letters with
// marks, Japanese, full- and half-width forms, Cyrillic, a yen sign (a
// backslash's look-alike in 932), a lone surrogate.
const wchar_t kForeign[] = {L'\u015C', L'\u0103', L'\u0117', L'\u00E9', L'\u00C9', L'\u65E5', L'\u30AB',
                            L'\uFF76', L'\u0430', L'\u2013', L'\uFF21', L'\u00A5', L'\xD800'};
// Look-alikes of letters the pool's names hold.
const std::pair<wchar_t, wchar_t> kLookAlikes[] = {{L'S', L'\u015C'}, {L'a', L'\u0103'}, {L'e', L'\u0117'},
                                                   {L'P', L'\uFF30'}, {L'k', L'\u0137'}, {L'l', L'\u013A'}};

// One character of `text` from `from` on replaced by a look-alike or by
// another character, or one inserted.
inline void Mutate(Random& random, std::wstring* text, size_t from)
{
    std::vector<size_t> letters;
    for (size_t i = from; i < text->size(); ++i)
        for (const auto& [letter, lookAlike] : kLookAlikes)
            if ((*text)[i] == letter) letters.push_back(i);
    const wchar_t foreign = kForeign[random.Below(sizeof kForeign / sizeof kForeign[0])];
    if (!letters.empty() && random.Chance(50)) {
        const size_t at = letters[random.Below(static_cast<uint32_t>(letters.size()))];
        for (const auto& [letter, lookAlike] : kLookAlikes)
            if ((*text)[at] == letter) { (*text)[at] = lookAlike; break; }
    } else if (from < text->size() && random.Chance(70)) {
        (*text)[from + random.Below(static_cast<uint32_t>(text->size() - from))] = foreign;
    } else {
        text->insert(from + random.Below(static_cast<uint32_t>(text->size() - from + 1)), 1, foreign);
    }
}

// The request as a Unicode caller makes it: the same text in Unicode, names
// and values sometimes changed by a character inside or outside the code page.
inline void MakeWide(Random& random, Request* request)
{
    request->wide = true;
    request->wideDriver = Widen(request->driver);
    if (random.Chance(3)) Mutate(random, &request->wideDriver, 0);
    for (const auto& element : request->elements) {
        std::wstring wide = Widen(element);
        const size_t equals = wide.find(L'=');
        const bool name = SameAsciiNoCase(element.substr(0, 4), "DSN=");
        if (random.Chance(name ? 40 : 15)) Mutate(random, &wide, equals == std::wstring::npos ? 0 : equals + 1);
        request->wideElements.push_back(wide);
    }
}

inline Request Generate(Random& random, const std::vector<std::string>& pool)
{
    Request request;
    const uint32_t code = random.Below(100);
    // Mostly add, configure and remove; the rest outside the module's 1 to 3.
    request.code = code < 30 ? ODBC_ADD_DSN
                 : code < 55 ? ODBC_CONFIG_DSN
                 : code < 80 ? ODBC_REMOVE_DSN
                 : random.Pick(std::vector<WORD>{0, 4, 5, 6, 7, 8, 0x103, 0x8003, 0xFFFF});
    const uint32_t driver = random.Below(100);
    request.driver = driver < 97 ? kDriver : driver < 99 ? "" : "Other Driver";

    // Mostly the plain names and the random ones, so that configure and
    // remove meet stored entries; the rest from the whole pool.
    const auto name = [&] {
        const uint32_t kind = random.Below(100);
        return kind < 45   ? pool[random.Below(5)]
               : kind < 65 ? pool[pool.size() - 1 - random.Below(8)]
                           : random.Pick(pool);
    };
    const uint32_t names = random.Chance(88) ? 1 : random.Chance(60) ? 2 : 0;
    for (uint32_t i = 0; i < names; ++i) request.elements.push_back(Element(random, "DSN", name()));
    for (uint32_t n = random.Below(5); n > 0; --n) {
        if (random.Chance(90))
            request.elements.push_back(Element(random, kKeyNames[1 + random.Below(6)], RandomValue(random)));
        else
            request.elements.push_back(random.Pick(std::vector<std::string>{"UID=x", "Driver=y", "DSNX=bkPSales", "DESCRIPTION=d"}));
    }
    for (size_t i = request.elements.size(); i > 1; --i)
        std::swap(request.elements[i - 1], request.elements[random.Below(static_cast<uint32_t>(i))]);
    if (random.Chance(1)) request.elements.insert(request.elements.begin() + random.Below(static_cast<uint32_t>(request.elements.size() + 1)), "");
    if (random.Chance(30)) MakeWide(random, &request);
    return request;
}

} // namespace hostile
