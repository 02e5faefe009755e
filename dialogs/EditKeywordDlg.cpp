#include "dialogs/EditKeywordDlg.h"

#include "dialogs/ColorChooser.h"
#include "resources/LanguageResources.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSignalBlocker>

namespace {

constexpr int TemplateId = 145;
constexpr int TextId = 1020;
constexpr int MatchCaseId = 1021;
constexpr int MatchWordId = 1022;
constexpr int TextSwatchId = 1024;
constexpr int BkSwatchId = 1025;
constexpr int TextColorButtonId = 1026;
constexpr int PreviewId = 1027;
constexpr int BkColorButtonId = 1028;
constexpr int StringTextColorTitle = 155;
constexpr int StringBkColorTitle = 156;
constexpr int StringKeywordTooLong = 182;

void paintWith(QWidget* widget, QPalette::ColorRole textRole, const QColor& text,
               QPalette::ColorRole backRole, const QColor& back)
{
    if (widget == nullptr) {
        return;
    }
    QPalette palette = widget->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, textRole, text);
        palette.setColor(group, backRole, back);
    }
    widget->setPalette(palette);
    widget->update();
}

} // namespace

CEditKeywordDlg::CEditKeywordDlg(QWidget* parent) : QDialog(parent)
{
    m_form = LanguageResources::current().setupDialog(this, TemplateId);
    m_pText = LanguageResources::control<QLineEdit>(m_form, TextId);
    m_pPreview = LanguageResources::control<QLineEdit>(m_form, PreviewId);
    m_pTextSwatch = LanguageResources::control<QLabel>(m_form, TextSwatchId);
    m_pBkSwatch = LanguageResources::control<QLabel>(m_form, BkSwatchId);
    m_pMatchCase = LanguageResources::control<QCheckBox>(m_form, MatchCaseId);
    m_pMatchWord = LanguageResources::control<QCheckBox>(m_form, MatchWordId);
    if (m_pText) {
        // One past the limit: a longer entry is then seen, and refused, instead of being
        // cut without a word.
        m_pText->setMaxLength(MaxTextLength + 1);
        connect(m_pText, &QLineEdit::textChanged, this, &CEditKeywordDlg::onTextEdited);
        connect(m_pText, &QLineEdit::textEdited, this, &CEditKeywordDlg::onUserEdit);
    }
    if (auto* button = LanguageResources::control<QAbstractButton>(m_form, TextColorButtonId)) {
        connect(button, &QAbstractButton::clicked, this, &CEditKeywordDlg::OnChooseTextColor);
    }
    if (auto* button = LanguageResources::control<QAbstractButton>(m_form, BkColorButtonId)) {
        connect(button, &QAbstractButton::clicked, this, &CEditKeywordDlg::OnChooseBkColor);
    }
}

bool CEditKeywordDlg::OnInitDialog()
{
    m_strPreview = m_strText;
    m_strPreset = m_strText;
    m_bTextEdited = false;
    UpdateData(false);
    m_lastAccepted = m_pText ? m_pText->text() : QString();
    if (m_pText) {
        m_pText->setFocus();
        m_pText->selectAll();
    }
    return true;
}

void CEditKeywordDlg::UpdateData(bool saveAndValidate)
{
    if (saveAndValidate) {
        // An over-long preset text shows cut; only the user's edit replaces it.
        if (m_pText) {
            m_strText = m_bTextEdited ? m_pText->text() : m_strPreset;
        }
        if (m_pMatchCase) {
            m_bMatchCase = m_pMatchCase->isChecked() ? 1 : 0;
        }
        if (m_pMatchWord) {
            m_bMatchWord = m_pMatchWord->isChecked() ? 1 : 0;
        }
        return;
    }
    if (m_pText && m_pText->text() != m_strText) {
        // Not a user's edit: its notification would read the other controls back before
        // they hold the fields.
        const QSignalBlocker quiet(m_pText);
        m_pText->setText(m_strText);
    }
    if (m_pPreview) {
        m_pPreview->setText(m_strPreview);
    }
    if (m_pMatchCase) {
        m_pMatchCase->setChecked(m_bMatchCase != 0);
    }
    if (m_pMatchWord) {
        m_pMatchWord->setChecked(m_bMatchWord != 0);
    }
    applyColors();
}

void CEditKeywordDlg::onTextEdited()
{
    UpdateData(true);
    m_strPreview = m_strText;
    if (m_pPreview) {
        m_pPreview->setText(m_strPreview);
    }
}

void CEditKeywordDlg::onUserEdit(const QString& text)
{
    if (text.size() <= MaxTextLength) {
        m_bTextEdited = true;
        m_lastAccepted = text;
        return;
    }
    {
        const QSignalBlocker quiet(m_pText);
        m_pText->setText(m_lastAccepted);
    }
    onTextEdited();
    QMessageBox::warning(this, windowTitle(),
                         LanguageResources::current().format(StringKeywordTooLong,
                                                             QLocale().toString(MaxTextLength)));
}

void CEditKeywordDlg::applyColors()
{
    const QColor text = quill::colorFromRef(m_crTextColor);
    const QColor back = quill::colorFromRef(m_crBkColor);
    paintWith(m_pTextSwatch, QPalette::WindowText, text, QPalette::Window, text);
    paintWith(m_pBkSwatch, QPalette::WindowText, back, QPalette::Window, back);
    paintWith(m_pPreview, QPalette::Text, text, QPalette::Base, back);
}

void CEditKeywordDlg::OnChooseTextColor()
{
    UpdateData(true);
    if (const auto chosen =
            quill::chooseColor(this, quill::colorFromRef(m_crTextColor),
                               LanguageResources::current().string(StringTextColorTitle))) {
        m_crTextColor = quill::colorRefFrom(*chosen);
    }
    UpdateData(false);
}

void CEditKeywordDlg::OnChooseBkColor()
{
    UpdateData(true);
    if (const auto chosen =
            quill::chooseColor(this, quill::colorFromRef(m_crBkColor),
                               LanguageResources::current().string(StringBkColorTitle))) {
        m_crBkColor = quill::colorRefFrom(*chosen);
    }
    UpdateData(false);
}

void CEditKeywordDlg::accept()
{
    UpdateData(true);
    QDialog::accept();
}

int CEditKeywordDlg::DoModal()
{
    OnInitDialog();
    return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}
