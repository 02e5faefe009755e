#include "frame/MergedPart.h"

#include "diagnostics/TraceLog.h"
#include "engine/AlertRule.h"
#include "engine/DocumentHost.h"
#include "engine/DocumentTimeIndex.h"
#include "engine/FilterPattern.h"
#include "engine/LineText.h"
#include "engine/LogDocument.h"
#include "engine/MergedLogs.h"
#include "engine/RegexFind.h"
#include "engine/RemoteAddress.h"
#include "frame/MergedNavigation.h"
#include "platform/FileName.h"
#include "resources/LanguageResources.h"
#include "resources/QtFileName.h"
#include "resources/QtText.h"
#include "resources/VersionInfo.h"
#include "settings/SettingsStore.h"
#include "view/LogRenderer.h"
#include "view/MergedArea.h"
#include "view/MergedRowSource.h"

#include <QMetaObject>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sys/stat.h>

namespace {

// Colours told apart at a glance on a light or dark background (0x00BBGGRR).
constexpr ColorRef SourceColors[] = {0xB4771F, 0x0E7FFF, 0x2CA02C, 0x2827D6, 0xBD6794,
                                     0x4B568C, 0xC277E3, 0x7F7F7F, 0x22BDBC, 0xCFBE17};

// A file that a writer appends to without pause is polled once a frame (a tab's watcher
// polls such a file ten times a second): lines of several machines are read side by side
// as they come, and a line reaches the screen within about a frame of its write.
WatchTiming mergedWatchTiming()
{
    WatchTiming timing;
    timing.busyGap = std::chrono::milliseconds(16);
    return timing;
}

bool fileExists(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

} // namespace

// A document's host: its watcher's messages reach the part through the part's event queue,
// dropped once the part is gone.
class MergedPart::Host : public DocumentHost {
  public:
    Host(MergedPart* part, std::size_t source) : m_part(part), m_source(source) {}

    void postFileAppended() override {}
    void postFileReload() override
    {
        QMetaObject::invokeMethod(
            m_part, [part = m_part, source = m_source] { part->reloadSource(source); },
            Qt::QueuedConnection);
    }
    void postFileUnreadable(int) override {}
    void updateAllViews() override {}
    void scrollViewsToEnd() override {}
    void resetViewsScroll() override {}
    void ensureSelectionVisibleInViews() override {}
    void setFilePathText(const std::u16string&) override {}
    void titleChanged(const std::u16string&) override {}
    // A file is read only when it is there: a missing one is waited for by the part.
    MissingFileAnswer askMissingFile(const std::u16string&) override { return {}; }
    void showOpenError(const std::u16string& path, const std::u16string& description,
                       int errorNumber) override
    {
        error = quill::fileNameToDisplay(path) + QStringLiteral(": ") +
                (description.empty() ? QString::fromLocal8Bit(std::strerror(errorNumber))
                                     : quill::toQString(description));
    }
    std::u16string loadResourceString(std::uint32_t id) override
    {
        return quill::toU16(LanguageResources::current().string(static_cast<int>(id)));
    }
    std::u16string fileVersionText() override { return ::fileVersionText(); }

    QString error;

  private:
    MergedPart* m_part;
    std::size_t m_source;
};

MergedPart::MergedPart(QWidget* parent, SoundService* sound)
    : QObject(parent), m_parent(parent), m_sound(sound)
{
    m_retry = new QTimer(this);
    m_retry->setInterval(500);
    connect(m_retry, &QTimer::timeout, this, [this] {
        if (m_paused) {
            return; // a file that returns meanwhile is read on Resume
        }
        bool waiting = false;
        for (std::size_t s = 0; s < m_missing.size(); ++s) {
            if (m_missing[s]) {
                reloadSource(s);
                waiting = waiting || m_missing[s];
            }
        }
        if (!waiting) {
            m_retry->stop();
        }
    });
}

MergedPart::~MergedPart()
{
    // The workers read the documents: they end first; then the area, then the documents.
    m_merge.reset();
    m_times.clear();
    m_navigation.reset();
    if (m_area != nullptr) {
        m_area->setRowSource(nullptr);
        delete m_area;
    }
    for (auto& document : m_documents) {
        document->closeDocument();
    }
    m_documents.clear();
}

bool MergedPart::open(const std::vector<std::u16string>& paths, QStringList& unreadable)
{
    std::vector<std::u16string> names;
    for (const std::u16string& path : paths) {
        if (m_documents.size() == MergedRows::MaxSources) {
            unreadable.append(quill::fileNameToDisplay(path));
            continue;
        }
        auto host = std::make_unique<Host>(this, m_documents.size());
        auto document = std::make_unique<LogDocument>(host.get(), SettingsStore::instance());
        document->setWatchTiming(mergedWatchTiming());
        if (m_setup) {
            m_setup(*document);
        }
        const std::string native = quill::fileNameToBytes(path);
        const bool remote = isRemoteAddress(native);
        if (remote) {
            if (!openRemote(native, *document, unreadable)) {
                continue;
            }
        } else if (!fileExists(native)) {
            unreadable.append(quill::fileNameToDisplay(path) + QStringLiteral(": ") +
                              QString::fromLocal8Bit(std::strerror(ENOENT)));
            continue;
        } else if (!document->openDocument(path)) {
            unreadable.append(host->error.isEmpty() ? quill::fileNameToDisplay(path) : host->error);
            continue;
        }
        m_hosts.push_back(std::move(host));
        m_documents.push_back(std::move(document));
        m_paths.push_back(path);
        m_remote.push_back(remote);
    }
    if (m_documents.empty()) {
        return false;
    }
    m_missing.assign(m_documents.size(), false);
    std::vector<LogDocument*> documents;
    std::vector<ColorRef> colors;
    for (std::size_t s = 0; s < m_documents.size(); ++s) {
        documents.push_back(m_documents[s].get());
        colors.push_back(SourceColors[s % std::size(SourceColors)]);
    }
    std::vector<std::string> natives;
    for (const std::u16string& path : m_paths) {
        natives.push_back(quill::fileNameToBytes(path));
    }
    for (const std::string& name : mergedEntryNames(natives)) {
        names.push_back(quill::fileNameToUtf16(name));
    }
    for (LogDocument* document : documents) {
        m_times.push_back(std::make_unique<DocumentTimeIndex>(*document));
    }
    m_rows = std::make_unique<MergedRowSource>(documents, colors, names);
    m_rows->setNameColumn(SettingsStore::instance().boolValue(Setting::MergedNames));
    m_merge = std::make_unique<MergedLogs>(documents);
    m_merge->setChangedCallback([this] {
        // Many changes in a burst are taken in one go.
        QMetaObject::invokeMethod(this, &MergedPart::takeChanges, Qt::QueuedConnection);
    });
    m_area = new MergedArea(m_rows.get(), m_parent);
    m_area->setObjectName(QStringLiteral("mergedArea"));
    std::vector<DocumentTimeIndex*> times;
    for (const auto& index : m_times) {
        times.push_back(index.get());
    }
    m_navigation = std::make_unique<MergedNavigation>(m_rows.get(), m_area, times, m_parent);
    m_navigation->setOverviewShown(SettingsStore::instance().boolValue(Setting::OverviewStrip));
    connect(this, &MergedPart::statusChanged, m_navigation.get(), &MergedNavigation::sync);
    return true;
}

void MergedPart::start()
{
    if (m_merge) {
        m_merge->start();
    }
}

void MergedPart::takeChanges()
{
    if (!m_merge) {
        return;
    }
    const std::vector<MergedLogs::Change> changes = m_merge->takeChanges();
    if (changes.empty()) {
        return;
    }
    // Where the user is, in lines of the files: the same lines stay in view.
    const bool following = m_area->isFollowing();
    const MergedRows::Place top = m_rows->placeOfRow(m_area->firstVisibleRow());
    const MergedRows::Place current = m_rows->placeOfRow(m_area->currentRow());
    const bool hadRows = m_rows->rowCount() > 0;
    const bool merged = m_completeTraced;
    emit rowsChanging();
    const std::optional<std::size_t> appendedFrom = m_rows->apply(changes);
    emit rowsChanged(appendedFrom.has_value());
    if (merged && appendedFrom) {
        alertFor(*appendedFrom, m_rows->rowCount());
    }
    if (!appendedFrom) {
        if (following || !hadRows) {
            m_area->rearrangeRows(m_rows->rowCount(), m_rows->rowCount());
        } else {
            m_area->rearrangeRows(m_rows->rowOfPlace(top), m_rows->rowOfPlace(current));
        }
    }
    emit statusChanged(totalBytes(), qint64(m_rows->rowCount()));
    // Start-up as the user sees it, for diagnosis and the merged start-up benchmark.
    if (!m_paintTraced && m_rows->rowCount() > 0 && m_area->isVisible()) {
        m_paintTraced = true;
        m_area->viewport()->repaint();
        TraceLog::instance().line(TraceLog::LevelInfo,
                                  "First merged lines painted: ", std::uint64_t(m_rows->rowCount()),
                                  " rows");
    }
    if (!m_completeTraced && !m_rows->provisional() && m_merge->complete()) {
        m_completeTraced = true;
        TraceLog::instance().line(TraceLog::LevelInfo,
                                  "Merged in full: ", std::uint64_t(m_rows->rowCount()), " rows");
    }
}

void MergedPart::alertFor(std::size_t first, std::size_t end)
{
    if (m_sound == nullptr || first >= end) {
        return;
    }
    AlertRule alert(*m_sound);
    alert.beginPaint(true);
    // Nothing armed: no row needs to be read.
    if (!alert.playArmed() && !alert.beepArmed()) {
        return;
    }
    // As a paint of the end would: at most the rows a screen shows.
    const auto screen = std::size_t(
        std::max(1, m_area->viewport()->height() / std::max(1, m_area->rowHeight())) + 1);
    const std::size_t from = std::max(first, end > screen ? end - screen : 0);
    const ColorRef textColor = SettingsStore::instance().dword(Setting::TextColor);
    const ColorRef backColor = SettingsStore::instance().dword(Setting::BackgroundColor);
    m_rows->prepareRows(from, end);
    for (std::size_t row = from; row < end; ++row) {
        ColorRef fore = textColor;
        ColorRef back = backColor;
        bool matched = false;
        m_rows->keywordColors(m_rows->rowText(row), fore, back, matched);
        alert.lineDrawn(matched);
    }
    alert.soundDue();
}

void MergedPart::reloadSource(std::size_t source)
{
    // A spool only grows: its ssh follows the remote file across rotation.
    if (m_remote[source]) {
        return;
    }
    LogDocument& document = *m_documents[source];
    const std::string native = quill::fileNameToBytes(m_paths[source]);
    if (!fileExists(native)) {
        // Gone: its lines leave the view, and it is read again once it returns.
        if (!m_missing[source]) {
            document.newDocument();
            m_missing[source] = true;
        }
        if (!m_retry->isActive()) {
            m_retry->start();
        }
        return;
    }
    m_missing[source] = false;
    document.newDocument();
    if (!document.openDocument(m_paths[source])) {
        m_missing[source] = true;
        if (!m_retry->isActive()) {
            m_retry->start();
        }
    } else if (m_paused) {
        // A replaced file reported just before the pause: read, but not followed yet.
        document.stopWatching();
    }
}

QString MergedPart::label() const
{
    QStringList names;
    for (std::size_t s = 0; s < m_documents.size(); ++s) {
        names.append(quill::fileNameToDisplay(m_rows->name(s)));
    }
    return names.join(QStringLiteral(" + "));
}

QString MergedPart::toolTip() const
{
    QString text;
    for (std::size_t s = 0; s < m_documents.size(); ++s) {
        if (!text.isEmpty()) {
            text += QStringLiteral("<br>");
        }
        text += QStringLiteral("<span style=\"color:%1\">&#9608;&#9608;</span> %2")
                    .arg(quill::colorFromRef(m_rows->color(s)).name(),
                         quill::fileNameToDisplay(m_paths[s]).toHtmlEscaped());
    }
    return text;
}

QString MergedPart::note() const
{
    const LanguageResources& texts = LanguageResources::current();
    if (!m_merge) {
        return {};
    }
    QStringList timeless;
    const std::vector<bool> none = m_merge->timeless();
    for (std::size_t s = 0; s < none.size(); ++s) {
        if (none[s]) {
            timeless.append(quill::fileNameToDisplay(m_rows->name(s)));
        }
    }
    if (!timeless.isEmpty()) {
        return texts.format(StringId::MergedNoTimes, timeless.join(QStringLiteral(", ")));
    }
    if (m_rows->provisional()) {
        return texts.string(StringId::MergedBuilding);
    }
    return {};
}

qint64 MergedPart::totalBytes() const
{
    qint64 total = 0;
    for (const auto& document : m_documents) {
        total += document->fileSizeBytes();
    }
    return total;
}

void MergedPart::settingsChanged()
{
    for (const auto& document : m_documents) {
        document->reloadKeywords();
    }
    if (m_rows) {
        m_rows->forgetTexts();
        m_area->viewport()->update();
        m_navigation->sync();
    }
}

void MergedPart::setNameColumn(bool shown)
{
    if (m_rows) {
        m_rows->setNameColumn(shown);
    }
}

QString MergedPart::goToTime(const TimeQuery& query)
{
    const LanguageResources& strings = LanguageResources::current();
    if (!m_rows || m_rows->rowCount() == 0) {
        return strings.string(StringId::NoTimesInLog);
    }
    bool reading = false;
    LineNumber indexed = 0;
    LineNumber lines = 0;
    for (std::size_t s = 0; s < m_times.size(); ++s) {
        DocumentTimeIndex& times = *m_times[s];
        if (times.state() == DocumentTimeIndex::State::Idle) {
            times.start();
        }
        if (times.state() != DocumentTimeIndex::State::NoTimes) {
            times.waitCaughtUp(std::chrono::milliseconds(300));
        }
        if (times.state() == DocumentTimeIndex::State::Building ||
            times.state() == DocumentTimeIndex::State::Idle) {
            reading = true;
        }
        indexed += times.indexedLines();
        lines += m_documents[s]->lineCount();
    }
    if (reading) {
        const auto percent = int(std::uint64_t(indexed) * 100 / std::max<LineNumber>(1, lines));
        return strings.format(StringId::TimesBeingRead, QString::number(std::min(percent, 99)));
    }
    std::optional<TimeMs> target;
    switch (query.kind) {
    case TimeQuery::Kind::Moment:
        target = query.value;
        break;
    case TimeQuery::Kind::TimeOfDay: {
        const MergedRows::Place place = m_rows->placeOfRow(m_area->currentRow());
        std::optional<TimeMs> day = m_times[place.source]->timeOfLine(place.line);
        for (std::size_t s = 0; !day && s < m_times.size(); ++s) {
            day = m_times[s]->firstTime();
        }
        if (day) {
            target = localDayStart(*day) + query.value;
        }
        break;
    }
    case TimeQuery::Kind::BeforeLast:
        for (const auto& times : m_times) {
            if (const std::optional<TimeMs> last = times->lastLineTime();
                last && (!target || *last - query.value > *target)) {
                target = *last - query.value;
            }
        }
        break;
    }
    if (!target) {
        return strings.string(StringId::NoTimesInLog);
    }
    // The rows go by each file's latest time so far, as the index finds its lines: the first
    // row at the time is the first of each file's first lines there.
    std::size_t row = m_rows->rowCount();
    for (std::size_t s = 0; s < m_times.size(); ++s) {
        const auto found = m_times[s]->firstLineAtOrAfter(*target);
        if (found && found->where != DocumentTimeIndex::Found::Where::AfterLast) {
            row = std::min(row, m_rows->rowOfPlace({s, found->line}));
        }
    }
    m_area->selectInRow(std::min(row, m_rows->rowCount() - 1), 0, -1);
    return {};
}
