#include "dialogs/MessageDialog.h"

#include "resources/LanguageResources.h"

#include <QCheckBox>
#include <QLabel>

namespace {

constexpr int kTemplateId = 135;
constexpr int kDontAskAgainId = 1006;
constexpr int kTextId = 1007;

} // namespace

CMessageDlg::CMessageDlg(QWidget* parent)
    : QDialog(parent)
{
    m_form = LanguageResources::current().setupDialog(this, kTemplateId);
    m_pDontAskAgain = LanguageResources::control<QCheckBox>(m_form, kDontAskAgainId);
    m_pText = LanguageResources::control<QLabel>(m_form, kTextId);
    if (m_pText) {
        // A path in the text must show as written, never as markup.
        m_pText->setTextFormat(Qt::PlainText);
    }
}

bool CMessageDlg::OnInitDialog()
{
    UpdateData(false);
    const LanguageResources& resources = LanguageResources::current();
    if (m_nCaptionID != 0) {
        m_strCaption = resources.string(m_nCaptionID);
    }
    if (m_nTextID != 0) {
        m_strText = resources.string(m_nTextID);
    }
    setWindowTitle(m_strCaption);
    UpdateData(false);
    return true;
}

void CMessageDlg::UpdateData(bool saveAndValidate)
{
    if (saveAndValidate) {
        if (m_pDontAskAgain) {
            m_bDontAskAgain = m_pDontAskAgain->isChecked() ? 1 : 0;
        }
        if (m_pText) {
            m_strText = m_pText->text();
        }
        return;
    }
    if (m_pDontAskAgain) {
        m_pDontAskAgain->setChecked(m_bDontAskAgain != 0);
    }
    if (m_pText) {
        m_pText->setText(m_strText);
    }
}

void CMessageDlg::accept()
{
    UpdateData(true);
    QDialog::accept();
}

int CMessageDlg::DoModal()
{
    OnInitDialog();
    return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}
