#include "DSNAttributes.h"
#include "../resource.h"

#include <mbstring.h>
#include <cstring>

using afx::CString;

CDSNAttributes::CDSNAttributes(const char* lpszDriver, const char* lpszAttributes)
    : m_strDriver(lpszDriver)
{
    for (int index = 0; index < attrCount; ++index) {
        Attribute& entry = m_attributes[index];
        entry.strKey.LoadString(IDS_KEY_FIRST + index);
    }
    ParseAttributes(lpszAttributes ? lpszAttributes : "");
}

void CDSNAttributes::ParseAttributes(const char* list)
{
    for (const char* element = list; *element; element += std::strlen(element) + 1) {
        // Multibyte-aware search, so the trail byte of a double-byte character
        // is never taken for "=".
        auto equals = reinterpret_cast<const char*>(
            ::_mbschr(reinterpret_cast<const unsigned char*>(element), '='));
        if (!equals || equals == element) continue;

        const int index = FindKeyIndex(CString(std::string(element, equals)));
        if (index == attrCount) continue;
        const CString value(equals + 1);
        SetValue(index, value);
        if (index == attrDSN) m_strInitialName = value;
    }
    UpdateOptionsFromValues();
}

int CDSNAttributes::FindKeyIndex(const char* key) const
{
    for (const auto& [index, entry] : m_attributes)
        if (entry.strKey.CompareNoCase(key) == 0) return index;
    return attrCount;
}

void CDSNAttributes::UpdateOptionsFromValues()
{
    auto number = [this](int index) { return afx::Atoi(Value(index)); };
    m_bMaxColSupport = number(attrMaxColSupport) > 500;
    m_bShortenNames = number(attrShortenNames) == 1;
    m_nNamingMode = number(attrStandardMode) == 1     ? namingStandard
                    : number(attrDictionaryMode) == 1 ? namingDictionary
                                                      : namingCustom;
    m_nDatabaseType = number(attrDatabaseType) == 2 ? dbEstimating : dbAccounting;
}

void CDSNAttributes::SetValue(int index, const CString& value, bool markModified)
{
    Attribute& entry = m_attributes.at(index);
    entry.strValue = value;
    if (markModified) entry.bModified = true;
}

void CDSNAttributes::SetDataSourceName(const CString& name)
{
    // The name reaches the configuration through the registration, not as a key.
    SetValue(attrDSN, name, false);
}

void CDSNAttributes::SetDataFolder(const CString& path)
{
    SetValue(attrDBQ, path);
}

void CDSNAttributes::SetDatabaseType(int type)
{
    m_nDatabaseType = type;
    SetValue(attrDatabaseType, type == dbEstimating ? "2" : "1");
}

void CDSNAttributes::SetMaxColSupport(bool on)
{
    m_bMaxColSupport = on;
    SetValue(attrMaxColSupport, on ? "1536" : "255");
}

void CDSNAttributes::SetShortenNames(bool on)
{
    m_bShortenNames = on;
    SetValue(attrShortenNames, on ? "1" : "0");
}

void CDSNAttributes::SetNamingMode(int mode)
{
    m_nNamingMode = mode;
    Attribute& standard = m_attributes.at(attrStandardMode);
    Attribute& dictionary = m_attributes.at(attrDictionaryMode);
    switch (mode) {
    case namingCustom: standard.strValue = "0"; dictionary.strValue = "0"; break;
    case namingStandard: standard.strValue = "1"; dictionary.strValue = "0"; break;
    case namingDictionary: standard.strValue = "0"; dictionary.strValue = "1"; break;
    default: break;   // an unknown mode keeps both texts
    }
    standard.bModified = true;
    dictionary.bModified = true;
}

bool CDSNAttributes::IsNameChanged() const
{
    return Value(attrDSN).CompareNoCase(m_strInitialName) != 0;
}
