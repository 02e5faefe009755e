#include "frame/TimeCommands.h"

#include "dialogs/GoToTimeDialog.h"
#include "engine/DocumentTimeIndex.h"
#include "engine/LogDocument.h"
#include "engine/MergedFilterRows.h"
#include "frame/FilterPane.h"
#include "frame/LogTab.h"
#include "frame/MainFrame.h"
#include "frame/MergedFilterPane.h"
#include "frame/MergedPart.h"
#include "resources/LanguageResources.h"
#include "view/LogView.h"
#include "view/MergedArea.h"
#include "view/MergedFilterView.h"
#include "view/MergedRowSource.h"

#include <QEvent>
#include <QLabel>
#include <QStatusBar>

#include <algorithm>
#include <ctime>

namespace {

// How long Go to Time waits for the times of a small log to be read before it says they
// are still being read.
constexpr auto BriefWait = std::chrono::milliseconds(250);
constexpr int NoteMs = 15000;

std::optional<TimeMs> caretTime(LogTab* tab)
{
    const int caret = tab->view()->caretLine();
    return caret >= 0 ? tab->timeIndex()->timeOfLine(LineNumber(caret)) : std::nullopt;
}

} // namespace

TimeCommands::TimeCommands(MainFrame* frame) : QObject(frame), m_frame(frame)
{
    // Caret moves come in bursts (a held key): the pane reads a line's time once a burst.
    m_refresh.setSingleShot(true);
    m_refresh.setInterval(30);
    connect(&m_refresh, &QTimer::timeout, this, &TimeCommands::refreshPane);
}

QLabel* TimeCommands::buildPane(QStatusBar* bar)
{
    m_pane = new QLabel(bar);
    m_pane->setObjectName(QStringLiteral("timePane"));
    m_pane->setToolTip(LanguageResources::current().string(StringId::CaretTimeTip));
    m_pane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_pane->setVisible(false);
    bar->addPermanentWidget(m_pane);
    return m_pane;
}

void TimeCommands::watch(LogTab* tab)
{
    LogView* view = tab->view();
    view->installEventFilter(this);
    view->viewport()->installEventFilter(this);
    connect(view, &LogView::statusChanged, &m_refresh, qOverload<>(&QTimer::start));
    connect(view, &LogView::marksChanged, &m_refresh, qOverload<>(&QTimer::start));
    connect(tab, &LogTab::timesChanged, this, [this, tab] { tabTimesChanged(tab); });
    // A row of the filter pane chosen moves the log view's caret without a key in the view.
    connect(tab->filterPane(), &FilterPane::lineActivated, &m_refresh,
            [this](LineNumber) { m_refresh.start(); });
    // A merged tab's rows stand in for the view: their keys and clicks move the row whose time
    // shows, and rows, times and the filter's switch come with its status.
    connect(tab, &LogTab::labelChanged, this, [this, tab] {
        if (tab->merged() == nullptr) {
            return;
        }
        std::vector<TextArea*> areas{tab->merged()->area()};
        if (tab->mergedFilter() != nullptr) {
            areas.push_back(tab->mergedFilter()->view());
        }
        for (TextArea* area : areas) {
            area->installEventFilter(this);
            area->viewport()->installEventFilter(this);
        }
    });
    connect(tab, &LogTab::commandStatesChanged, &m_refresh, qOverload<>(&QTimer::start));
}

bool TimeCommands::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
        m_refresh.start();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void TimeCommands::tabTimesChanged(LogTab* tab)
{
    if (m_pending && m_pendingTab == tab) {
        const DocumentTimeIndex::State state = tab->timeIndex()->state();
        if (state == DocumentTimeIndex::State::Ready ||
            state == DocumentTimeIndex::State::NoTimes) {
            const TimeQuery query = *m_pending;
            m_pending.reset();
            goTo(tab, query);
        }
    }
    if (tab == m_frame->currentTab()) {
        m_refresh.start();
    }
}

QString TimeCommands::timeText(TimeMs time)
{
    const std::time_t seconds = std::time_t(time >= 0 ? time / 1000 : (time - 999) / 1000);
    const int millis = int(time - TimeMs(seconds) * 1000);
    std::tm parts{};
    localtime_r(&seconds, &parts);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return QStringLiteral("%1.%2").arg(QLatin1String(text)).arg(millis, 3, 10, QLatin1Char('0'));
}

QString TimeCommands::spanText(TimeMs span)
{
    const QChar sign = span < 0 ? QLatin1Char('-') : QLatin1Char('+');
    const std::uint64_t ms =
        span < 0 ? std::uint64_t(0) - std::uint64_t(span) : std::uint64_t(span);
    const std::uint64_t seconds = ms / 1000;
    if (seconds < 60) {
        // Short spans are what one compares lines by: to the millisecond.
        return QStringLiteral("%1%2.%3s")
            .arg(sign)
            .arg(seconds)
            .arg(ms % 1000, 3, 10, QLatin1Char('0'));
    }
    const QString tail =
        QStringLiteral("%1.%2s").arg(seconds % 60, 2, 10, QLatin1Char('0')).arg((ms % 1000) / 100);
    const std::uint64_t minutes = seconds / 60;
    if (minutes < 60) {
        return QStringLiteral("%1%2m %3").arg(sign).arg(minutes).arg(tail);
    }
    const std::uint64_t hours = minutes / 60;
    const QString mm = QStringLiteral("%1m").arg(minutes % 60, 2, 10, QLatin1Char('0'));
    if (hours < 24) {
        return QStringLiteral("%1%2h %3 %4").arg(sign).arg(hours).arg(mm, tail);
    }
    return QStringLiteral("%1%2d %3h %4 %5")
        .arg(sign)
        .arg(hours / 24)
        .arg(hours % 24, 2, 10, QLatin1Char('0'))
        .arg(mm, tail);
}

void TimeCommands::refreshPane()
{
    if (m_pane == nullptr) {
        return;
    }
    QString text;
    LogTab* tab = m_frame->currentTab();
    if (tab != nullptr && tab->merged() != nullptr) {
        bool reading = false;
        text = mergedCaretText(*tab, reading);
        if (reading) {
            m_refresh.start(); // again once the files' times are read
        }
    } else if (tab != nullptr && tab->view()->caretLine() >= 0 &&
               tab->timeIndex()->state() != DocumentTimeIndex::State::NoTimes) {
        const LineNumber caret = LineNumber(tab->view()->caretLine());
        if (const std::optional<TimeMs> time = tab->timeIndex()->timeOfLine(caret)) {
            text = timeText(*time);
            const std::vector<LineNumber>& marks = tab->document()->marks().lines();
            const auto above = std::lower_bound(marks.begin(), marks.end(), caret);
            if (above != marks.begin()) {
                if (const auto markTime = tab->timeIndex()->timeOfLine(*std::prev(above))) {
                    text = LanguageResources::current().format(StringId::CaretTimeSinceMark, text,
                                                               spanText(*time - *markTime));
                }
            }
        }
    }
    if (m_pane->text() != text) {
        m_pane->setText(text);
    }
    if (m_pane->isVisibleTo(m_pane->parentWidget()) != !text.isEmpty()) {
        m_pane->setVisible(!text.isEmpty());
    }
}

QString TimeCommands::mergedCaretText(LogTab& tab, bool& reading)
{
    const MergedPart& merged = *tab.merged();
    const MergedRowSource& rows = *merged.rows();
    if (rows.rowCount() == 0) {
        return {};
    }
    // Each file's times are read once rows show, as a tab's are after its first paint.
    for (std::size_t s = 0; s < rows.sourceCount(); ++s) {
        DocumentTimeIndex& times = *merged.timeIndex(s);
        if (times.state() == DocumentTimeIndex::State::Idle) {
            times.start();
        }
        reading = reading || times.state() == DocumentTimeIndex::State::Building;
    }
    const MergedFilterPane* filter = tab.mergedFilter();
    std::size_t row = merged.area()->currentRow();
    if (filter != nullptr && filter->showsAsView()) {
        const MergedFilterView* view = filter->view();
        if (view->rowCount() == 0) {
            return {};
        }
        row = filter->rows()->at(std::min(view->currentRow(), view->rowCount() - 1)).merged;
    }
    if (row >= rows.rowCount()) {
        return {};
    }
    const MergedRows::Place place = rows.placeOfRow(row);
    const std::optional<TimeMs> time = merged.timeIndex(place.source)->timeOfLine(place.line);
    if (!time) {
        return {};
    }
    // The mark above: of each file's marks, the last whose row lies above this one.
    std::optional<std::pair<std::size_t, TimeMs>> above;
    for (std::size_t s = 0; s < rows.sourceCount(); ++s) {
        const std::vector<LineNumber>& marks = rows.document(s).marks().lines();
        const auto end = std::partition_point(marks.begin(), marks.end(), [&](LineNumber line) {
            return rows.rowOfPlace({s, line}) < row;
        });
        if (end == marks.begin()) {
            continue;
        }
        const std::size_t markRow = rows.rowOfPlace({s, *std::prev(end)});
        if (above && above->first >= markRow) {
            continue;
        }
        if (const auto markTime = merged.timeIndex(s)->timeOfLine(*std::prev(end))) {
            above = {markRow, *markTime};
        }
    }
    if (!above) {
        return timeText(*time);
    }
    return LanguageResources::current().format(StringId::CaretTimeSinceMark, timeText(*time),
                                               spanText(*time - above->second));
}

void TimeCommands::note(const QString& text)
{
    m_frame->statusBar()->showMessage(text, NoteMs);
}

void TimeCommands::goToTime(LogTab* tab)
{
    if (tab == nullptr) {
        return;
    }
    auto* dialog = new GoToTimeDialog(m_frame);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<LogTab> target(tab);
    connect(dialog, &QDialog::accepted, this, [this, dialog, target] {
        const std::optional<TimeQuery> query = dialog->chosenQuery();
        if (target && query) {
            goTo(target, *query);
            target->view()->setFocus();
        }
    });
    dialog->open();
}

bool TimeCommands::goTo(LogTab* tab, const TimeQuery& query)
{
    const LanguageResources& strings = LanguageResources::current();
    DocumentTimeIndex& times = *tab->timeIndex();
    if (times.state() == DocumentTimeIndex::State::Idle) {
        times.start();
    }
    // Lines that arrived a moment ago are read first, so that they are not missed.
    if (times.state() != DocumentTimeIndex::State::NoTimes) {
        times.waitCaughtUp(BriefWait);
    }
    switch (times.state()) {
    case DocumentTimeIndex::State::Idle:
    case DocumentTimeIndex::State::Building: {
        const LineNumber lines = std::max<LineNumber>(1, tab->document()->lineCount());
        const auto percent = int(std::uint64_t(times.indexedLines()) * 100 / lines);
        note(strings.format(StringId::TimesBeingRead, QString::number(std::min(percent, 99))));
        return false;
    }
    case DocumentTimeIndex::State::NoTimes:
        note(strings.string(StringId::NoTimesInLog));
        return false;
    case DocumentTimeIndex::State::Ready:
        break;
    }
    std::optional<TimeMs> target;
    switch (query.kind) {
    case TimeQuery::Kind::Moment:
        target = query.value;
        break;
    case TimeQuery::Kind::TimeOfDay: {
        std::optional<TimeMs> day = caretTime(tab);
        if (!day) {
            day = times.firstTime();
        }
        if (day) {
            target = localDayStart(*day) + query.value;
        }
        break;
    }
    case TimeQuery::Kind::BeforeLast:
        if (const std::optional<TimeMs> last = times.lastLineTime()) {
            target = *last - query.value;
        }
        break;
    }
    const std::optional<DocumentTimeIndex::Found> found =
        target ? times.firstLineAtOrAfter(*target) : std::nullopt;
    if (!found) {
        note(strings.string(StringId::NoTimesInLog));
        return false;
    }
    if (tab->filterPane()->showsAsView()) {
        tab->showLine(found->line); // the row of that line, or of the first shown after it
    } else {
        tab->view()->showLineInUpperThird(found->line);
    }
    switch (found->where) {
    case DocumentTimeIndex::Found::Where::BeforeFirst:
        note(strings.format(StringId::TimeBeforeFirst, timeText(*target)));
        break;
    case DocumentTimeIndex::Found::Where::AfterLast:
        note(strings.format(StringId::TimeAfterLast, timeText(*target)));
        break;
    case DocumentTimeIndex::Found::Where::Inside:
        m_frame->statusBar()->clearMessage();
        break;
    }
    refreshPane();
    return true;
}

void TimeCommands::goWhenReady(LogTab* tab, const TimeQuery& query)
{
    if (tab == nullptr) {
        return;
    }
    const DocumentTimeIndex::State state = tab->timeIndex()->state();
    if (state == DocumentTimeIndex::State::Ready || state == DocumentTimeIndex::State::NoTimes) {
        goTo(tab, query);
        return;
    }
    m_pendingTab = tab;
    m_pending = query;
    tab->timeIndex()->start();
}
