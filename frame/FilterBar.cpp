#include "frame/FilterBar.h"

#include "resources/LanguageResources.h"
#include "resources/QtText.h"
#include "settings/FilterHistory.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

using quill::toQString;
using quill::toU16;

namespace {

constexpr StringId StringOptions[4] = {StringId::FilterMatchCase, StringId::FilterWholeWord,
                                       StringId::FilterRegularExpression, StringId::FilterExclude};

// Typing pauses this long before the filter is applied: a pass over a large file starts
// for the word, not for each of its letters.
constexpr int TypingPauseMs = 250;

enum Option { MatchCase, WholeWord, RegularExpression, Exclude };

} // namespace

FilterBar::FilterBar(FilterHistory& history, QWidget* parent) : QWidget(parent), m_history(history)
{
    setObjectName(QStringLiteral("filterBar"));
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(4, 2, 4, 2);
    m_layout->setSpacing(2);
    m_typingPause.setSingleShot(true);
    m_typingPause.setInterval(TypingPauseMs);
    connect(&m_typingPause, &QTimer::timeout, this, &FilterBar::filterEdited);
    addRow(false);
}

FilterBar::~FilterBar() = default;

void FilterBar::addRow(bool exclude)
{
    const LanguageResources& resources = LanguageResources::current();
    const int index = rowCount();
    Row row;
    row.widget = new QWidget(this);
    row.widget->setObjectName(QStringLiteral("filterRow%1").arg(index));
    auto* rowLayout = new QVBoxLayout(row.widget);
    rowLayout->setContentsMargins(0, 0, 0, 0);
    rowLayout->setSpacing(0);
    auto* line = new QHBoxLayout();
    line->setContentsMargins(0, 0, 0, 0);
    rowLayout->addLayout(line);

    auto* label = new QLabel(row.widget);
    row.field = new QComboBox(row.widget);
    row.field->setObjectName(QStringLiteral("filterField%1").arg(index));
    row.field->setEditable(true);
    row.field->setInsertPolicy(QComboBox::NoInsert);
    row.field->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    row.field->setMinimumContentsLength(20);
    row.field->lineEdit()->setPlaceholderText(resources.string(StringId::FilterPlaceholder));
    row.field->lineEdit()->setClearButtonEnabled(true);
    // The keys reach the combo box, which hands them to its line edit without the line
    // edit's event filters; both are watched, whichever has the focus.
    row.field->installEventFilter(this);
    row.field->lineEdit()->installEventFilter(this);
    if (index == 0) {
        label->setText(resources.string(StringId::FilterLabel));
        label->setBuddy(row.field);
    } else {
        // Later rows line up under the first one's field.
        label->setMinimumWidth(m_rows.front().widget->findChild<QLabel*>()->sizeHint().width());
    }
    line->addWidget(label);
    line->addWidget(row.field);
    fillHistory(row.field);
    row.field->setCurrentIndex(-1);
    row.field->setEditText(QString());

    if (index == 0) {
        m_add = new QToolButton(row.widget);
        m_add->setObjectName(QStringLiteral("filterAdd"));
        m_add->setText(QStringLiteral("+"));
        m_add->setToolTip(resources.string(StringId::FilterAddTip));
        m_add->setAutoRaise(true);
        keepSpace(m_add);
        line->addWidget(m_add);
        connect(m_add, &QToolButton::clicked, this, &FilterBar::addExcludeRow);
    } else {
        row.remove = new QToolButton(row.widget);
        row.remove->setObjectName(QStringLiteral("filterRemove%1").arg(index));
        row.remove->setText(QStringLiteral("\u00D7"));
        row.remove->setToolTip(resources.string(StringId::FilterRemoveTip));
        row.remove->setAutoRaise(true);
        keepSpace(row.remove);
        line->addWidget(row.remove);
        QWidget* rowWidget = row.widget;
        connect(row.remove, &QToolButton::clicked, this,
                [this, rowWidget] { removeRow(rowWidget); });
    }

    for (int option = 0; option < 4; ++option) {
        auto* box = new QCheckBox(resources.string(StringOptions[option]), row.widget);
        box->setObjectName(QStringLiteral("filterOption%1_%2").arg(index).arg(option));
        box->setFocusPolicy(Qt::TabFocus);
        keepSpace(box);
        line->addWidget(box);
        row.options[option] = box;
        connect(box, &QCheckBox::toggled, this, [this] {
            if (!m_filling) {
                m_typingPause.stop();
                emit filterEdited();
            }
        });
    }
    row.options[Exclude]->setToolTip(resources.string(StringId::FilterExcludeTip));
    if (index == 0) {
        // Not a choice of one term but of what the pane lists: beside the first row only.
        m_marks = new QCheckBox(resources.string(StringId::Marks), row.widget);
        m_marks->setObjectName(QStringLiteral("filterMarks"));
        m_marks->setToolTip(resources.string(StringId::MarksTip));
        m_marks->setFocusPolicy(Qt::TabFocus);
        keepSpace(m_marks);
        line->addWidget(m_marks);
        connect(m_marks, &QCheckBox::toggled, this, [this] {
            if (!m_filling) {
                m_typingPause.stop();
                emit filterEdited();
            }
        });
        // Not a term either: where the result is shown.
        m_asView = new QCheckBox(resources.string(StringId::FilterAsView), row.widget);
        m_asView->setObjectName(QStringLiteral("filterAsView"));
        m_asView->setToolTip(resources.string(StringId::FilterAsViewTip));
        m_asView->setFocusPolicy(Qt::TabFocus);
        keepSpace(m_asView);
        line->addWidget(m_asView);
        connect(m_asView, &QCheckBox::toggled, this, &FilterBar::asViewToggled);
        // In a box of their own: the row's first line edit stays the term's.
        auto* timeBox = new QWidget(row.widget);
        auto* timeLine = new QHBoxLayout(timeBox);
        timeLine->setContentsMargins(0, 0, 0, 0);
        line->addWidget(timeBox);
        auto timeField = [&](QLineEdit*& field, StringId name, StringId placeholder,
                             const QString& objectName) {
            auto* fieldLabel = new QLabel(resources.string(name), timeBox);
            field = new QLineEdit(timeBox);
            field->setObjectName(objectName);
            field->setPlaceholderText(resources.string(placeholder));
            field->setToolTip(resources.string(StringId::FilterTimeTip));
            field->setClearButtonEnabled(true);
            field->setMinimumWidth(
                field->fontMetrics().horizontalAdvance(field->placeholderText()) +
                field->fontMetrics().averageCharWidth() * 4);
            field->installEventFilter(this);
            fieldLabel->setBuddy(field);
            timeLine->addWidget(fieldLabel);
            timeLine->addWidget(field);
            connect(field, &QLineEdit::textEdited, this, [this] {
                if (!m_filling) {
                    m_typingPause.start();
                }
            });
        };
        timeField(m_from, StringId::FilterFromLabel, StringId::FilterFromPlaceholder,
                  QStringLiteral("filterFrom"));
        timeField(m_to, StringId::FilterToLabel, StringId::FilterToPlaceholder,
                  QStringLiteral("filterTo"));
    }
    m_filling = true;
    row.options[Exclude]->setChecked(exclude);
    m_filling = false;

    row.error = new QLabel(row.widget);
    row.error->setObjectName(QStringLiteral("filterError%1").arg(index));
    row.error->setWordWrap(true);
    row.error->setVisible(false);
    rowLayout->addWidget(row.error);
    if (index == 0) {
        m_timeError = new QLabel(row.widget);
        m_timeError->setObjectName(QStringLiteral("filterTimeError"));
        m_timeError->setWordWrap(true);
        m_timeError->setVisible(false);
        setErrorColour(m_timeError);
        rowLayout->addWidget(m_timeError);
    }

    QComboBox* field = row.field;
    connect(field, &QComboBox::editTextChanged, this, [this] {
        if (!m_filling) {
            m_typingPause.start();
        }
    });
    connect(field, &QComboBox::activated, this, [this, field](int entry) {
        auto found = std::find_if(m_rows.begin(), m_rows.end(),
                                  [field](const Row& r) { return r.field == field; });
        if (found == m_rows.end() || entry < 0 || std::size_t(entry) >= m_history.size()) {
            return;
        }
        applyEntry(*found, m_history[std::size_t(entry)]);
        m_typingPause.stop();
        emit filterEdited();
    });
    m_rows.push_back(row);
    m_layout->addWidget(row.widget);
    emit rowsChanged();
}

void FilterBar::addExcludeRow()
{
    addRow(true);
    m_rows.back().field->setFocus();
}

void FilterBar::removeRow(QWidget* rowWidget)
{
    auto found = std::find_if(m_rows.begin(), m_rows.end(),
                              [rowWidget](const Row& r) { return r.widget == rowWidget; });
    if (found == m_rows.begin() || found == m_rows.end()) {
        return;
    }
    const bool hadText = !found->field->currentText().isEmpty();
    m_rows.erase(found);
    rowWidget->hide();
    rowWidget->deleteLater();
    emit rowsChanged();
    m_rows.front().field->setFocus();
    if (hadText) {
        m_typingPause.stop();
        emit filterEdited();
    }
}

void FilterBar::fillHistory(QComboBox* box)
{
    const bool filling = m_filling;
    m_filling = true;
    const QString text = box->currentText();
    box->clear();
    for (const FilterHistoryEntry& entry : m_history.entries()) {
        box->addItem(toQString(entry.text));
    }
    box->setCurrentIndex(-1);
    box->setEditText(text);
    m_filling = filling;
}

void FilterBar::refreshHistory()
{
    for (Row& row : m_rows) {
        fillHistory(row.field);
    }
}

void FilterBar::applyEntry(Row& row, const FilterHistoryEntry& entry)
{
    m_filling = true;
    row.field->setEditText(toQString(entry.text));
    row.options[MatchCase]->setChecked(entry.matchCase);
    row.options[WholeWord]->setChecked(entry.wholeWord);
    row.options[RegularExpression]->setChecked(entry.regularExpression);
    row.options[Exclude]->setChecked(entry.exclude);
    // The range belongs to the whole filter: an exclude row's pick leaves it as it is.
    if (&row == &m_rows.front()) {
        m_from->setText(toQString(entry.from));
        m_to->setText(toQString(entry.to));
    }
    m_filling = false;
}

FilterSet FilterBar::filterSet(int* conflict) const
{
    FilterSet set;
    if (conflict != nullptr) {
        *conflict = -1;
    }
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        const Row& row = m_rows[i];
        FilterTerm term;
        term.text = toU16(row.field->currentText());
        term.matchCase = row.options[MatchCase]->isChecked();
        term.wholeWord = row.options[WholeWord]->isChecked();
        term.regularExpression = row.options[RegularExpression]->isChecked();
        if (term.text.empty()) {
            continue; // an empty field neither shows nor hides lines
        }
        if (row.options[Exclude]->isChecked()) {
            set.excludes.push_back(term);
        } else if (term.text.empty()) {
            continue; // an empty field includes nothing and leaves the choice to the others
        } else if (set.include.text.empty()) {
            set.include = term;
        } else if (conflict != nullptr && *conflict < 0) {
            *conflict = static_cast<int>(i);
        }
    }
    return set;
}

void FilterBar::showErrors(const std::vector<FilterError>& errors)
{
    const LanguageResources& resources = LanguageResources::current();
    std::vector<bool> shownBefore;
    for (Row& row : m_rows) {
        shownBefore.push_back(!row.error->isHidden());
        row.error->clear();
        row.error->setVisible(false);
        row.explainsUndecided = false;
    }
    int conflict = -1;
    filterSet(&conflict);
    if (conflict >= 0) {
        QLabel* label = m_rows[std::size_t(conflict)].error;
        label->setText(resources.string(StringId::FilterConflict));
        label->setVisible(true);
    }
    for (const FilterError& error : errors) {
        // Which row: the include is the first non-excluding row with text; excludes count in
        // row order.
        std::size_t excludes = 0;
        for (Row& row : m_rows) {
            const bool isExclude = row.options[Exclude]->isChecked();
            bool hit = false;
            if (row.field->currentText().isEmpty()) {
                continue;
            }
            if (error.exclude && isExclude) {
                hit = excludes++ == error.excludeIndex;
            } else if (!error.exclude && !isExclude) {
                hit = true;
            }
            if (hit) {
                row.error->setText(resources.format(StringId::FilterPatternError,
                                                    toQString(error.message),
                                                    QString::number(error.offset + 1)));
                row.error->setVisible(true);
                break;
            }
        }
    }
    bool changed = false;
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        QLabel* label = m_rows[i].error;
        if (!label->isHidden()) {
            setErrorColour(label);
        }
        changed = changed || shownBefore[i] != !label->isHidden();
    }
    // A message appearing or going changes the bar's height as a row does; without a new
    // fit the pane keeps its old height and squeezes the bar into it.
    if (changed) {
        emit rowsChanged();
    }
}

void FilterBar::setErrorColour(QLabel* label)
{
    // The error red where it stands out from the bar (4.5:1); on a background where it
    // does not (a dark palette), lighter or darker in the same hue until it does, and the
    // palette's own text colour when no red does.
    const QColor back = palette().color(QPalette::Window);
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const double backLuminance = luminance(back);
    const auto contrast = [&](const QColor& c) {
        const double l = luminance(c);
        return (std::max(l, backLuminance) + 0.05) / (std::min(l, backLuminance) + 0.05);
    };
    const bool darkBack = backLuminance < 0.18;
    QColor colour = palette().color(QPalette::WindowText);
    for (int step = 0; step <= 16; ++step) {
        const double lightness = darkBack ? 0.35 + step * 0.035 : 0.35 - step * 0.02;
        // Measured as it will be drawn, in whole 8-bit channels.
        const QColor red(QColor::fromHslF(350.0 / 360.0, 1.0, lightness).rgb());
        if (contrast(red) >= 4.5) {
            colour = red;
            break;
        }
    }
    QPalette own = label->palette();
    own.setColor(QPalette::WindowText, colour);
    label->setPalette(own);
}

void FilterBar::showUndecided(std::uint64_t terms)
{
    const LanguageResources& resources = LanguageResources::current();
    // The rows in the order the terms were numbered: the include, then the excludes with
    // text.
    std::size_t excludes = 0;
    bool includeSeen = false;
    bool changed = false;
    for (Row& row : m_rows) {
        std::uint64_t bit = 0;
        if (!row.field->currentText().isEmpty()) {
            if (row.options[Exclude]->isChecked()) {
                bit = std::uint64_t(1) << std::min<std::size_t>(++excludes, 63);
            } else if (!includeSeen) {
                includeSeen = true;
                bit = 1;
            }
        }
        const bool explain = (terms & bit) != 0;
        if (explain == row.explainsUndecided || (explain && row.error->isVisible())) {
            continue; // an error of the term's own stays
        }
        row.explainsUndecided = explain;
        row.error->setText(explain ? resources.string(StringId::FilterUndecided) : QString());
        row.error->setVisible(explain);
        changed = true;
    }
    if (changed) {
        emit rowsChanged(); // the bar's height changed
    }
}

bool FilterBar::showsMarks() const
{
    return m_marks->isChecked();
}

QLineEdit* FilterBar::field(int row) const
{
    return m_rows.at(std::size_t(row)).field->lineEdit();
}

QComboBox* FilterBar::fieldBox(int row) const
{
    return m_rows.at(std::size_t(row)).field;
}

QCheckBox* FilterBar::option(int row, int which) const
{
    return m_rows.at(std::size_t(row)).options[which];
}

QLabel* FilterBar::errorLabel(int row) const
{
    return m_rows.at(std::size_t(row)).error;
}

void FilterBar::focusField()
{
    QLineEdit* edit = field(0);
    edit->setFocus(Qt::ShortcutFocusReason);
    edit->selectAll();
}

void FilterBar::clear()
{
    m_typingPause.stop();
    m_filling = true;
    while (m_rows.size() > 1) {
        QWidget* widget = m_rows.back().widget;
        m_rows.pop_back();
        widget->hide();
        widget->deleteLater();
    }
    m_rows.front().field->setEditText(QString());
    m_rows.front().error->setVisible(false);
    m_marks->setChecked(false);
    m_asView->setChecked(false);
    m_from->clear();
    m_to->clear();
    m_timeError->clear();
    m_timeError->setVisible(false);
    m_filling = false;
    emit rowsChanged();
}

void FilterBar::showTimeError(const QString& text)
{
    if (m_timeError->text() == text && m_timeError->isHidden() == text.isEmpty()) {
        return;
    }
    m_timeError->setText(text);
    m_timeError->setVisible(!text.isEmpty());
    emit rowsChanged();
}

void FilterBar::remember()
{
    // A click on every row of the pane asks again; the hive is written only for a change.
    const FilterSet now = filterSet();
    const QString range = m_from->text() + QChar(u'\n') + m_to->text();
    if (m_rememberedOnce && now == m_remembered && range == m_rememberedRange) {
        return;
    }
    m_remembered = now;
    m_rememberedRange = range;
    m_rememberedOnce = true;
    bool added = false;
    // Added last to first, so the first row ends up on top of the list.
    for (auto row = m_rows.rbegin(); row != m_rows.rend(); ++row) {
        FilterHistoryEntry entry;
        entry.text = toU16(row->field->currentText());
        if (entry.text.empty()) {
            continue;
        }
        entry.matchCase = row->options[MatchCase]->isChecked();
        entry.wholeWord = row->options[WholeWord]->isChecked();
        entry.regularExpression = row->options[RegularExpression]->isChecked();
        entry.exclude = row->options[Exclude]->isChecked();
        entry.from = toU16(m_from->text().trimmed());
        entry.to = toU16(m_to->text().trimmed());
        m_history.add(entry);
        added = true;
    }
    if (added) {
        m_history.writeList();
        refreshHistory();
    }
}

void FilterBar::keepSpace(QAbstractButton* button)
{
    button->installEventFilter(this);
}

bool FilterBar::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::ShortcutOverride && qobject_cast<QAbstractButton*>(watched)) {
        // Space is also the window's Pause key; a focused button or check box takes it
        // first, as it would in a dialog.
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier) {
            key->accept();
            return true;
        }
        return false;
    }
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape) {
            m_typingPause.stop();
            emit clearRequested();
            return true;
        }
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            m_typingPause.stop();
            emit filterEdited();
            remember();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
