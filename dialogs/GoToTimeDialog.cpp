#include "dialogs/GoToTimeDialog.h"

#include "resources/LanguageResources.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

GoToTimeDialog::GoToTimeDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("goToTimeDialog"));
    const LanguageResources& strings = LanguageResources::current();
    setWindowTitle(strings.string(StringId::GoToTimeCaption));
    auto* label = new QLabel(strings.string(StringId::GoToTimePrompt), this);
    label->setWordWrap(true);
    m_field = new QLineEdit(this);
    m_field->setObjectName(QStringLiteral("time"));
    m_field->setMaxLength(64);
    label->setBuddy(m_field);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setEnabled(false);
    connect(m_field, &QLineEdit::textChanged, ok,
            [this, ok] { ok->setEnabled(chosenQuery().has_value()); });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(m_field);
    layout->addWidget(buttons);
}

QString GoToTimeDialog::text() const
{
    return m_field->text();
}

std::optional<TimeQuery> GoToTimeDialog::chosenQuery() const
{
    return parseTimeQuery(m_field->text().trimmed().toStdString());
}
