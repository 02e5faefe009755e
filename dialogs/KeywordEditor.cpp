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
    m_form = LanguageResources::current().setupDialog(this, ResourceId::KeywordEditor);
    m_textEdit = LanguageResources::control<QLineEdit>(m_form, ControlId::KeywordEditorText);
    m_previewEdit = LanguageResources::control<QLineEdit>(m_form, ControlId::KeywordEditorPreview);
    m_textSwatch = LanguageResources::control<QLabel>(m_form, ControlId::KeywordEditorTextSwatch);
    m_backgroundSwatch =
        LanguageResources::control<QLabel>(m_form, ControlId::KeywordEditorBackgroundSwatch);
    m_matchCaseBox =
        LanguageResources::control<QCheckBox>(m_form, ControlId::KeywordEditorMatchCase);
    m_matchWordBox =
        LanguageResources::control<QCheckBox>(m_form, ControlId::KeywordEditorMatchWord);
    m_matchOnlyBox =
        LanguageResources::control<QCheckBox>(m_form, ControlId::KeywordEditorMatchOnly);
    if (m_textEdit) {
        // One past the limit: a longer entry is then seen, and refused, instead of being
        // cut without a word.
        m_textEdit->setMaxLength(MaxTextLength + 1);
        connect(m_textEdit, &QLineEdit::textChanged, this, &KeywordEditor::onTextEdited);
        connect(m_textEdit, &QLineEdit::textEdited, this, &KeywordEditor::onUserEdit);
    }
    if (auto* button = LanguageResources::control<QAbstractButton>(
            m_form, ControlId::KeywordEditorTextColour)) {
        connect(button, &QAbstractButton::clicked, this, &KeywordEditor::onChooseTextColor);
    }
    if (auto* button = LanguageResources::control<QAbstractButton>(
            m_form, ControlId::KeywordEditorBackgroundColour)) {
        connect(button, &QAbstractButton::clicked, this, &KeywordEditor::onChooseBkColor);
    }
}

bool KeywordEditor::initDialog()
{
    preview = text;
    m_preset = text;
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
            text = m_textEdited ? m_textEdit->text() : m_preset;
        }
        if (m_matchCaseBox) {
            matchCase = m_matchCaseBox->isChecked() ? 1 : 0;
        }
        if (m_matchWordBox) {
            matchWord = m_matchWordBox->isChecked() ? 1 : 0;
        }
        if (m_matchOnlyBox) {
            matchOnly = m_matchOnlyBox->isChecked() ? 1 : 0;
        }
        return;
    }
    if (m_textEdit && m_textEdit->text() != text) {
        // Not a user's edit: its notification would read the other controls back before
        // they hold the fields.
        const QSignalBlocker quiet(m_textEdit);
        m_textEdit->setText(text);
    }
    if (m_previewEdit) {
        m_previewEdit->setText(preview);
    }
    if (m_matchCaseBox) {
        m_matchCaseBox->setChecked(matchCase != 0);
    }
    if (m_matchWordBox) {
        m_matchWordBox->setChecked(matchWord != 0);
    }
    if (m_matchOnlyBox) {
        m_matchOnlyBox->setChecked(matchOnly != 0);
    }
    applyColors();
}

void KeywordEditor::onTextEdited()
{
    updateData(true);
    preview = text;
    if (m_previewEdit) {
        m_previewEdit->setText(preview);
    }
}

void KeywordEditor::onUserEdit(const QString& entered)
{
    if (entered.size() <= MaxTextLength) {
        m_textEdited = true;
        m_lastAccepted = entered;
        return;
    }
    {
        const QSignalBlocker quiet(m_textEdit);
        m_textEdit->setText(m_lastAccepted);
    }
    onTextEdited();
    QMessageBox::warning(this, windowTitle(),
                         LanguageResources::current().format(StringId::KeywordTooLong,
                                                             QLocale().toString(MaxTextLength)));
}

void KeywordEditor::applyColors()
{
    const QColor fore = quill::colorFromRef(textColor);
    const QColor back = quill::colorFromRef(backgroundColor);
    paintWith(m_textSwatch, QPalette::WindowText, fore, QPalette::Window, fore);
    paintWith(m_backgroundSwatch, QPalette::WindowText, back, QPalette::Window, back);
    paintWith(m_previewEdit, QPalette::Text, fore, QPalette::Base, back);
}

void KeywordEditor::onChooseTextColor()
{
    updateData(true);
    if (const auto chosen =
            quill::chooseColor(this, quill::colorFromRef(textColor),
                               LanguageResources::current().string(StringId::TextColourCaption))) {
        textColor = quill::colorRefFrom(*chosen);
    }
    updateData(false);
}

void KeywordEditor::onChooseBkColor()
{
    updateData(true);
    if (const auto chosen = quill::chooseColor(
            this, quill::colorFromRef(backgroundColor),
            LanguageResources::current().string(StringId::BackgroundColourCaption))) {
        backgroundColor = quill::colorRefFrom(*chosen);
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
