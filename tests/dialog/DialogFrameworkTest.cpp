// The framework layer's modal dialog, with a probe dialog of its own over the
// module's template (linked into this program): the order of initialisation,
// command dispatch, exchange without feedback and its failure, the destruction
// hook, and the barrier that keeps a command's exception out of the system's code.
#include "DialogDriver.h"
#include "WindowHooks.h"
#include "afx/Dialog.h"
#include "afx/Exceptions.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace dlgtest;

namespace {

class ProbeDialog : public afx::CDialog {
public:
    explicit ProbeDialog(HWND hwndParent, UINT templateId = IDD_CONFIG_DSN)
        : afx::CDialog(templateId, hwndParent) {}

    afx::CString m_strName = "from the member";
    int m_nCheck = 1;
    afx::CComboBox m_combo;
    int m_nIndex = 2;
    int failAt = 0;               // a control whose step fails when saving

    int listCountAtInit = -1;
    int changes = 0;              // EN_CHANGE of the name edit dispatched
    int destroyCalls = 0;
    bool controlsAtDestroy = false;

protected:
    afx::CommandMap GetCommandMap() const override
    {
        static const afx::CommandEntry entries[] = {
            afx::OnCommand(EN_CHANGE, IDC_DSN_NAME, &ProbeDialog::OnChangeName),
            afx::OnCommand(BN_CLICKED, IDC_OPTIONS, &ProbeDialog::OnOleFailure),
            afx::OnCommand(BN_CLICKED, IDC_SELECT_FOLDER, &ProbeDialog::OnForeignFailure),
            afx::OnCommand(BN_CLICKED, IDHELP, &ProbeDialog::OnOutOfMemory),
        };
        return afx::CommandMap(entries);
    }
    void DoDataExchange(afx::CDataExchange* pDX) override
    {
        afx::DDX_Control(pDX, IDC_NAMING_MODE, m_combo);
        afx::DDX_CBIndex(pDX, IDC_NAMING_MODE, m_nIndex);
        if (failAt && pDX->m_bSaveAndValidate) pDX->Fail(failAt);
        afx::DDX_Text(pDX, IDC_DSN_NAME, m_strName);
        afx::DDX_Check(pDX, IDC_SHORTEN_NAMES, m_nCheck);
    }
    BOOL OnInitDialog() override
    {
        listCountAtInit = static_cast<int>(SendDlgItemMessageA(m_hWnd, IDC_NAMING_MODE, CB_GETCOUNT, 0, 0));
        return afx::CDialog::OnInitDialog();
    }
    void OnDestroy() override
    {
        ++destroyCalls;
        controlsAtDestroy = IsWindow(GetDlgItem(IDOK)) != FALSE;
    }

private:
    void OnChangeName() { ++changes; }
    void OnOleFailure() { afx::AfxThrowOleException(E_FAIL); }
    void OnForeignFailure() { throw std::runtime_error("not the framework's"); }
    void OnOutOfMemory() { throw std::bad_alloc(); }
};

TEST(FrameworkDialog, ListsAreFilledBeforeInitAndExchangeRunsBothWaysWithoutFeedback)
{
    ParentWindow parent;
    ProbeDialog dialog(parent.get());
    INT_PTR result = 0;
    DriveModal(parent.get(), [&] { result = dialog.DoModal(); }, [&](DialogDriver& d) {
        // The first exchange wrote the members and bound the combo box; the
        // text it set did not come back as a change.
        EXPECT_EQ(d.Text(IDC_DSN_NAME), "from the member");
        EXPECT_TRUE(d.Checked(IDC_SHORTEN_NAMES));
        EXPECT_EQ(dialog.m_combo.m_hWnd, d.Item(IDC_NAMING_MODE));
        EXPECT_EQ(d.Selection(IDC_NAMING_MODE), 2);
        EXPECT_EQ(dialog.changes, 0);
        // A change the user makes is dispatched through the table.
        d.Type(IDC_DSN_NAME, "ab");
        EXPECT_EQ(dialog.changes, 2);
        d.SetText(IDC_DSN_NAME, "typed");
        d.SetChecked(IDC_SHORTEN_NAMES, false);
        EXPECT_EQ(dialog.changes, 3);
        d.Select(IDC_NAMING_MODE, 1);
        // A failed step stops the exchange before the later ones: OK keeps the
        // dialog open, with the focus on the control of that step.
        dialog.failAt = IDC_DATABASE_TYPE;
        d.Click(IDOK);
        EXPECT_EQ(d.Focus(), d.Item(IDC_DATABASE_TYPE));
        EXPECT_EQ(dialog.m_strName, afx::CString("from the member"));
        dialog.failAt = 0;
        d.Click(IDOK);
        EXPECT_TRUE(d.WaitClosed());
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dialog.listCountAtInit, 3) << "the list-initialisation resource runs before OnInitDialog";
    // OK exchanged from the controls before ending.
    EXPECT_EQ(dialog.m_strName, afx::CString("typed"));
    EXPECT_EQ(dialog.m_nCheck, 0);
    EXPECT_EQ(dialog.m_nIndex, 1);
    EXPECT_EQ(dialog.destroyCalls, 1);
    EXPECT_TRUE(dialog.controlsAtDestroy);
}

TEST(FrameworkDialog, AnExceptionInACommandIsReportedAndTheDialogStaysUsable)
{
    struct Case {
        int button;
        const char* text;
    };
    const Case cases[] = {
        {IDC_OPTIONS, "An OLE operation failed."},
        {IDHELP, "Out of memory."},
        {IDC_SELECT_FOLDER, "An unexpected error occurred. The command was not completed."},
    };
    ParentWindow parent;
    ProbeDialog dialog(parent.get());
    bktest::MessageBoxAnswerer boxes(IDOK);
    INT_PTR result = 0;
    DriveModal(parent.get(), [&] { result = dialog.DoModal(); }, [&](DialogDriver& d) {
        for (const Case& c : cases) {
            d.Press(c.button);
            const auto box = boxes.Next();
            ASSERT_TRUE(box) << "no report for button " << c.button;
            EXPECT_EQ(box->owner, d.dialog());
            EXPECT_EQ(box->text, c.text);
            EXPECT_EQ(box->caption, "Brennick Data ODBC Setup");
        }
        // Still working: commands dispatch, Cancel ends it.
        d.Type(IDC_DSN_NAME, "x");
        EXPECT_EQ(dialog.changes, 1);
        d.Click(IDCANCEL);
        EXPECT_TRUE(d.WaitClosed());
    });
    EXPECT_EQ(result, IDCANCEL);
}

TEST(FrameworkDialog, AMissingTemplateFailsTheModalRun)
{
    ProbeDialog dialog(nullptr, 4242);
    EXPECT_EQ(dialog.DoModal(), -1);
    EXPECT_EQ(dialog.destroyCalls, 0);
}

} // namespace
