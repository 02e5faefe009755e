#include "frame/MergedFilterPane.h"

#include "frame/FilterBar.h"
#include "frame/MergedPart.h"

#include "engine/DocumentTimeIndex.h"
#include "engine/LineFilter.h"
#include "engine/LogDocument.h"
#include "engine/MergedFilterRows.h"
#include "resources/LanguageResources.h"
#include "settings/FilterHistory.h"
#include "settings/SettingsStore.h"
#include "view/MergedFilterView.h"
#include "view/MergedRowSource.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// How often a time range looks for the times its files' indexes have read meanwhile.
constexpr int TimesPollMs = 300;

} // namespace

MergedFilterPane::MergedFilterPane(MergedPart* part, QWidget* parent)
    : FilterPaneFrame(parent), m_part(part)
{
    setObjectName(QStringLiteral("mergedFilterPane"));
    // Marks listed among the rows are a single document's: not on merged rows.
    m_bar->marksOption()->hide();

    MergedRowSource* merged = part->rows();
    std::vector<const FilterMatches*> matches;
    std::vector<const std::vector<LineNumber>*> undecided;
    for (std::size_t s = 0; s < merged->sourceCount(); ++s) {
        m_filters.push_back(std::make_unique<LineFilter>(merged->document(s), this));
        matches.push_back(&m_filters.back()->matches());
        undecided.push_back(&m_filters.back()->undecided());
    }
    m_windows.assign(m_filters.size(), LineWindow{});
    m_rows = std::make_unique<MergedFilterRows>(merged->order(), merged->bases(), matches);
    m_view = new MergedFilterView(merged, m_rows.get(), m_body);
    m_view->rows().setUndecided(undecided);
    setRowsView(m_view);

    m_times = new QTimer(this);
    m_times->setInterval(TimesPollMs);
    connect(m_times, &QTimer::timeout, this, [this] {
        placeWindows();
        updateHeader();
    });

    connect(m_view, &MergedFilterView::mergedRowActivated, this, [this](std::size_t row) {
        m_bar->remember();
        emit mergedRowActivated(row);
    });
    connect(m_stop, &QPushButton::clicked, this, [this] {
        const bool stopped = std::any_of(m_filters.begin(), m_filters.end(), [](const auto& f) {
            return f->progress().state == FilterState::Stopped;
        });
        for (const auto& filter : m_filters) {
            if (stopped) {
                filter->resume();
            } else {
                filter->stop();
            }
        }
        updateHeader();
    });
}

MergedFilterPane::~MergedFilterPane()
{
    // The view reads the rows, the rows the filters' matches.
    delete m_view;
    m_view = nullptr;
    m_rows.reset();
    m_filters.clear();
}

void MergedFilterPane::rowsChanging()
{
    // Where the user is, in lines of the files, while the rows still count as before.
    m_topPlace.reset();
    m_currentPlace.reset();
    const std::size_t count = m_rows->size();
    if (count > 0) {
        const MergedFilterRows::Row top =
            m_rows->at(std::min(m_view->firstVisibleRow(), count - 1));
        m_topPlace.emplace(top.source, top.line);
        if (m_view->currentRow() < count) {
            const MergedFilterRows::Row current = m_rows->at(m_view->currentRow());
            m_currentPlace.emplace(current.source, current.line);
        }
    }
    m_placed = true;
}

void MergedFilterPane::rowsChanged(bool appended)
{
    bool grown = true;
    for (std::size_t s = 0; s < m_filters.size(); ++s) {
        const FilterChange change = m_filters[s]->sync();
        if (change.reset) {
            grown = false;
            m_windows[s] = LineWindow{0, 0};
        }
    }
    for (const auto& filter : m_filters) {
        if (!filter->isCollected()) {
            const FilterChange change = filter->collect();
            grown = grown && !change.reset && !change.lastRowRemoved;
        }
    }
    placeWindows();
    refreshRows(appended, grown);
    updateHeader();
}

void MergedFilterPane::collect()
{
    if (!m_placed) {
        rowsChanging();
    }
    bool grown = true;
    for (std::size_t s = 0; s < m_filters.size(); ++s) {
        const FilterChange change = m_filters[s]->collect();
        grown = grown && !change.reset && !change.lastRowRemoved;
        if (change.reset) {
            m_windows[s] = LineWindow{0, 0};
        }
    }
    placeWindows();
    refreshRows(true, grown);
    updateHeader();
}

void MergedFilterPane::refreshRows(bool orderAppended, bool matchesGrown)
{
    if (!m_placed) {
        rowsChanging();
    }
    m_placed = false;
    const MergedFilterRows::Update update = m_rows->update(orderAppended, matchesGrown);
    const std::size_t count = m_rows->size();
    if (update.appended) {
        if (count > update.oldSize) {
            m_view->rows().appended(update.oldSize, count - update.oldSize);
        }
        return;
    }
    if (m_view->isFollowing() || !m_topPlace) {
        m_view->rearrangeRows(count, count);
        return;
    }
    const MergedRowSource* merged = m_part->rows();
    auto rowOf = [&](const std::optional<std::pair<std::size_t, LineNumber>>& place) {
        if (!place) {
            return count;
        }
        return m_rows->lowerBound(merged->rowOfPlace({place->first, place->second}));
    };
    m_view->rearrangeRows(rowOf(m_topPlace), rowOf(m_currentPlace));
}

void MergedFilterPane::applyFilter()
{
    int conflict = -1;
    const FilterSet set = m_bar->filterSet(&conflict);
    QString timeError;
    const std::optional<TimeQuery> from = readRangeField(m_bar->fromField(), timeError);
    const std::optional<TimeQuery> to = readRangeField(m_bar->toField(), timeError);
    const bool ranged = from || to;
    const QString rangeTexts =
        m_bar->fromField()->text().trimmed() + QChar(u'\n') + m_bar->toField()->text().trimmed();
    LineFilter& first = *m_filters.front();
    std::vector<FilterError> errors;
    bool restarted = true;
    if (conflict >= 0 || !timeError.isEmpty() || (set.isEmpty() && !ranged)) {
        for (const auto& filter : m_filters) {
            filter->clearFilter();
        }
        m_fromQuery.reset();
        m_toQuery.reset();
    } else if (set != first.filter() || !first.isActive() || rangeTexts != m_rangeTexts) {
        m_fromQuery = from;
        m_toQuery = to;
        m_range.reset();
        for (std::size_t s = 0; s < m_filters.size(); ++s) {
            // The window first: no pass may begin on lines outside the range.
            m_windows[s] = ranged ? LineWindow{0, 0} : LineWindow{};
            m_filters[s]->setLineWindow(m_windows[s].first, m_windows[s].end);
            if (set.isEmpty()) {
                m_filters[s]->setMatchers(nullptr, {}); // a range alone: every line in it
            } else {
                errors = m_filters[s]->setFilter(set);
            }
        }
        placeWindows();
    } else {
        restarted = false; // the same filter again (Enter): the rows stay where they are
    }
    const bool active = first.isActive();
    if (!active) {
        m_fromQuery.reset();
        m_toQuery.reset();
    }
    m_rangeTexts = active ? rangeTexts : QString();
    m_bar->showErrors(errors);
    m_bar->showTimeError(timeError);
    if (restarted) {
        m_placed = false;
        m_rows->update(false, false);
        m_view->rows().reset();
    }
    if (active && (m_fromQuery || m_toQuery)) {
        m_times->start();
    } else {
        m_times->stop();
    }
    setActive(active);
    updateHeader();
}

void MergedFilterPane::clearFilter()
{
    m_bar->clear();
    for (const auto& filter : m_filters) {
        filter->clearFilter();
    }
    m_fromQuery.reset();
    m_toQuery.reset();
    m_rangeTexts.clear();
    m_times->stop();
    m_placed = false;
    m_rows->update(false, false);
    m_view->rows().reset();
    m_bar->showErrors({});
    setActive(false);
}

void MergedFilterPane::placeWindows()
{
    if ((!m_fromQuery && !m_toQuery) || !m_filters.front()->isActive()) {
        return;
    }
    bool waiting = false;
    std::optional<TimeMs> firstTime;
    std::optional<TimeMs> lastTime;
    for (std::size_t s = 0; s < m_filters.size(); ++s) {
        DocumentTimeIndex& times = *m_part->timeIndex(s);
        switch (times.state()) {
        case DocumentTimeIndex::State::Idle:
            times.start();
            waiting = true;
            break;
        case DocumentTimeIndex::State::Building:
            waiting = true;
            break;
        case DocumentTimeIndex::State::NoTimes:
            break; // its lines lie outside every range
        case DocumentTimeIndex::State::Ready:
            if (const std::optional<TimeMs> t = times.firstTime()) {
                firstTime = firstTime ? std::min(*firstTime, *t) : *t;
            }
            if (const std::optional<TimeMs> t = times.lastLineTime()) {
                lastTime = lastTime ? std::max(*lastTime, *t) : *t;
            }
            break;
        }
    }
    if (waiting) {
        return; // the header says the pane waits
    }
    if (!firstTime) {
        m_bar->showTimeError(LanguageResources::current().string(StringId::NoTimesInLog));
        return;
    }
    fixRange(*firstTime, lastTime);
    for (std::size_t s = 0; s < m_filters.size(); ++s) {
        DocumentTimeIndex& times = *m_part->timeIndex(s);
        const std::optional<TimeMs> own = times.firstTime();
        if (times.state() != DocumentTimeIndex::State::Ready || !own) {
            continue;
        }
        const LineWindow window =
            lineWindow(*m_range, times.indexedLines(), [&](TimeMs t) -> std::optional<LineNumber> {
                // Before the first time the lines with a time begin, not the untimed head.
                const auto found = times.firstLineAtOrAfter(std::max(t, *own));
                if (!found || found->where != DocumentTimeIndex::Found::Where::Inside) {
                    return std::nullopt;
                }
                return found->line;
            });
        if (window != m_windows[s]) {
            m_windows[s] = window;
            m_filters[s]->setLineWindow(window.first, window.end);
        }
    }
}

void MergedFilterPane::updateHeader()
{
    if (!m_active) {
        return;
    }
    const LanguageResources& resources = LanguageResources::current();
    // The files' passes as one: running while any runs, stopped while any is stopped.
    bool running = false;
    bool stopped = false;
    LineNumber done = 0;
    LineNumber total = 0;
    std::size_t undecided = 0;
    for (const auto& filter : m_filters) {
        const FilterProgress progress = filter->progress();
        running = running || progress.state == FilterState::Running;
        stopped = stopped || progress.state == FilterState::Stopped;
        done += progress.done;
        total += progress.total;
        undecided += filter->undecided().size();
    }
    const QLocale locale;
    const std::size_t rows = m_rows->size();
    const QString matches = locale.toString(qulonglong(rows - std::min(rows, undecided)));
    const QString lines = locale.toString(qulonglong(total));
    const int percent = total > 0 ? int(std::uint64_t(done) * 100 / total) : 100;
    QString text;
    if (stopped) {
        text = resources.format(StringId::FilterStopped, QString::number(percent), lines, matches);
    } else if (running) {
        text = resources.format(StringId::FilterRunning, QString::number(percent), lines, matches);
    } else {
        text = resources.format(StringId::FilterDone, matches, lines);
    }
    if ((m_fromQuery || m_toQuery) && !m_range) {
        LineNumber read = 0;
        LineNumber all = 0;
        bool timed = false;
        for (std::size_t s = 0; s < m_filters.size(); ++s) {
            const DocumentTimeIndex& times = *m_part->timeIndex(s);
            timed = timed || times.state() != DocumentTimeIndex::State::NoTimes;
            read += times.indexedLines();
            all += m_part->rows()->document(s).lineCount();
        }
        if (timed) {
            const auto share = int(std::uint64_t(read) * 100 / std::max<LineNumber>(1, all));
            text = resources.format(StringId::FilterWaitingForTimes,
                                    QString::number(std::min(share, 99)));
        }
    }
    if (undecided > 0) {
        text += QStringLiteral(", ") + resources.format(StringId::FilterUndecidedCount,
                                                        locale.toString(qulonglong(undecided)));
    }
    std::uint64_t terms = 0;
    for (const auto& filter : m_filters) {
        terms |= filter->undecidedTerms();
    }
    m_bar->showUndecided(terms);
    if (m_progress->text() != text) {
        m_progress->setText(text);
    }
    m_stop->setText(resources.string(stopped ? StringId::FilterContinue : StringId::FilterStop));
    m_stop->setToolTip(
        resources.string(stopped ? StringId::FilterContinueTip : StringId::FilterStopTip));
    m_stop->setEnabled(running || stopped);
}
