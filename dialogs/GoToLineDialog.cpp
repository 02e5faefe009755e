#include "dialogs/GoToLineDialog.h"

#include "resources/LanguageResources.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include <optional>

GoToLineDialog::GoToLineDialog(std::uint32_t lineCount, QWidget* parent)
    : QDialog(parent), m_lineCount(lineCount)
{
    setObjectName(QStringLiteral("goToLineDialog"));
    const LanguageResources& strings = LanguageResources::current();
    setWindowTitle(strings.string(StringId::GoToLineCaption));
    auto* label = new QLabel(strings.format(StringId::GoToLinePrompt,
                                            QString::number(std::max<std::uint32_t>(1, lineCount))),
                             this);
    m_field = new QLineEdit(this);
    m_field->setObjectName(QStringLiteral("lineNumber"));
    // Digits only: a line number never needs anything else, and a pasted "1,234" is refused
    // whole rather than read as 1.
    m_field->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,12}")), this));
    label->setBuddy(m_field);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setEnabled(false);
    connect(m_field, &QLineEdit::textChanged, ok,
            [ok](const QString& text) { ok->setEnabled(!text.isEmpty()); });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(m_field);
    layout->addWidget(buttons);
}

std::optional<std::uint32_t> GoToLineDialog::chosenLine() const
{
    return lineFromText(m_field->text(), m_lineCount);
}

std::optional<std::uint32_t> GoToLineDialog::lineFromText(const QString& text,
                                                          std::uint32_t lineCount)
{
    if (text.isEmpty() || lineCount == 0) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
        // Past the last line is the last line, however many digits follow.
        value = std::min<std::uint64_t>(value * 10 + (c.unicode() - u'0'), lineCount);
    }
    return static_cast<std::uint32_t>(value == 0 ? 0 : value - 1);
}
