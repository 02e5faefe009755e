#include "dialogs/KeywordEditor.h"

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
constexpr int MatchOnlyId = 1029;
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

KeywordEditor::KeywordEditor(QWidget* parent) : QDialog(parent)
{
    m_form = LanguageResources::current().setupDialog(this, TemplateId);
    m_textEdit = LanguageResources::control<QLineEdit>(m_form, TextId);
    m_previewEdit = LanguageResources::control<QLineEdit>(m_form, PreviewId);
    m_textSwatch = LanguageResources::control<QLabel>(m_form, TextSwatchId);
    m_backgroundSwatch = LanguageResources::control<QLabel>(m_form, BkSwatchId);
    m_matchCaseBox = LanguageResources::control<QCheckBox>(m_form, MatchCaseId);
    m_matchWordBox = LanguageResources::control<QCheckBox>(m_form, MatchWordId);
    m_matchOnlyBox = LanguageResources::control<QCheckBox>(m_form, MatchOnlyId);
    if (m_textEdit) {
        // One past the limit: a longer entry is then seen, and refused, instead of being
        // cut without a word.
        m_textEdit->setMaxLength(MaxTextLength + 1);
        connect(m_textEdit, &QLineEdit::textChanged, this, &KeywordEditor::onTextEdited);
        connect(m_textEdit, &QLineEdit::textEdited, this, &KeywordEditor::onUserEdit);
    }
    if (auto* button = LanguageResources::control<QAbstractButton>(m_form, TextColorButtonId)) {
        connect(button, &QAbstractButton::clicked, this, &KeywordEditor::onChooseTextColor);
    }
    if (auto* button = LanguageResources::control<QAbstractButton>(m_form, BkColorButtonId)) {
        connect(button, &QAbstractButton::clicked, this, &KeywordEditor::onChooseBkColor);
    }
}

bool KeywordEditor::initDialog()
{
    m_preview = m_text;
    m_preset = m_text;
    m_textEdited = false;
    updateData(false);
    m_lastAccepted = m_textEdit ? m_textEdit->text() : QString();
    if (m_textEdit) {
        m_textEdit->setFocus();
        m_textEdit->selectAll();
    }
    return true;
}

void KeywordEditor::updateData(bool saveAndValidate)
{
    if (saveAndValidate) {
        // An over-long preset text shows cut; only the user's edit replaces it.
        if (m_textEdit) {
            m_text = m_textEdited ? m_textEdit->text() : m_preset;
        }
        if (m_matchCaseBox) {
            m_matchCase = m_matchCaseBox->isChecked() ? 1 : 0;
        }
        if (m_matchWordBox) {
            m_matchWord = m_matchWordBox->isChecked() ? 1 : 0;
        }
        if (m_matchOnlyBox) {
            m_matchOnly = m_matchOnlyBox->isChecked() ? 1 : 0;
        }
        return;
    }
    if (m_textEdit && m_textEdit->text() != m_text) {
        // Not a user's edit: its notification would read the other controls back before
        // they hold the fields.
        const QSignalBlocker quiet(m_textEdit);
        m_textEdit->setText(m_text);
    }
    if (m_previewEdit) {
        m_previewEdit->setText(m_preview);
    }
    if (m_matchCaseBox) {
        m_matchCaseBox->setChecked(m_matchCase != 0);
    }
    if (m_matchWordBox) {
        m_matchWordBox->setChecked(m_matchWord != 0);
    }
    if (m_matchOnlyBox) {
        m_matchOnlyBox->setChecked(m_matchOnly != 0);
    }
    applyColors();
}

void KeywordEditor::onTextEdited()
{
    updateData(true);
    m_preview = m_text;
    if (m_previewEdit) {
        m_previewEdit->setText(m_preview);
    }
}

void KeywordEditor::onUserEdit(const QString& text)
{
    if (text.size() <= MaxTextLength) {
        m_textEdited = true;
        m_lastAccepted = text;
        return;
    }
    {
        const QSignalBlocker quiet(m_textEdit);
        m_textEdit->setText(m_lastAccepted);
    }
    onTextEdited();
    QMessageBox::warning(this, windowTitle(),
                         LanguageResources::current().format(StringKeywordTooLong,
                                                             QLocale().toString(MaxTextLength)));
}

void KeywordEditor::applyColors()
{
    const QColor text = quill::colorFromRef(m_textColor);
    const QColor back = quill::colorFromRef(m_backgroundColor);
    paintWith(m_textSwatch, QPalette::WindowText, text, QPalette::Window, text);
    paintWith(m_backgroundSwatch, QPalette::WindowText, back, QPalette::Window, back);
    paintWith(m_previewEdit, QPalette::Text, text, QPalette::Base, back);
}

void KeywordEditor::onChooseTextColor()
{
    updateData(true);
    if (const auto chosen =
            quill::chooseColor(this, quill::colorFromRef(m_textColor),
                               LanguageResources::current().string(StringTextColorTitle))) {
        m_textColor = quill::colorRefFrom(*chosen);
    }
    updateData(false);
}

void KeywordEditor::onChooseBkColor()
{
    updateData(true);
    if (const auto chosen =
            quill::chooseColor(this, quill::colorFromRef(m_backgroundColor),
                               LanguageResources::current().string(StringBkColorTitle))) {
        m_backgroundColor = quill::colorRefFrom(*chosen);
    }
    updateData(false);
}

void KeywordEditor::accept()
{
    updateData(true);
    QDialog::accept();
}

int KeywordEditor::doModal()
{
    initDialog();
    return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}
