#include "frame/FilterPane.h"

#include "frame/FilterBar.h"

#include "engine/DocumentTimeIndex.h"
#include "engine/FilterRows.h"
#include "engine/LineFilter.h"
#include "engine/LogDocument.h"
#include "resources/LanguageResources.h"
#include "settings/FilterHistory.h"
#include "settings/SettingsStore.h"
#include "view/FilterView.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QEvent::Type LinesRestartedEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

} // namespace

FilterPane::FilterPane(LogDocument* document, QWidget* parent)
    : FilterPaneFrame(parent), m_document(document)
{
    setObjectName(QStringLiteral("filterPane"));
    m_body->setObjectName(QStringLiteral("filterBody"));
    m_view = new FilterView(m_body);
    m_view->setDocument(document);
    setRowsView(m_view);

    if (document != nullptr) {
        m_filter = std::make_unique<LineFilter>(*document, this);
        document->addAppendListener(&m_restarts);
        m_rows = std::make_unique<FilterRows>(m_filter->matches());
        m_view->setUndecided(&m_filter->undecided());
        m_view->setMatches(m_rows.get());
    }

    connect(m_view, &FilterView::lineActivated, this, [this](LineNumber line) {
        // A filter the user works with is one worth offering again.
        m_bar->remember();
        emit lineActivated(line);
    });
    // A mark set in the rows is the document's: the marks listed follow it.
    connect(m_view, &FilterView::marksChanged, this, &FilterPane::marksChanged);
    connect(m_stop, &QPushButton::clicked, this, [this] {
        if (!m_filter) {
            return;
        }
        if (m_filter->progress().state == FilterState::Stopped) {
            m_filter->resume();
        } else {
            m_filter->stop();
        }
        updateHeader();
    });
}

FilterPane::~FilterPane()
{
    if (m_document != nullptr) {
        m_document->removeAppendListener(&m_restarts);
    }
    m_view->setMatches(nullptr);
    m_rows.reset();
    m_filter.reset();
}

void FilterPane::RestartListener::indexRestarted()
{
    QCoreApplication::postEvent(&m_pane, new QEvent(LinesRestartedEvent));
}

bool FilterPane::event(QEvent* event)
{
    if (event->type() == LinesRestartedEvent) {
        documentChanged();
        return true;
    }
    return FilterPaneFrame::event(event);
}

void FilterPane::collect()
{
    if (!m_filter) {
        return;
    }
    const FilterChange change = placeMarks(m_filter->collect());
    if (change.reset) {
        windowReset();
    }
    if (change.changed()) {
        m_view->matchesChanged(change);
    }
    updateHeader();
}

FilterChange FilterPane::placeMarks(const FilterChange& change, bool* moved)
{
    const bool changed = m_rows->update();
    if (moved != nullptr) {
        *moved = changed;
    }
    // New matches may come before marks listed at the end: the rows from the first new
    // match on are new.
    FilterChange rows = change;
    rows.firstNewRow = change.reset ? 0 : m_rows->rowOfMatch(change.firstNewRow);
    rows.rowCount = m_rows->size();
    return rows;
}

std::pair<LineNumber, LineNumber> FilterPane::shownLines() const
{
    const std::size_t count = m_rows->size();
    const std::size_t top = m_view->firstVisibleRow();
    const std::size_t current = m_view->currentRow();
    return {top < count ? m_rows->at(top) : ~LineNumber(0),
            current < count ? m_rows->at(current) : ~LineNumber(0)};
}

void FilterPane::marksChanged()
{
    // The rows tint their marked lines.
    m_view->viewport()->update();
    if (!m_rows || !m_rows->showsMarks()) {
        return;
    }
    // The rows on screen and the current one keep their lines where they are still listed.
    const auto [topLine, currentLine] = shownLines();
    // A mark on a matching line leaves the rows as they are (it is listed once either way);
    // the header counts it.
    if (m_rows->update()) {
        m_view->rowsRearranged(m_rows->lowerBound(topLine), m_rows->lowerBound(currentLine));
    }
    updateHeader();
}

void FilterPane::applyFilter()
{
    if (!m_filter) {
        return;
    }
    int conflict = -1;
    const FilterSet set = m_bar->filterSet(&conflict);
    const bool marks = m_bar->showsMarks() && m_document != nullptr;
    const bool marksSwitched = marks != m_rows->showsMarks();
    QString timeError;
    const std::optional<TimeQuery> from = readRangeField(m_bar->fromField(), timeError);
    const std::optional<TimeQuery> to = readRangeField(m_bar->toField(), timeError);
    const bool ranged = from || to;
    const QString rangeTexts =
        m_bar->fromField()->text().trimmed() + QChar(u'\n') + m_bar->toField()->text().trimmed();
    std::vector<FilterError> errors;
    bool restarted = true;
    if (conflict >= 0 || !timeError.isEmpty() || (set.isEmpty() && !ranged)) {
        m_filter->clearFilter();
        m_fromQuery.reset();
        m_toQuery.reset();
    } else if (set != m_filter->filter() || !m_filter->isActive() || rangeTexts != m_rangeTexts) {
        // The window first: the pass must not begin on lines outside the range.
        m_window = ranged ? LineWindow{0, 0} : LineWindow{};
        m_filter->setLineWindow(m_window.first, m_window.end);
        m_fromQuery = from;
        m_toQuery = to;
        m_range.reset();
        if (set.isEmpty()) {
            m_filter->setMatchers(nullptr, {}); // a range alone: every line in it
        } else {
            errors = m_filter->setFilter(set);
        }
        placeWindow();
    } else {
        restarted = false; // the same filter again (Enter): the rows stay where they are
    }
    if (!m_filter->isActive()) {
        m_fromQuery.reset();
        m_toQuery.reset();
    }
    m_rangeTexts = m_filter->isActive() ? rangeTexts : QString();
    m_bar->showErrors(errors);
    m_bar->showTimeError(timeError);
    m_rows->setMarks(marks ? &m_document->marks().lines() : nullptr);
    m_rows->update();
    if (restarted || marksSwitched) {
        m_view->matchesChanged(FilterChange{true, false, 0, m_rows->size()});
    }
    setActive(m_filter->isActive() || marks);
    updateHeader();
}

void FilterPane::clearFilter()
{
    m_bar->clear();
    if (m_filter) {
        m_filter->clearFilter();
        m_fromQuery.reset();
        m_toQuery.reset();
        m_rangeTexts.clear();
        m_rows->setMarks(nullptr);
        m_rows->update();
        m_view->matchesChanged(FilterChange{true, false, 0, 0});
    }
    m_bar->showErrors({});
    setActive(false);
}

void FilterPane::documentChanged()
{
    if (!m_filter) {
        return;
    }
    m_view->documentChanged();
    const auto [topLine, currentLine] = shownLines();
    bool marksMoved = false;
    const FilterChange change = placeMarks(m_filter->sync(), &marksMoved);
    if (change.reset) {
        windowReset();
    }
    if (!change.reset && marksMoved) {
        // Marks went with the lines (a reload or Clear while no filter is set).
        m_view->rowsRearranged(m_rows->lowerBound(topLine), m_rows->lowerBound(currentLine));
    } else if (change.changed()) {
        m_view->matchesChanged(change);
    }
    if (!m_filter->isCollected()) {
        // The watcher checked the new lines on its way: their rows come with them.
        collect();
    } else if (m_active) {
        updateHeader();
    }
}

void FilterPane::timesChanged()
{
    if (m_fromQuery || m_toQuery) {
        placeWindow();
        updateHeader();
    }
}

void FilterPane::windowReset()
{
    if (m_fromQuery || m_toQuery) {
        // The filter emptied its window; relative times are fixed anew for the new lines.
        m_window = LineWindow{0, 0};
        m_range.reset();
        placeWindow();
    }
}

void FilterPane::placeWindow()
{
    if ((!m_fromQuery && !m_toQuery) || !m_filter->isActive() || m_times == nullptr) {
        return;
    }
    DocumentTimeIndex& times = *m_times;
    switch (times.state()) {
    case DocumentTimeIndex::State::Idle:
        times.start();
        return;
    case DocumentTimeIndex::State::Building:
        return; // the header says the pane waits
    case DocumentTimeIndex::State::NoTimes:
        m_bar->showTimeError(LanguageResources::current().string(StringId::NoTimesInLog));
        return;
    case DocumentTimeIndex::State::Ready:
        break;
    }
    const std::optional<TimeMs> firstTime = times.firstTime();
    if (!firstTime) {
        return;
    }
    fixRange(*firstTime, times.lastLineTime());
    const LineWindow window =
        lineWindow(*m_range, times.indexedLines(), [&](TimeMs t) -> std::optional<LineNumber> {
            // Before the first time the lines with a time begin, not the untimed head.
            const auto found = times.firstLineAtOrAfter(std::max(t, *firstTime));
            if (!found || found->where != DocumentTimeIndex::Found::Where::Inside) {
                return std::nullopt;
            }
            return found->line;
        });
    if (window != m_window) {
        m_window = window;
        m_filter->setLineWindow(window.first, window.end);
    }
}

void FilterPane::updateHeader()
{
    if (!m_filter || !m_active) {
        return;
    }
    const LanguageResources& resources = LanguageResources::current();
    const FilterProgress progress = m_filter->progress();
    const std::size_t marked = m_rows->showsMarks() ? m_document->marks().count() : 0;
    const QLocale locale;
    const QString total = locale.toString(qulonglong(progress.total));
    // Lines a term could not decide are shown among the rows but are no matches: the header
    // counts them apart.
    const std::size_t undecided = m_filter->undecided().size();
    const std::size_t rows = m_filter->matches().size();
    const QString matches = locale.toString(qulonglong(rows - std::min(rows, undecided)));
    const int percent =
        progress.total > 0 ? int(std::uint64_t(progress.done) * 100 / progress.total) : 100;
    QString text;
    switch (progress.state) {
    case FilterState::Running:
        text = resources.format(StringId::FilterRunning, QString::number(percent), total, matches);
        break;
    case FilterState::Stopped:
        text = resources.format(StringId::FilterStopped, QString::number(percent), total, matches);
        break;
    case FilterState::Done:
        text = resources.format(StringId::FilterDone, matches, total);
        break;
    case FilterState::Off:
        break; // marks alone
    }
    if ((m_fromQuery || m_toQuery) && !m_range && m_times != nullptr &&
        m_times->state() != DocumentTimeIndex::State::NoTimes) {
        const LineNumber lines = std::max<LineNumber>(1, m_document->lineCount());
        const auto read = int(std::uint64_t(m_times->indexedLines()) * 100 / lines);
        text =
            resources.format(StringId::FilterWaitingForTimes, QString::number(std::min(read, 99)));
    }
    if (m_rows->showsMarks()) {
        const QString marks =
            resources.format(StringId::MarkedCount, locale.toString(qulonglong(marked)));
        text = text.isEmpty() ? marks : text + QStringLiteral(", ") + marks;
    }
    if (undecided > 0) {
        text += QStringLiteral(", ") + resources.format(StringId::FilterUndecidedCount,
                                                        locale.toString(qulonglong(undecided)));
    }
    m_bar->showUndecided(m_filter->undecidedTerms());
    if (m_progress->text() != text) {
        m_progress->setText(text);
    }
    const bool stopped = progress.state == FilterState::Stopped;
    m_stop->setText(resources.string(stopped ? StringId::FilterContinue : StringId::FilterStop));
    m_stop->setToolTip(
        resources.string(stopped ? StringId::FilterContinueTip : StringId::FilterStopTip));
    m_stop->setEnabled(progress.state == FilterState::Running || stopped);
}
