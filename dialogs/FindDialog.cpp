#include "dialogs/FindDialog.h"

#include "resources/LanguageResources.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

// Texts kept in the history of one run.
constexpr int HistoryLength = 20;

} // namespace

FindDialog::FindDialog(QWidget* owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("findDialog"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    const LanguageResources& strings = LanguageResources::current();
    setWindowTitle(strings.string(StringId::FindCaption));

    auto* label = new QLabel(strings.string(StringId::FindWhat), this);
    m_text = new QComboBox(this);
    m_text->setObjectName(QStringLiteral("findText"));
    m_text->setEditable(true);
    m_text->setInsertPolicy(QComboBox::NoInsert);
    // Completing from the history would turn a typed "Beta" into an earlier "beta" while
    // the user searches with Match case; the list is there to pick from instead.
    m_text->setCompleter(nullptr);
    m_text->setMinimumContentsLength(28);
    m_text->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    label->setBuddy(m_text);

    m_matchCase = new QCheckBox(strings.string(StringId::FindMatchCase), this);
    m_matchCase->setObjectName(QStringLiteral("matchCase"));
    m_wholeWord = new QCheckBox(strings.string(StringId::FindWholeWord), this);
    m_wholeWord->setObjectName(QStringLiteral("wholeWord"));
    m_regularExpression = new QCheckBox(strings.string(StringId::FindRegularExpression), this);
    m_regularExpression->setObjectName(QStringLiteral("regularExpression"));
    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("findMessage"));
    m_message->setWordWrap(true);
    m_message->setTextFormat(Qt::PlainText);
    m_message->hide();

    auto* direction = new QGroupBox(strings.string(StringId::FindDirection), this);
    m_up = new QRadioButton(strings.string(StringId::FindUp), direction);
    m_up->setObjectName(QStringLiteral("directionUp"));
    m_down = new QRadioButton(strings.string(StringId::FindDown), direction);
    m_down->setObjectName(QStringLiteral("directionDown"));
    m_down->setChecked(true);
    auto* directionLayout = new QHBoxLayout(direction);
    directionLayout->addWidget(m_up);
    directionLayout->addWidget(m_down);

    m_findNext = new QPushButton(strings.string(StringId::FindNext), this);
    m_findNext->setObjectName(QStringLiteral("findNext"));
    m_findNext->setDefault(true);
    auto* close = new QPushButton(strings.string(StringId::FindClose), this);
    close->setObjectName(QStringLiteral("closeFind"));
    close->setAutoDefault(false);

    auto* grid = new QGridLayout(this);
    grid->addWidget(label, 0, 0);
    grid->addWidget(m_text, 0, 1, 1, 2);
    grid->addWidget(m_findNext, 0, 3);
    grid->addWidget(m_matchCase, 1, 0, 1, 2);
    grid->addWidget(direction, 1, 2, 2, 1);
    grid->addWidget(close, 1, 3);
    grid->addWidget(m_wholeWord, 2, 0, 1, 2);
    grid->addWidget(m_regularExpression, 3, 0, 1, 2);
    grid->addWidget(m_message, 4, 0, 1, 4);
    grid->setColumnStretch(1, 1);

    auto updateButton = [this] { m_findNext->setEnabled(!m_text->currentText().isEmpty()); };
    connect(m_text, &QComboBox::editTextChanged, this, updateButton);
    auto changed = [this] {
        showMessage({});
        emit searchChanged(searchText(), matchCase(), wholeWord(), regularExpression());
    };
    connect(m_text, &QComboBox::editTextChanged, this, changed);
    connect(m_matchCase, &QCheckBox::toggled, this, changed);
    connect(m_wholeWord, &QCheckBox::toggled, this, changed);
    connect(m_regularExpression, &QCheckBox::toggled, this, changed);
    connect(m_findNext, &QPushButton::clicked, this, [this] { requestFind(false); });
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    updateButton();
}

void FindDialog::setSearchText(const QString& text)
{
    m_text->setEditText(text);
    m_text->lineEdit()->selectAll();
}

QString FindDialog::searchText() const
{
    return m_text->currentText();
}

bool FindDialog::matchCase() const
{
    return m_matchCase->isChecked();
}

bool FindDialog::wholeWord() const
{
    return m_wholeWord->isChecked();
}

bool FindDialog::searchDown() const
{
    return m_down->isChecked();
}

void FindDialog::setOptions(bool matchCase, bool wholeWord, bool down)
{
    m_matchCase->setChecked(matchCase);
    m_wholeWord->setChecked(wholeWord);
    (down ? m_down : m_up)->setChecked(true);
}

bool FindDialog::regularExpression() const
{
    return m_regularExpression->isChecked();
}

void FindDialog::setRegularExpression(bool on)
{
    m_regularExpression->setChecked(on);
}

void FindDialog::showMessage(const QString& text)
{
    m_message->setText(text);
    m_message->setVisible(!text.isEmpty());
}

QString FindDialog::message() const
{
    return m_message->text();
}

void FindDialog::rememberText(const QString& text)
{
    if (text.isEmpty()) {
        return;
    }
    const QString shown = m_text->currentText();
    const int existing = m_text->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (existing >= 0) {
        m_text->removeItem(existing);
    }
    m_text->insertItem(0, text);
    while (m_text->count() > HistoryLength) {
        m_text->removeItem(m_text->count() - 1);
    }
    // Changing the list must not change what the user is looking at.
    m_text->setEditText(shown);
}

void FindDialog::setHistory(const QStringList& texts)
{
    const QString shown = m_text->currentText();
    m_text->clear();
    m_text->addItems(texts.mid(0, HistoryLength));
    m_text->setEditText(shown);
}

QStringList FindDialog::history() const
{
    QStringList texts;
    for (int i = 0; i < m_text->count(); ++i) {
        texts.append(m_text->itemText(i));
    }
    return texts;
}

void FindDialog::focusSearchText()
{
    m_text->setFocus(Qt::OtherFocusReason);
    m_text->lineEdit()->selectAll();
}

void FindDialog::requestFind(bool reverse)
{
    const QString text = searchText();
    if (text.isEmpty()) {
        return;
    }
    const bool down = searchDown() != reverse;
    showMessage({});
    emit findNext(text, down, matchCase(), wholeWord(), regularExpression());
}

void FindDialog::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        requestFind(event->modifiers().testFlag(Qt::ShiftModifier));
        event->accept();
        return;
    }
    // Escape closes through QDialog (reject -> done).
    QDialog::keyPressEvent(event);
}

void FindDialog::closeEvent(QCloseEvent* event)
{
    if (!m_closingSent) {
        m_closingSent = true;
        emit closing();
    }
    QDialog::closeEvent(event);
}

void FindDialog::done(int result)
{
    if (!m_closingSent) {
        m_closingSent = true;
        emit closing();
    }
    QDialog::done(result);
}
