// The attribute set of one data source for the length of one ConfigDSN call:
// the driver description, the seven attributes as text with a "supplied" mark,
// the name the stored entry had, and four options decoded from the texts.
#pragma once

#include "afx/String.h"

#include <map>

enum AttributeIndex : int {
    attrDSN = 0,
    attrDBQ,
    attrMaxColSupport,
    attrShortenNames,
    attrStandardMode,
    attrDictionaryMode,
    attrDatabaseType,
    attrCount
};

enum NamingMode : int { namingCustom = 0, namingStandard = 1, namingDictionary = 2 };
enum DatabaseType : int { dbAccounting = 1, dbEstimating = 2 };

class CDSNAttributes {
public:
    struct Attribute {
        afx::CString strKey;
        afx::CString strValue;
        bool bModified = false;
    };
    using AttributeMap = std::map<int, Attribute>;

    // lpszAttributes: key=value elements, each ended by a NUL, the list by an
    // empty element. A null pointer is taken as the empty list.
    CDSNAttributes(const char* lpszDriver, const char* lpszAttributes);
    virtual ~CDSNAttributes() = default;

    afx::CString GetDataSourceName() const { return Value(attrDSN); }
    afx::CString GetDataFolder() const { return Value(attrDBQ); }
    int GetDatabaseType() const { return m_nDatabaseType; }
    int GetNamingMode() const { return m_nNamingMode; }
    bool GetMaxColSupport() const { return m_bMaxColSupport; }
    bool GetShortenNames() const { return m_bShortenNames; }

    void SetDataSourceName(const afx::CString& name);
    void SetDataFolder(const afx::CString& path);
    void SetDatabaseType(int type);
    void SetMaxColSupport(bool on);
    void SetShortenNames(bool on);
    void SetNamingMode(int mode);

    bool IsNameChanged() const;

    // Persistence in the ODBC configuration and the unshareable file DSN.
    // Loading fails only when a stored value cannot be read whole: nothing
    // may then be written, or the value would be cut or lost.
    // The dialog's load: every value the caller did not supply, from the stored entry.
    bool LoadDataSource();
    bool IsValidDataSource() const;
    bool DataSourceExists() const;
    bool WriteDataSource();
    bool RemoveDataSource();
    afx::CString GetUnsharedFileDsnPath(const afx::CString& name) const;

    const AttributeMap& Attributes() const { return m_attributes; }
    const afx::CString& Driver() const { return m_strDriver; }
    const afx::CString& InitialName() const { return m_strInitialName; }

private:
    const afx::CString& Value(int index) const { return m_attributes.at(index).strValue; }
    void SetValue(int index, const afx::CString& value, bool markModified = true);
    void ParseAttributes(const char* list);
    int FindKeyIndex(const char* key) const;
    void UpdateOptionsFromValues();
    enum class LoadFor { Dialog, SilentWrite };
    bool LoadStoredValues(LoadFor purpose);
    // The write's carry-over before a registration: every stored key the
    // caller did not supply goes into the write, marked as supplied.
    bool CarryOverStoredValues();
    void WriteUnsharedFileDsn() const;
    void DeleteUnsharedFileDsn(const afx::CString& name) const;

    AttributeMap m_attributes;
    afx::CString m_strDriver;
    afx::CString m_strInitialName;
    int m_nDatabaseType = dbAccounting;
    int m_nNamingMode = namingCustom;
    bool m_bMaxColSupport = false;
    bool m_bShortenNames = false;
};
