#include "frame/MergedNavigation.h"

#include "engine/DocumentTimeIndex.h"
#include "engine/KeywordLines.h"
#include "engine/LogDocument.h"
#include "engine/MergedRowMap.h"
#include "engine/TimeIndex.h"
#include "view/MergedArea.h"
#include "view/MergedRowSource.h"
#include "view/MergedStrip.h"
#include "view/MergedTimeline.h"

#include <QMetaObject>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>

MergedNavigation::MergedNavigation(MergedRowSource* rows, MergedArea* area,
                                   std::vector<DocumentTimeIndex*> times, QWidget* timelineParent)
    : m_rows(rows), m_area(area), m_times(std::move(times))
{
    // The workers' word reaches this object through its event queue, dropped once it is gone.
    for (DocumentTimeIndex* index : m_times) {
        index->setCaughtUpCallback([this] {
            QMetaObject::invokeMethod(
                this, [this] { scheduleRefresh(); }, Qt::QueuedConnection);
        });
    }
    // Each file's buckets as they are now (none for a file not searched).
    const auto overviews = [this](const std::vector<std::unique_ptr<KeywordLines>>& searches) {
        std::vector<KeywordLines::Overview> all(m_rows->sourceCount());
        for (std::size_t s = 0; s < searches.size() && s < all.size(); ++s) {
            all[s] = searches[s]->overview();
        }
        return all;
    };
    m_strip = new MergedStrip(
        area, rows, [this, overviews] { return overviews(m_keywordLines); },
        [this, overviews] { return overviews(m_findLines); });
    m_strip->hide();
    connect(area->verticalScrollBar(), &QScrollBar::valueChanged, m_strip.data(),
            qOverload<>(&QWidget::update));

    m_timeline = new MergedTimeline(
        area, rows,
        [this] {
            MergedTimeline::Counts counts;
            for (std::size_t s = 0; s < m_times.size(); ++s) {
                const DocumentTimeIndex& index = *m_times[s];
                TimelineCounts::Input input;
                input.groupLines = TimeIndex::GroupLines;
                input.groupLatest = index.groupLatest();
                input.lines = std::min<LineNumber>(
                    index.indexedLines(), LineNumber(input.groupLatest.size()) * input.groupLines);
                DocumentTimeIndex::GroupCounts found = index.groupCounts();
                if (found.keywords.empty() && s < m_keywordLines.size()) {
                    // The keyword search (for the strip or the jumps) counts instead.
                    KeywordLines::GroupCounts searched = m_keywordLines[s]->groupCounts();
                    found.counts = std::move(searched.counts);
                    found.keywords = std::move(searched.keywords);
                }
                if (counts.keywords.empty()) {
                    counts.keywords = found.keywords;
                }
                // A file whose counts are for other keywords (a change not taken up yet)
                // counts its lines only.
                if (!found.keywords.empty() && found.keywords == counts.keywords) {
                    input.keywordCounts = std::move(found.counts);
                    input.keywords = found.keywords.size();
                }
                counts.inputs.push_back(std::move(input));
            }
            return counts;
        },
        timelineParent);
    m_timeline->hide();
    connect(m_timeline.data(), &TimelineView::lineChosen, this,
            [this](LineNumber row) { emit rowChosen(std::size_t(row)); });
    // New times and keyword lines come in bursts while following: a few redraws a second.
    m_refresh = new QTimer(this);
    m_refresh->setSingleShot(true);
    m_refresh->setInterval(250);
    connect(m_refresh, &QTimer::timeout, this, [this] {
        if (m_timeline) {
            m_timeline->refresh();
        }
    });
}

MergedNavigation::~MergedNavigation()
{
    delete m_timeline.data();
    if (m_strip) {
        m_area->setSideStrip(nullptr, false);
        delete m_strip.data();
    }
    // The searches' workers are joined before the documents go.
    m_keywordLines.clear();
    m_findLines.clear();
}

void MergedNavigation::setOverviewShown(bool shown)
{
    m_overviewShown = shown;
    if (shown) {
        ensureKeywordLines();
    }
    if (m_strip) {
        m_area->setSideStrip(m_strip, shown);
    }
    syncFindLines();
}

void MergedNavigation::setTimelineShown(bool shown)
{
    m_timelineShown = shown;
    if (!m_timeline) {
        return;
    }
    countKeywords(shown);
    if (shown) {
        startTimes();
        m_timeline->refresh();
    }
    m_timeline->setVisible(shown);
}

void MergedNavigation::startTimes()
{
    // Each file's times are read on its index's worker, once the first rows are shown:
    // opening never waits for them.
    if (m_area->rowCount() == 0) {
        return;
    }
    for (DocumentTimeIndex* index : m_times) {
        if (index->state() == DocumentTimeIndex::State::Idle) {
            index->start();
        }
    }
}

void MergedNavigation::countKeywords(bool shown)
{
    // The keywords are counted in the same read as the times, unless the files' keyword
    // searches run anyway (for the strip or the jumps): no line is searched twice.
    for (std::size_t s = 0; s < m_times.size(); ++s) {
        m_times[s]->setCountedKeywords(shown && m_keywordLines.empty()
                                           ? m_rows->document(s).keywords()
                                           : std::vector<Keyword>());
    }
}

void MergedNavigation::ensureKeywordLines()
{
    if (!m_keywordLines.empty()) {
        return;
    }
    for (std::size_t s = 0; s < m_rows->sourceCount(); ++s) {
        m_keywordLines.push_back(std::make_unique<KeywordLines>(m_rows->document(s), [this] {
            QMetaObject::invokeMethod(
                this, [this] { keywordLinesProgressed(); }, Qt::QueuedConnection);
        }));
        m_keywordLines.back()->sync();
    }
    countKeywords(m_timelineShown);
}

void MergedNavigation::setFindText(const std::u16string& text, unsigned flags)
{
    const unsigned kept = flags & (SearchMatchCase | SearchWholeWord);
    if (text == m_findText && kept == m_findFlags) {
        return;
    }
    m_findText = text;
    m_findFlags = kept;
    // Another text is another search: the rows of the old one go.
    m_findLines.clear();
    syncFindLines();
}

void MergedNavigation::syncFindLines()
{
    if (!m_overviewShown || m_findText.empty()) {
        m_findLines.clear();
    } else if (m_findLines.empty()) {
        // As the log view's strip takes it: the text with its case, never as a whole word.
        const Keyword text(m_findText, 0, 0, (m_findFlags & SearchMatchCase) != 0, false, true);
        for (std::size_t s = 0; s < m_rows->sourceCount(); ++s) {
            m_findLines.push_back(std::make_unique<KeywordLines>(
                m_rows->document(s),
                [this] {
                    QMetaObject::invokeMethod(
                        this,
                        [this] {
                            if (m_strip) {
                                m_strip->update();
                            }
                        },
                        Qt::QueuedConnection);
                },
                [text] { return std::vector<Keyword>{text}; }));
        }
    }
    for (const auto& lines : m_findLines) {
        lines->sync();
    }
    if (m_strip) {
        m_strip->update();
    }
}

void MergedNavigation::sync()
{
    for (const auto& lines : m_keywordLines) {
        lines->sync();
    }
    for (const auto& lines : m_findLines) {
        lines->sync();
    }
    if (m_overviewShown && m_strip) {
        m_strip->update();
    }
    if (m_timelineShown) {
        startTimes();
    }
    scheduleRefresh();
}

void MergedNavigation::scheduleRefresh()
{
    if (!m_timelineShown || !m_timeline || !m_timeline->isVisible()) {
        return;
    }
    countKeywords(true);
    if (!m_refresh->isActive()) {
        m_refresh->start();
    }
}

void MergedNavigation::keywordLinesProgressed()
{
    if (m_overviewShown && m_strip) {
        m_strip->update();
    }
    scheduleRefresh();
    if (m_pendingJump) {
        const bool down = *m_pendingJump;
        m_pendingJump.reset();
        jumpToKeywordLine(down);
    }
}

bool MergedNavigation::jumpToKeywordLine(bool down)
{
    m_pendingJump.reset();
    const std::size_t count = m_area->rowCount();
    if (count == 0) {
        return false;
    }
    ensureKeywordLines();
    for (const auto& lines : m_keywordLines) {
        lines->sync();
    }
    const auto neighbour = [this](std::size_t source, LineNumber from, bool downward,
                                  LineNumber& line) {
        switch (m_keywordLines[source]->neighbour(from, downward, line)) {
        case KeywordLines::Outcome::Found:
            return MergedRowMap::Outcome::Found;
        case KeywordLines::Outcome::Pending:
            return MergedRowMap::Outcome::Pending;
        case KeywordLines::Outcome::None:
            break;
        }
        return MergedRowMap::Outcome::None;
    };
    const std::size_t current = std::min(m_area->currentRow(), count - 1);
    const std::optional<std::size_t> open = openKeywordRow(current, down);
    std::size_t row = 0;
    switch (m_rows->map().neighbourRow(current, down, neighbour, row)) {
    case MergedRowMap::Outcome::Found:
        if (open && (down ? *open < row : *open > row)) {
            row = *open;
        }
        m_area->selectInRow(row, 0, -1);
        return true;
    case MergedRowMap::Outcome::Pending:
        // Again once the searches have gone on.
        m_pendingJump = down;
        return true;
    case MergedRowMap::Outcome::None:
        break;
    }
    if (open) {
        m_area->selectInRow(*open, 0, -1);
        return true;
    }
    return false;
}

std::optional<std::size_t> MergedNavigation::openKeywordRow(std::size_t from, bool down) const
{
    // The searches leave a document's open last line until a line feed ends it; the order
    // holds it once it has stayed so a while (a file that ends without one).
    std::optional<std::size_t> nearest;
    for (std::size_t s = 0; s < m_rows->sourceCount(); ++s) {
        LogDocument& document = m_rows->document(s);
        LineNumber last = 0;
        bool matched = false;
        {
            std::lock_guard lock(document.docAccess());
            const LineNumber lines = document.lineCount();
            if (lines == 0 || !document.lastLineOpen()) {
                continue;
            }
            last = lines - 1;
            ColorRef text = 0;
            ColorRef back = 0;
            document.keywordColors(document.lineView(last), text, back, matched);
        }
        const std::size_t row = m_rows->map().rowOf(s, last);
        if (matched && row < m_rows->map().rowCount() && (down ? row > from : row < from) &&
            (!nearest || (down ? row < *nearest : row > *nearest))) {
            nearest = row;
        }
    }
    return nearest;
}
