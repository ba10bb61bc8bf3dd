#include "ConfigDsnDlg.h"
#include "FolderChoosers.h"
#include "../core/DSNAttributes.h"
#include "../help/HelpCommand.h"
#include "../help/HtmlHelp.h"
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

// The value at each position of the two lists, in the order the
// list-initialisation resource gives them (the type list is sorted, which
// keeps the same order). Opening and OK both read these.
const DatabaseType kTypeAt[] = {dbAccounting, dbEstimating};
const NamingMode kNamingAt[] = {namingCustom, namingStandard, namingDictionary};

// The position of `value`; a value the list does not hold opens at the first.
template <typename T, size_t N>
int PositionOf(const T (&values)[N], int value)
{
    for (size_t i = 0; i < N; ++i)
        if (values[i] == value) return static_cast<int>(i);
    return 0;
}

// The value at `position`; null when no position is selected.
template <typename T, size_t N>
const T* ValueAt(const T (&values)[N], int position)
{
    return position >= 0 && static_cast<size_t>(position) < N ? &values[position] : nullptr;
}

// The folder, shown shortened to fit: to the control only, which holds no more than that.
bool DDX_FolderShown(afx::CDataExchange* pDX, int id, const afx::CString& folder)
{
    HWND control = pDX->PrepareCtrl(id);
    if (control && !pDX->m_bSaveAndValidate) ::PathSetDlgItemPathA(::GetParent(control), id, folder);
    return control || pDX->Fail(id);
}

// The band of option controls below the upper one: disabled in the template,
// enabled by "Options >>".
const int kOptionControls[] = {IDC_MAX_COL_SUPPORT, IDC_SHORTEN_NAMES, IDC_NAMING_LABEL,
                               IDC_NAMING_MODE};

} // namespace

CConfigDsnDlg::CConfigDsnDlg(CDSNAttributes* pAttributes, HWND hwndParent)
    : afx::CDialog(IDD_CONFIG_DSN, hwndParent), m_pAttributes(pAttributes)
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
    afx::DDX_CBIndex(pDX, IDC_DATABASE_TYPE, m_nTypeIndex);
    afx::DDX_CBIndex(pDX, IDC_NAMING_MODE, m_nNamingIndex);
    afx::DDX_Text(pDX, IDC_DSN_NAME, m_strDataSourceName);
    DDX_FolderShown(pDX, IDC_DATA_FOLDER, m_strDataFolder);
    afx::DDX_Check(pDX, IDC_MAX_COL_SUPPORT, m_nMaxColSupport);
    afx::DDX_Check(pDX, IDC_SHORTEN_NAMES, m_nShortenNames);
    // The name is used trimmed; the edit keeps what the user typed.
    if (pDX->m_bSaveAndValidate) m_strDataSourceName.TrimLeft().TrimRight();
}

RECT CConfigDsnDlg::WindowRectForClientHeight(int heightDlu)
{
    RECT rect = {0, 0, kDialogWidthDlu, heightDlu};
    MapDialogRect(&rect);
    CalcWindowRect(&rect);
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

    SendItemMessage(IDC_DSN_NAME, EM_LIMITTEXT, kMaxNameLength);

    m_strDataSourceName = m_pAttributes->GetDataSourceName();
    m_nTypeIndex = PositionOf(kTypeAt, m_pAttributes->GetDatabaseType());
    m_strDataFolder = m_pAttributes->GetDataFolder();
    m_nNamingIndex = PositionOf(kNamingAt, m_pAttributes->GetNamingMode());
    m_nMaxColSupport = m_pAttributes->GetMaxColSupport() ? 1 : 0;
    m_nShortenNames = m_pAttributes->GetShortenNames() ? 1 : 0;

    UpdateData(FALSE);
    UpdateOkButton();
    return TRUE;
}

void CConfigDsnDlg::UpdateOkButton()
{
    EnableItem(IDOK, !m_strDataSourceName.IsEmpty() && !m_strDataFolder.IsEmpty());
}

void CConfigDsnDlg::OnChangeDataSourceName()
{
    UpdateData(TRUE);
    UpdateOkButton();
}

void CConfigDsnDlg::OnOptions()
{
    EnableItem(IDC_OPTIONS, false);
    for (int id : kOptionControls) EnableItem(id, true);
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
    if (!UpdateData(TRUE)) return;
    const DatabaseType* type = ValueAt(kTypeAt, m_nTypeIndex);
    if (!type) return;
    const bool chosen = *type == dbEstimating ? BrowseForFolder(m_hWnd, m_strDataFolder)
                                              : ChooseFolderWithComponent(m_hWnd, m_strDataFolder);
    if (!chosen) return;
    // Only the folder is shown again: the name edit keeps what the user typed.
    afx::CDataExchange show(this, false);
    DDX_FolderShown(&show, IDC_DATA_FOLDER, m_strDataFolder);
    UpdateOkButton();
}

void CConfigDsnDlg::OnHelp()
{
    ShowModuleHelp();
}

void CConfigDsnDlg::OnOK()
{
    if (!UpdateData(TRUE)) return;
    m_pAttributes->SetDataSourceName(m_strDataSourceName);
    // No type selected is accounting data; no naming selected keeps the set's mode.
    const DatabaseType* type = ValueAt(kTypeAt, m_nTypeIndex);
    m_pAttributes->SetDatabaseType(type ? *type : dbAccounting);
    m_pAttributes->SetDataFolder(m_strDataFolder);
    m_pAttributes->SetMaxColSupport(m_nMaxColSupport != 0);
    m_pAttributes->SetShortenNames(m_nShortenNames != 0);
    if (const NamingMode* naming = ValueAt(kNamingAt, m_nNamingIndex))
        m_pAttributes->SetNamingMode(*naming);
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

    if (!m_pAttributes->DataSourceExists()) return true;
    return ShowNameMessage(IDS_DSN_EXISTS, MB_ICONWARNING | MB_YESNO) != IDNO;
}

void CConfigDsnDlg::OnDestroy()
{
    // The module has always made this call at close, and hosts have seen it:
    // it names no file, so it shows nothing; help windows stay as they are.
    InvokeHtmlHelp(nullptr, nullptr, HH_DISPLAY_INDEX, 0);
}

INT_PTR RunConfigDsnDialog(CDSNAttributes& attributes, HWND hwndParent)
{
    CConfigDsnDlg dialog(&attributes, hwndParent);
    return dialog.DoModal();
}
