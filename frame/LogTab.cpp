#include "frame/LogTab.h"

#include "frame/FilterBar.h"
#include "frame/FilterPane.h"
#include "frame/MainFrame.h"
#include "frame/MergedFilterPane.h"
#include "frame/MergedNavigation.h"
#include "frame/MergedPart.h"

#include "diagnostics/TraceLog.h"
#include "dialogs/MessageDialog.h"
#include "engine/AlertRule.h"
#include "engine/DocumentTimeIndex.h"
#include "engine/LogDocument.h"
#include "engine/LogSource.h"
#include "engine/MarkKeeper.h"
#include "platform/FileName.h"
#include "resources/LanguageResources.h"
#include "resources/QtFileName.h"
#include "resources/QtText.h"
#include "resources/VersionInfo.h"
#include "settings/SettingsStore.h"
#include "view/FilterView.h"
#include "view/LogView.h"
#include "view/MergedArea.h"
#include "view/TimelineView.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QScrollBar>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>

using quill::toQString;
using quill::toU16;

LogTab::LogTab(MainFrame* frame, SoundService* sound, QWidget* parent)
    : QWidget(parent), m_frame(frame), m_sound(sound),
      m_document(std::make_unique<LogDocument>(this, SettingsStore::instance())),
      m_times(std::make_unique<DocumentTimeIndex>(*m_document)),
      m_markKeeper(std::make_unique<MarkKeeper>(*m_document, MarkKeeper::defaultFolder()))
{
    // The worker's word reaches the tab through its event queue, dropped once it is gone.
    m_times->setCaughtUpCallback(
        [this] { QMetaObject::invokeMethod(this, &LogTab::timesChanged, Qt::QueuedConnection); });
    setObjectName(QStringLiteral("logTab"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_splitter = new QSplitter(Qt::Vertical, this);
    m_splitter->setObjectName(QStringLiteral("splitter"));
    m_splitter->setChildrenCollapsible(false);
    m_timeline = new TimelineView(this);
    m_timeline->hide();
    layout->addWidget(m_timeline);
    layout->addWidget(m_splitter);

    m_view = new LogView(m_splitter);
    m_view->setDocument(m_document.get());
    m_view->setSoundService(sound);
    m_filterPane = new FilterPane(m_document.get(), m_splitter);
    m_filterPane->setTimeIndex(m_times.get());
    connect(this, &LogTab::timesChanged, m_filterPane, &FilterPane::timesChanged);
    m_splitter->addWidget(m_view);
    m_splitter->addWidget(m_filterPane);
    // A larger window gives its room to the log view; the pane keeps its height.
    m_splitter->setStretchFactor(0, 1);
    m_splitter->setStretchFactor(1, 0);
    m_splitter->handle(1)->setEnabled(false);
    m_filterPane->view()->setTextFont(m_view->renderer().font());
    setFocusProxy(m_view);

    connect(m_view, &LogView::statusChanged, this, &LogTab::statusChanged);
    connect(m_view, &LogView::statusChanged, this, [this](qint64, qint64 lines) {
        if (!m_timesStarted && lines > 0) {
            // Once the view has taken the first lines, after their paint: opening never
            // waits for their times.
            m_timesStarted = true;
            QTimer::singleShot(0, this, [this] { m_times->start(); });
        }
    });
    m_timeline->setSources(m_times.get(), m_view);
    connect(m_timeline, &TimelineView::lineChosen, this, [this](LineNumber line) {
        showLine(line);
        m_view->setFocus();
    });
    // New times and keyword lines come in bursts while following: a few redraws a second.
    m_timelineRefresh = new QTimer(this);
    m_timelineRefresh->setSingleShot(true);
    m_timelineRefresh->setInterval(250);
    connect(m_timelineRefresh, &QTimer::timeout, m_timeline, &TimelineView::refresh);
    const auto refreshTimeline = [this] {
        if (!m_timeline->isVisible()) {
            return;
        }
        countTimelineKeywords(true);
        if (!m_timelineRefresh->isActive()) {
            m_timelineRefresh->start();
        }
    };
    connect(this, &LogTab::timesChanged, this, refreshTimeline);
    connect(m_view, &LogView::statusChanged, this, refreshTimeline);
    connect(m_view, &LogView::keywordLinesChanged, this, refreshTimeline);
    setTimelineShown(SettingsStore::instance().boolValue(Setting::Timeline));
    connect(m_view, &LogView::selectionPresenceChanged, this, &LogTab::commandStatesChanged);
    connect(m_view, &LogView::marksChanged, m_filterPane, &FilterPane::marksChanged);
    connect(m_view, &LogView::marksCleared, this, [this] { m_markKeeper->marksChanged(true); });
    connect(m_view, &LogView::marksChanged, this, [this] { m_markKeeper->marksChanged(); });
    m_markKeeper->setRestoredHandler([this] { m_view->refreshMarks(); });
    m_markKeeper->setProblemHandler([this](const MarkKeeper::Problem& problem) {
        const LanguageResources& texts = LanguageResources::current();
        const QString log = quill::fileNameToDisplay(path());
        const QString file = quill::fileNameToDisplay(quill::fileNameToUtf16(problem.file));
        const QString text =
            problem.kind == MarkKeeper::Problem::Kind::Damaged
                ? texts.format(StringId::KeptMarksDamaged, log,
                               quill::fileNameToDisplay(quill::fileNameToUtf16(problem.aside)))
                : texts.format(StringId::KeptMarksUnwritable, log, file,
                               QString::fromLocal8Bit(std::strerror(problem.error)));
        // Told once the open that found it has ended, never in its midst.
        QTimer::singleShot(0, this, [this, text] { m_frame->showMessage(text); });
    });
    // The filter pane shows the occurrences of Find's text as the log view does.
    connect(m_view, &LogView::findHighlightChanged, m_filterPane->view(),
            &FilterView::setFindHighlight);
    connect(m_filterPane, &FilterPane::activeChanged, this, &LogTab::placeFilterPane);
    connect(m_filterPane, &FilterPane::lineActivated, this, [this](LineNumber line) {
        // As the main view the rows are where the user works: a click only moves there.
        if (!m_filterPane->showsAsView()) {
            showLine(line);
        }
    });
    connect(m_filterPane, &FilterPane::asViewChanged, this, &LogTab::showFilterAsView);
    connect(m_filterPane, &FilterPane::clearedByUser, this, [this] { m_view->setFocus(); });
    connect(m_filterPane->view(), &FilterView::selectionPresenceChanged, this,
            &LogTab::commandStatesChanged);
    connect(m_splitter, &QSplitter::splitterMoved, this, [this] {
        if (m_filterPane->isActive()) {
            SettingsStore::instance().setDword(Setting::FilterPaneHeight,
                                               static_cast<std::uint32_t>(m_filterPane->height()));
        }
    });
}

LogTab::~LogTab()
{
    // The watcher posts to this tab and reads the document; it ends first. Then the view
    // and the pane, which read the document, before the document itself.
    delete m_mergedFilter; // its filters read the merged part's documents
    m_mergedFilter = nullptr;
    m_merged.reset();
    m_document->closeDocument();
    m_times.reset();
    m_markKeeper.reset();
    delete m_splitter;
    m_splitter = nullptr;
    m_view = nullptr;
    m_filterPane = nullptr;
    m_document.reset();
}

const std::u16string& LogTab::path() const
{
    return m_document->pathName();
}

QString LogTab::label() const
{
    if (m_merged) {
        return m_merged->label();
    }
    // A pipe or a command is named as the title names it; a decompressed copy by its archive,
    // a rotated set by its live file.
    const LogSource* source = m_document->source();
    if (source != nullptr && source->kind() != SourceKind::Decompressed &&
        source->kind() != SourceKind::Rotated) {
        return quill::toQString(source->displayName());
    }
    const std::u16string& name = source != nullptr ? source->displayName() : path();
    if (name.empty()) {
        return LanguageResources::current().string(StringId::EmptyTab);
    }
    const std::size_t slash = name.rfind(u'/');
    return quill::fileNameToDisplay(slash == std::u16string::npos
                                        ? std::u16string_view(name)
                                        : std::u16string_view(name).substr(slash + 1));
}

void LogTab::setFront(bool front)
{
    if (m_front == front) {
        return;
    }
    m_front = front;
    if (!front) {
        return;
    }
    setTimelineShown(SettingsStore::instance().boolValue(Setting::Timeline));
    if (m_merged) {
        // Another tab may have switched the strip since this one was in front.
        m_merged->navigation()->setOverviewShown(
            SettingsStore::instance().boolValue(Setting::OverviewStrip));
    }
    const bool marked = m_newLines || m_alert;
    m_newLines = false;
    m_alert = false;
    if (m_stale) {
        updateAllViews();
    }
    if (marked) {
        emit labelChanged();
    }
}

QEvent::Type FileMessageEvent::eventType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

bool LogTab::event(QEvent* event)
{
    if (event->type() != FileMessageEvent::eventType()) {
        return QWidget::event(event);
    }
    switch (static_cast<FileMessageEvent*>(event)->message()) {
    case FileMessage::Appended:
        m_frame->tabAppended(this);
        break;
    case FileMessage::Reload:
        emit reloadRequested();
        break;
    case FileMessage::Unreadable:
        // The document holds the current reason; a message may be older than it.
        emit commandStatesChanged();
        break;
    }
    return true;
}

void LogTab::onFileAppended()
{
    m_document->setNewTextArrived(true);
    updateAllViews();
    if (m_front) {
        return;
    }
    alertInBackground();
    if (!m_newLines) {
        m_newLines = true;
        TraceLog::instance().line(TraceLog::LevelInfo,
                                  "New lines behind the front tab: ", std::u16string_view(path()));
        emit labelChanged();
    }
}

void LogTab::alertInBackground()
{
    SoundService* sound = m_sound;
    if (sound == nullptr) {
        return;
    }
    AlertRule alert(*sound);
    {
        std::lock_guard lock(m_document->docAccess());
        const std::uint32_t lines = m_document->lineCount();
        alert.beginPaint(m_document->newTextArrived());
        // Nothing armed: no line needs to be read, as a quiet tab must cost nothing.
        if (lines == 0 || (!alert.playArmed() && !alert.beepArmed())) {
            return;
        }
        // The rows the view shows once it is in front: the last screen while it follows
        // (its scroll position waits for the next update), else where it stands.
        const std::uint32_t rows = std::max<std::uint32_t>(1, m_view->visibleRowCount());
        const std::uint32_t first = m_view->isFollowing()
                                        ? (lines > rows ? lines - rows : 0)
                                        : std::min(m_view->firstVisibleLine(), lines - 1);
        const std::uint32_t end = std::min<std::uint64_t>(lines, std::uint64_t(first) + rows + 1);
        const ColorRef textColor = SettingsStore::instance().dword(Setting::TextColor);
        const ColorRef backColor = SettingsStore::instance().dword(Setting::BackgroundColor);
        for (std::uint32_t i = first; i < end; ++i) {
            ColorRef textRef = textColor;
            ColorRef backRef = backColor;
            bool matched = false;
            m_document->keywordColors(m_document->lineView(i), textRef, backRef, matched);
            alert.lineDrawn(matched);
            if (matched && !m_alert) {
                m_alert = true;
            }
        }
        m_document->setNewTextArrived(false);
    }
    // Outside the lock, as the paint does.
    alert.soundDue();
    if (m_alert) {
        emit labelChanged();
    }
}

void LogTab::countTimelineKeywords(bool shown)
{
    // The keyword counts come with the times, from the same read, while the timeline shows;
    // where the view searches the keywords anyway (its strip, its jumps), the timeline takes
    // that search's counts, so that no line is searched twice. Other keywords, another
    // encoding or showing start the counts over.
    const bool searched = m_view->keywordLines() != nullptr;
    m_times->setCountedKeywords(shown && !searched ? m_document->keywords()
                                                   : std::vector<Keyword>());
}

bool LogTab::openMerged(const std::vector<std::u16string>& paths, QStringList& unreadable,
                        SourceControl* sources)
{
    auto merged = std::make_unique<MergedPart>(this, m_sound);
    merged->setSources(sources);
    merged->setDocumentSetup(m_frame->documentSetup());
    if (!merged->open(paths, unreadable)) {
        return false;
    }
    m_merged = std::move(merged);
    m_splitter->hide();
    m_timeline->hide();
    layout()->addWidget(m_merged->navigation()->timeline());
    attachMergedFilter();
    connect(m_merged->navigation(), &MergedNavigation::rowChosen, this, &LogTab::showMergedRow);
    setFocusProxy(m_merged->area());
    connect(m_merged.get(), &MergedPart::statusChanged, this, &LogTab::statusChanged);
    connect(m_merged.get(), &MergedPart::statusChanged, this, &LogTab::commandStatesChanged);
    connect(m_merged->area(), &TextArea::selectionPresenceChanged, this,
            &LogTab::commandStatesChanged);
    updateAllViews();
    // The merge starts once the tab has painted: opening never waits for the lines' times.
    QTimer::singleShot(0, m_merged.get(), [merged = m_merged.get()] { merged->start(); });
    setTimelineShown(SettingsStore::instance().boolValue(Setting::Timeline));
    emit labelChanged();
    return true;
}

void LogTab::setTimelineShown(bool shown)
{
    if (m_merged) {
        m_merged->navigation()->setTimelineShown(shown);
        return;
    }
    countTimelineKeywords(shown);
    if (shown) {
        m_timeline->refresh();
    }
    m_timeline->setVisible(shown);
}

void LogTab::showLine(LineNumber line)
{
    if (line >= m_document->lineCount()) {
        return;
    }
    if (m_filterPane->showsAsView()) {
        m_filterPane->view()->selectLine(line);
        emit commandStatesChanged();
        return;
    }
    m_view->setSelectionAndCaret(line, line, 0, -1);
    m_document->setFindPosition(line, 0);
    m_view->ensureSelectionVisible();
    m_view->viewport()->update();
    emit commandStatesChanged();
}

void LogTab::placeFilterPane(bool active)
{
    m_splitter->handle(1)->setEnabled(active && !m_filterPane->showsAsView());
    if (m_filterPane->showsAsView()) {
        return; // the log view is hidden: the pane has all the room
    }
    const int total = m_splitter->height();
    const int bar = m_filterPane->bar()->sizeHint().height();
    if (!active) {
        m_splitter->setSizes({std::max(0, total - bar), bar});
        return;
    }
    const int stored = static_cast<int>(std::min<std::uint32_t>(
        SettingsStore::instance().dword(Setting::FilterPaneHeight), QWIDGETSIZE_MAX));
    // A stored height from a larger window still leaves the log view a few rows.
    const int rows = std::max(1, m_view->renderer().lineHeight());
    const int least = bar + 4 * rows;
    const int most = std::max(least, total - 4 * rows);
    const int height = std::clamp(stored > 0 ? stored : total / 3, least, most);
    m_splitter->setSizes({std::max(0, total - height), height});
}

void LogTab::postFileAppended()
{
    QCoreApplication::postEvent(this, new FileMessageEvent(FileMessage::Appended));
}

void LogTab::postFileReload()
{
    QCoreApplication::postEvent(this, new FileMessageEvent(FileMessage::Reload));
}

void LogTab::postFileUnreadable(int error)
{
    QCoreApplication::postEvent(this, new FileMessageEvent(FileMessage::Unreadable, error));
}

void LogTab::updateAllViews()
{
    // Behind another tab nothing is measured, matched or decoded; it is done once the tab
    // comes to the front.
    if (!m_front) {
        m_stale = true;
        return;
    }
    m_stale = false;
    if (m_merged) {
        m_merged->settingsChanged();
        m_merged->area()->setTextFont(m_view->renderer().font());
        m_merged->area()->setWrapLines(SettingsStore::instance().boolValue(Setting::WrapLongLines));
        mergedFilterSettingsChanged();
    }
    // A shown carriage return is drawn with a symbol the view's font has.
    m_document->setCarriageReturnSymbol(m_view->renderer().carriageReturnSymbol());
    m_view->updateFromDocument();
    m_filterPane->view()->setTextFont(m_view->renderer().font());
    m_filterPane->view()->setWrapLines(m_view->wrapsLines());
    m_filterPane->documentChanged();
}

void LogTab::scrollViewsToEnd()
{
    m_view->scrollToEnd();
    m_view->viewport()->repaint();
}

void LogTab::resetViewsScroll()
{
    m_view->resetScroll();
    m_view->viewport()->repaint();
}

void LogTab::ensureSelectionVisibleInViews()
{
    m_view->ensureSelectionVisible();
    m_view->viewport()->repaint();
}

void LogTab::setFilePathText(const std::u16string& path)
{
    if (m_front) {
        m_frame->setFilePathText(path);
    }
    emit labelChanged();
}

void LogTab::titleChanged(const std::u16string& title)
{
    // The title ends with the path: its escaped bytes show as U+FFFD.
    m_title = quill::fileNameToDisplay(title);
    emit labelChanged();
}

MissingFileAnswer LogTab::askMissingFile(const std::u16string& path)
{
    MessageDialog dialog(m_frame);
    dialog.setCaptionId(StringId::MissingFileCaption);
    dialog.setText(LanguageResources::current().format(StringId::MissingFileQuestion,
                                                       quill::fileNameToDisplay(path)));
    MissingFileAnswer answer;
    answer.accepted = dialog.doModal() == MessageDialog::IDOK;
    answer.dontAskAgain = dialog.dontAskAgain != 0;
    return answer;
}

void LogTab::showOpenError(const std::u16string& path, const std::u16string& description,
                           int errorNumber)
{
    const QString text = LanguageResources::current().format(
        StringId::OpenErrorMessage, quill::fileNameToDisplay(path), toQString(description),
        QString::number(errorNumber));
    QMessageBox::critical(m_frame, QStringLiteral("Quillstream"), text);
}

std::u16string LogTab::loadResourceString(std::uint32_t id)
{
    return toU16(LanguageResources::current().string(static_cast<int>(id)));
}

std::u16string LogTab::fileVersionText()
{
    return ::fileVersionText();
}
