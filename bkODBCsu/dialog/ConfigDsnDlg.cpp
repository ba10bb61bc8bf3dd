#include "ConfigDsnDlg.h"
#include "FolderChoosers.h"
#include "../core/DSNAttributes.h"
#include "../help/HelpCommand.h"
#include "../help/HtmlHelp.h"
#include "../host/Installer.h"
#include "../resource.h"

#include <objbase.h>
#include <shlwapi.h>

namespace {

// Dialog-unit geometry of the template: the full width, the height of the
// upper band (below the lowest upper control at 97, above the options group
// at 107) and the full height.
const int kDialogWidthDlu = 318;
const int kCollapsedHeightDlu = 104;
const int kExpandedHeightDlu = 186;
const int kMaxNameLength = 32;

// Positions of the two lists, in the order the list-initialisation resource
// gives them (the type list is sorted, which keeps the same order).
const int kPosAccounting = 0;
const int kPosEstimating = 1;

} // namespace

CConfigDsnDlg::CConfigDsnDlg(CDSNAttributes* pAttributes, HWND pParent)
    : afx::CDialog(IDD_CONFIG_DSN, pParent), m_pAttributes(pAttributes)
{
}

CConfigDsnDlg::~CConfigDsnDlg() = default;

afx::CommandMap CConfigDsnDlg::GetCommandMap() const
{
    static const afx::CommandEntry entries[] = {
        afx::OnCommand(BN_CLICKED, IDC_OPTIONS, &CConfigDsnDlg::OnOptions),
        afx::OnCommand(BN_CLICKED, IDC_SELECT_FOLDER, &CConfigDsnDlg::OnSelectFolder),
        afx::OnCommand(EN_CHANGE, IDC_DSN_NAME, &CConfigDsnDlg::OnChangeDataSourceName),
        afx::OnCommand(BN_CLICKED, IDHELP, &CConfigDsnDlg::OnHelp),
    };
    return afx::CommandMap(entries);
}

void CConfigDsnDlg::DoDataExchange(afx::CDataExchange* pDX)
{
    afx::DDX_Control(pDX, IDC_DATABASE_TYPE, m_comboDatabaseType);
    afx::DDX_Control(pDX, IDC_NAMING_MODE, m_comboNaming);
    afx::DDX_Text(pDX, IDC_DSN_NAME, m_strDataSourceName);
    afx::DDX_Check(pDX, IDC_MAX_COL_SUPPORT, m_nMaxColSupport);
    afx::DDX_Check(pDX, IDC_SHORTEN_NAMES, m_nShortenNames);
    // The name is used trimmed; the edit keeps what the user typed.
    if (pDX->m_bSaveAndValidate) m_strDataSourceName.TrimLeft().TrimRight();
}

RECT CConfigDsnDlg::WindowRectForClientHeight(int heightDlu)
{
    RECT rect = {0, 0, kDialogWidthDlu, heightDlu};
    MapDialogRect(&rect);
    CalcWindowRect(&rect, adjustBorder);
    return rect;
}

BOOL CConfigDsnDlg::OnInitDialog()
{
    // The folder chooser's and the Help command's components need COM on this
    // thread; whatever the caller did, it stays initialised for the thread.
    ::CoInitialize(nullptr);

    afx::CDialog::OnInitDialog();

    // Collapse to the upper band, then centre the collapsed dialog.
    const RECT collapsed = WindowRectForClientHeight(kCollapsedHeightDlu);
    MoveWindow(collapsed.left, collapsed.top, collapsed.right - collapsed.left,
               collapsed.bottom - collapsed.top, TRUE);
    CenterWindow();

    ::SendDlgItemMessageA(m_hWnd, IDC_DSN_NAME, EM_LIMITTEXT, kMaxNameLength, 0);

    m_strDataSourceName = m_pAttributes->GetDataSourceName();
    m_comboDatabaseType.SetCurSel(m_pAttributes->GetDatabaseType() == dbEstimating ? kPosEstimating
                                                                                  : kPosAccounting);
    m_strDataFolder = m_pAttributes->GetDataFolder();
    switch (m_pAttributes->GetNamingMode()) {
    case namingStandard: m_comboNaming.SetCurSel(1); break;
    case namingDictionary: m_comboNaming.SetCurSel(2); break;
    default: m_comboNaming.SetCurSel(0); break;
    }
    m_nMaxColSupport = m_pAttributes->GetMaxColSupport() ? 1 : 0;
    m_nShortenNames = m_pAttributes->GetShortenNames() ? 1 : 0;

    ::PathSetDlgItemPathA(m_hWnd, IDC_DATA_FOLDER, m_strDataFolder);
    UpdateData(FALSE);
    UpdateOkButton();
    return TRUE;
}

void CConfigDsnDlg::UpdateOkButton()
{
    ::EnableWindow(GetDlgItem(IDOK), !m_strDataSourceName.IsEmpty() && !m_strDataFolder.IsEmpty());
}

void CConfigDsnDlg::OnChangeDataSourceName()
{
    UpdateData(TRUE);
    UpdateOkButton();
}

void CConfigDsnDlg::OnOptions()
{
    ::EnableWindow(GetDlgItem(IDC_OPTIONS), FALSE);
    ::EnableWindow(GetDlgItem(IDC_MAX_COL_SUPPORT), TRUE);
    ::EnableWindow(GetDlgItem(IDC_SHORTEN_NAMES), TRUE);
    ::EnableWindow(GetDlgItem(IDC_NAMING_LABEL), TRUE);
    ::EnableWindow(GetDlgItem(IDC_NAMING_MODE), TRUE);
    ::SetFocus(GetDlgItem(IDC_NAMING_MODE));

    // Grow downwards in place: top-left corner and width stay.
    const RECT expanded = WindowRectForClientHeight(kExpandedHeightDlu);
    RECT window;
    GetWindowRect(&window);
    window.bottom = window.top + (expanded.bottom - expanded.top);
    MoveWindow(window.left, window.top, window.right - window.left, window.bottom - window.top,
               TRUE);
}

void CConfigDsnDlg::OnSelectFolder()
{
    bool chosen = false;
    switch (m_comboDatabaseType.GetCurSel()) {
    case kPosAccounting: chosen = ChooseFolderWithComponent(m_hWnd, m_strDataFolder); break;
    case kPosEstimating: chosen = BrowseForFolder(m_hWnd, m_strDataFolder); break;
    default: break;
    }
    if (chosen) {
        ::PathSetDlgItemPathA(m_hWnd, IDC_DATA_FOLDER, m_strDataFolder);
        UpdateOkButton();
    }
}

void CConfigDsnDlg::OnHelp()
{
    ShowModuleHelp();
}

void CConfigDsnDlg::OnOK()
{
    UpdateData(TRUE);
    m_pAttributes->SetDataSourceName(m_strDataSourceName);
    m_pAttributes->SetDatabaseType(m_comboDatabaseType.GetCurSel() == kPosEstimating ? dbEstimating
                                                                                     : dbAccounting);
    m_pAttributes->SetDataFolder(m_strDataFolder);
    m_pAttributes->SetMaxColSupport(m_nMaxColSupport != 0);
    m_pAttributes->SetShortenNames(m_nShortenNames != 0);
    switch (m_comboNaming.GetCurSel()) {
    case 0: m_pAttributes->SetNamingMode(namingCustom); break;
    case 1: m_pAttributes->SetNamingMode(namingStandard); break;
    case 2: m_pAttributes->SetNamingMode(namingDictionary); break;
    default: break;     // no selection: the set keeps its mode
    }
    if (ConfirmDataSourceName()) EndDialog(IDOK);
}

int CConfigDsnDlg::ShowNameMessage(unsigned textId, UINT style)
{
    afx::CString text, caption;
    text.LoadString(textId);
    // Plain replacement: a '%' in the name is shown as it is.
    text.Replace("%s", m_strDataSourceName);
    caption.LoadString(IDS_CAPTION);
    return ::MessageBoxA(m_hWnd, text, caption, style);
}

bool CConfigDsnDlg::ConfirmDataSourceName()
{
    if (!m_pAttributes->IsValidDataSource()) {
        ShowNameMessage(IDS_INVALID_DSN_NAME, MB_ICONWARNING | MB_OK);
        return false;
    }
    // Keeping the name, or changing only its case, overwrites nothing else.
    if (!m_pAttributes->IsNameChanged()) return true;

    // Does a data source of the new name exist? The installer wants a default
    // text; with none it answers 0 for any section, and the rename would
    // overwrite the other data source without asking.
    char buffer[MAX_PATH] = {};
    if (installer::GetPrivateProfileString(m_strDataSourceName, nullptr, "", buffer,
                                           sizeof buffer, "odbc.ini") == 0)
        return true;
    return ShowNameMessage(IDS_DSN_EXISTS, MB_ICONWARNING | MB_YESNO) != IDNO;
}

void CConfigDsnDlg::DestroyWindow()
{
    InvokeHtmlHelp(nullptr, nullptr, HH_DISPLAY_INDEX, 0);
}

INT_PTR RunConfigDsnDialog(CDSNAttributes& attributes, HWND parent)
{
    CConfigDsnDlg dialog(&attributes, parent);
    return dialog.DoModal();
}
