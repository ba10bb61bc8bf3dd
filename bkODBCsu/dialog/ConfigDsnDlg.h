// The configuration dialog: edits one attribute set modally. It opens
// collapsed to its upper band, grows downwards once on "Options >>", keeps OK
// enabled only while a name and a folder are present, and on OK copies every
// value into the set, refusing an invalid name and asking before a rename
// overwrites another data source. It never writes the configuration itself.
#pragma once

#include "afx/Dialog.h"
#include "afx/String.h"

#include <windows.h>

class CDSNAttributes;

class CConfigDsnDlg : public afx::CDialog {
public:
    // `pAttributes` is not owned: it belongs to the caller and outlives the dialog.
    CConfigDsnDlg(CDSNAttributes* pAttributes, HWND hwndParent);
    ~CConfigDsnDlg() override;

protected:
    afx::CommandMap GetCommandMap() const override;
    void OnDestroy() override;
    void DoDataExchange(afx::CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;

private:
    void OnOptions();
    void OnSelectFolder();
    void OnChangeDataSourceName();
    void OnHelp();

    void UpdateOkButton();
    bool ConfirmDataSourceName();
    // Shows string `textId` with every "%s" replaced by the name; the answer.
    int ShowNameMessage(unsigned textId, UINT style);
    // The window rectangle of a client area of `heightDlu` dialog units.
    RECT WindowRectForClientHeight(int heightDlu);

    int m_nTypeIndex = -1;     // selected positions of the two lists
    int m_nNamingIndex = -1;
    afx::CString m_strDataSourceName;
    int m_nMaxColSupport = 0;
    int m_nShortenNames = 0;
    CDSNAttributes* m_pAttributes;
    afx::CString m_strDataFolder;
};

// Runs the dialog over `attributes` with `hwndParent` as owner; IDOK when the user
// confirmed and the set holds the values to write, IDCANCEL otherwise.
INT_PTR RunConfigDsnDialog(CDSNAttributes& attributes, HWND hwndParent);
