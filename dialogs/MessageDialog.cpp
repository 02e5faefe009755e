#include "dialogs/MessageDialog.h"

#include "resources/LanguageResources.h"

#include <QCheckBox>
#include <QLabel>

namespace {

constexpr int kTemplateId = 135;
constexpr int kDontAskAgainId = 1006;
constexpr int kTextId = 1007;

} // namespace

MessageDialog::MessageDialog(QWidget* parent) : QDialog(parent)
{
    m_form = LanguageResources::current().setupDialog(this, kTemplateId);
    m_dontAskAgainBox = LanguageResources::control<QCheckBox>(m_form, kDontAskAgainId);
    m_textLabel = LanguageResources::control<QLabel>(m_form, kTextId);
    if (m_textLabel) {
        // A path in the text must show as written, never as markup.
        m_textLabel->setTextFormat(Qt::PlainText);
    }
}

bool MessageDialog::initDialog()
{
    updateData(false);
    const LanguageResources& resources = LanguageResources::current();
    if (m_captionID != 0) {
        m_caption = resources.string(m_captionID);
    }
    if (m_textID != 0) {
        m_text = resources.string(m_textID);
    }
    setWindowTitle(m_caption);
    updateData(false);
    return true;
}

void MessageDialog::updateData(bool saveAndValidate)
{
    if (saveAndValidate) {
        if (m_dontAskAgainBox) {
            m_dontAskAgain = m_dontAskAgainBox->isChecked() ? 1 : 0;
        }
        if (m_textLabel) {
            m_text = m_textLabel->text();
        }
        return;
    }
    if (m_dontAskAgainBox) {
        m_dontAskAgainBox->setChecked(m_dontAskAgain != 0);
    }
    if (m_textLabel) {
        m_textLabel->setText(m_text);
    }
}

void MessageDialog::accept()
{
    updateData(true);
    QDialog::accept();
}

int MessageDialog::doModal()
{
    initDialog();
    return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}
