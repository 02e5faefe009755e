#include "view/SelectionClipboard.h"

#include "engine/LogDocument.h"
#include "platform/NarrowCodec.h"

#include <QByteArray>
#include <QClipboard>
#include <QGuiApplication>
#include <QMetaObject>

#include <cstdio>
#include <cstring>
#include <new>
#include <unistd.h>

namespace {

std::atomic<std::uint64_t> s_availableForTesting{0};
std::function<void()> s_startHookForTesting;

struct BuildTarget {
    QString* text;
    CopyControl* control;
};

const QString& unicodeFormat()
{
    static const QString format = QStringLiteral("text/plain;charset=utf-8");
    return format;
}

const QString& plainFormat()
{
    static const QString format = QStringLiteral("text/plain");
    return format;
}

// The narrow form goes only under a name that says its set: Qt's X11 layer serves
// "text/plain" as UTF8_STRING (and STRING as its Latin-1 reading), so narrow bytes there
// would reach every other program as broken UTF-8. Empty in a UTF-8 locale.
QString narrowFormat()
{
    const quill::NarrowCharset& charset = quill::narrowCharset();
    return charset.isUtf8
               ? QString()
               : QStringLiteral("text/plain;charset=") + QString::fromStdString(charset.codeset);
}

QByteArray narrowBytes(const QString& text)
{
    const std::string narrow = quill::utf16ToNarrow(std::u16string_view(
        reinterpret_cast<const char16_t*>(text.utf16()), std::size_t(text.size())));
    return QByteArray(narrow.data(), qsizetype(narrow.size()));
}

} // namespace

std::uint64_t availableMemoryBytes()
{
    if (s_availableForTesting != 0) {
        return s_availableForTesting;
    }
    // MemAvailable counts the page cache that can be dropped; the free pages alone would
    // refuse copies on any machine that has been reading files for a while.
    if (FILE* meminfo = std::fopen("/proc/meminfo", "re")) {
        char line[256];
        unsigned long long kib = 0;
        bool found = false;
        while (std::fgets(line, sizeof line, meminfo) != nullptr) {
            if (std::sscanf(line, "MemAvailable: %llu kB", &kib) == 1) {
                found = true;
                break;
            }
        }
        std::fclose(meminfo);
        if (found) {
            return std::uint64_t(kib) * 1024;
        }
    }
    const long pages = ::sysconf(_SC_AVPHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? std::uint64_t(pages) * std::uint64_t(pageSize) : 0;
}

void setAvailableMemoryForTesting(std::uint64_t bytes)
{
    s_availableForTesting = bytes;
}

std::uint64_t clipboardPeakBytes(std::uint64_t units)
{
    // The QString (2 bytes a unit), the UTF-8 a pasting program receives (up to 3 bytes a
    // unit), and the narrow form when the locale is not UTF-8 (up to 4 in multi-byte sets).
    const std::uint64_t perUnit = quill::narrowCharset().isUtf8 ? 5 : 9;
    return units * perUnit;
}

CopyResult buildSelectionText(LogDocument& document, const DocSelection& selection, QString& text,
                              CopyControl* control, std::uint64_t generation)
{
    CopyResult result;
    text.clear();
    if (!selection.valid) {
        return result;
    }
    const std::uint64_t units = document.selectedTextBound(selection);
    result.neededBytes = clipboardPeakBytes(units);
    result.availableBytes = availableMemoryBytes();
    if (result.neededBytes > result.availableBytes / 2) {
        result.outcome = CopyOutcome::TooLarge;
        return result;
    }
    try {
        // Reserved once: growing by doubling would hold the old and the new buffer at once.
        text.reserve(qsizetype(units));
        BuildTarget target{&text, control};
        const PieceOutcome read = document.forEachSelectedPiece(
            selection,
            [](void* context, std::u16string_view piece) {
                auto* to = static_cast<BuildTarget*>(context);
                to->text->append(QStringView(piece.data(), qsizetype(piece.size())));
                if (to->control == nullptr) {
                    return true;
                }
                to->control->unitsDone.store(std::uint64_t(to->text->size()),
                                             std::memory_order_relaxed);
                return !to->control->cancel.load(std::memory_order_relaxed);
            },
            &target, generation);
        if (read != PieceOutcome::Complete) {
            text = QString();
            result.outcome =
                read == PieceOutcome::Stopped ? CopyOutcome::Cancelled : CopyOutcome::Unreadable;
            return result;
        }
    } catch (const std::bad_alloc&) {
        text = QString();
        result.outcome = CopyOutcome::TooLarge;
        return result;
    }
    // No squeeze: it would copy the whole text for the few percent the bound overshoots.
    result.outcome = CopyOutcome::Copied;
    return result;
}

void releasePrimaryOf(const SelectionTextSource* source)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (source == nullptr || clipboard == nullptr || !clipboard->supportsSelection() ||
        !clipboard->ownsSelection()) {
        return;
    }
    const auto* offered =
        qobject_cast<const SelectionMimeData*>(clipboard->mimeData(QClipboard::Selection));
    if (offered != nullptr && offered->source() == source) {
        clipboard->clear(QClipboard::Selection);
    }
}

SelectionCopyJob::SelectionCopyJob(LogDocument& document, const DocSelection& selection,
                                   QObject* parent)
    : QObject(parent), m_bound(document.selectedTextBound(selection))
{
    // The generation the selection belongs to, taken here on the user-interface thread: a
    // Clear or reload before the thread starts must not hand out the lines that came after.
    const std::uint64_t generation = document.contentGeneration();
    m_thread = std::thread([this, &document, selection, generation] {
        if (s_startHookForTesting) {
            s_startHookForTesting();
        }
        CopyResult result = buildSelectionText(document, selection, m_text, &m_control, generation);
        // Handed over through the event queue: the user-interface thread reads the result
        // only after this event, and a job destroyed before it arrives never sees it.
        QMetaObject::invokeMethod(
            this,
            [this, result] {
                m_result = result;
                m_finished = true;
                emit finished();
            },
            Qt::QueuedConnection);
    });
}

SelectionCopyJob::~SelectionCopyJob()
{
    cancel();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void SelectionCopyJob::cancel()
{
    m_control.cancel.store(true, std::memory_order_relaxed);
}

int SelectionCopyJob::permille() const
{
    if (m_bound == 0) {
        return 0;
    }
    const std::uint64_t done = m_control.unitsDone.load(std::memory_order_relaxed);
    return int(std::min<std::uint64_t>(1000, done * 1000 / m_bound));
}

void SelectionCopyJob::setStartHookForTesting(std::function<void()> hook)
{
    s_startHookForTesting = std::move(hook);
}

SelectionMimeData::SelectionMimeData(QString text) : m_text(std::move(text)), m_built(true) {}

SelectionMimeData::SelectionMimeData(std::shared_ptr<SelectionTextSource> source,
                                     const DocSelection& selection, std::uint64_t generation)
    : m_source(std::move(source)), m_selection(selection), m_generation(generation)
{
}

QStringList SelectionMimeData::formats() const
{
    QStringList list{unicodeFormat(), plainFormat()};
    if (const QString narrow = narrowFormat(); !narrow.isEmpty()) {
        list.append(narrow);
    }
    return list;
}

bool SelectionMimeData::hasFormat(const QString& mimeType) const
{
    if (mimeType == unicodeFormat() || mimeType == plainFormat()) {
        return true;
    }
    const QString narrow = narrowFormat();
    return !narrow.isEmpty() && mimeType == narrow;
}

const QString& SelectionMimeData::builtText() const
{
    if (!m_built) {
        m_built = true;
        LogDocument* document = m_source ? m_source->document() : nullptr;
        // Text of a document that was reset since the selection was made no longer exists;
        // handing out whatever now sits at those lines would paste something never selected.
        if (document != nullptr && document->contentGeneration() == m_generation) {
            buildSelectionText(*document, m_selection, m_text);
        }
    }
    return m_text;
}

QVariant SelectionMimeData::retrieveData(const QString& mimeType, QMetaType type) const
{
    Q_UNUSED(type);
    if (mimeType == unicodeFormat() || mimeType == plainFormat()) {
        return builtText();
    }
    if (const QString narrow = narrowFormat(); !narrow.isEmpty() && mimeType == narrow) {
        return narrowBytes(builtText());
    }
    return {};
}
