#include "dialogs/MessageDialog.h"

#include "resources/LanguageResources.h"

#include <QCheckBox>
#include <QLabel>

MessageDialog::MessageDialog(QWidget* parent) : QDialog(parent)
{
    m_form = LanguageResources::current().setupDialog(this, ResourceId::MessageDialog);
    m_dontAskAgainBox =
        LanguageResources::control<QCheckBox>(m_form, ControlId::MessageDontAskAgain);
    m_textLabel = LanguageResources::control<QLabel>(m_form, ControlId::MessageText);
    if (m_textLabel) {
        // A path in the text must show as written, never as markup.
        m_textLabel->setTextFormat(Qt::PlainText);
    }
}

bool MessageDialog::initDialog()
{
    updateData(false);
    const LanguageResources& resources = LanguageResources::current();
    if (captionId != 0) {
        caption = resources.string(captionId);
    }
    if (textId != 0) {
        text = resources.string(textId);
    }
    setWindowTitle(caption);
    updateData(false);
    return true;
}

void MessageDialog::updateData(bool saveAndValidate)
{
    if (saveAndValidate) {
        if (m_dontAskAgainBox) {
            dontAskAgain = m_dontAskAgainBox->isChecked() ? 1 : 0;
        }
        if (m_textLabel) {
            text = m_textLabel->text();
        }
        return;
    }
    if (m_dontAskAgainBox) {
        m_dontAskAgainBox->setChecked(dontAskAgain != 0);
    }
    if (m_textLabel) {
        m_textLabel->setText(text);
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
