#include "view/SelectionClipboard.h"

#include "engine/LogDocument.h"
#include "platform/NarrowCodec.h"

#include <QByteArray>

#include <cstdio>
#include <cstring>
#include <new>
#include <unistd.h>

namespace {

std::uint64_t s_availableForTesting = 0;

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

QByteArray narrowBytes(const QString& text)
{
    const std::string narrow = quill::utf16ToNarrow(
        std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()), std::size_t(text.size())));
    return QByteArray(narrow.data(), qsizetype(narrow.size()));
}

} // namespace

std::uint64_t AvailableMemoryBytes()
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

void SetAvailableMemoryForTesting(std::uint64_t bytes)
{
    s_availableForTesting = bytes;
}

std::uint64_t ClipboardPeakBytes(std::uint64_t units)
{
    // The QString (2 bytes a unit), the UTF-8 a pasting program receives (up to 3 bytes a
    // unit), and the narrow form when the locale is not UTF-8 (up to 4 in multi-byte sets).
    const std::uint64_t perUnit = quill::narrowCharset().isUtf8 ? 5 : 9;
    return units * perUnit;
}

CopyResult BuildSelectionText(CBrackenlyDoc& document, const DocSelection& selection,
                              QString& text)
{
    CopyResult result;
    text.clear();
    if (!selection.valid) {
        return result;
    }
    const std::uint64_t units = document.SelectedTextBound(selection);
    result.neededBytes = ClipboardPeakBytes(units);
    result.availableBytes = AvailableMemoryBytes();
    if (result.neededBytes > result.availableBytes / 2) {
        result.outcome = CopyOutcome::TooLarge;
        return result;
    }
    try {
        // Reserved once: growing by doubling would hold the old and the new buffer at once.
        text.reserve(qsizetype(units));
        const bool read = document.ForEachSelectedPiece(
            selection,
            [](void* context, std::u16string_view piece) {
                static_cast<QString*>(context)->append(
                    QStringView(piece.data(), qsizetype(piece.size())));
            },
            &text);
        if (!read) {
            text.clear();
            result.outcome = CopyOutcome::Unreadable;
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

SelectionMimeData::SelectionMimeData(QString text) : m_text(std::move(text)), m_bBuilt(true) {}

SelectionMimeData::SelectionMimeData(std::shared_ptr<SelectionTextSource> source,
                                     const DocSelection& selection, std::uint64_t generation)
    : m_source(std::move(source)), m_selection(selection), m_generation(generation)
{
}

QStringList SelectionMimeData::formats() const
{
    return {unicodeFormat(), plainFormat()};
}

bool SelectionMimeData::hasFormat(const QString& mimeType) const
{
    return mimeType == unicodeFormat() || mimeType == plainFormat();
}

const QString& SelectionMimeData::builtText() const
{
    if (!m_bBuilt) {
        m_bBuilt = true;
        CBrackenlyDoc* document = m_source ? m_source->document() : nullptr;
        // Text of a document that was reset since the selection was made no longer exists;
        // handing out whatever now sits at those lines would paste something never selected.
        if (document != nullptr && document->ContentGeneration() == m_generation) {
            BuildSelectionText(*document, m_selection, m_text);
        }
    }
    return m_text;
}

QVariant SelectionMimeData::retrieveData(const QString& mimeType, QMetaType type) const
{
    Q_UNUSED(type);
    if (mimeType == unicodeFormat()) {
        return builtText();
    }
    if (mimeType == plainFormat()) {
        if (quill::narrowCharset().isUtf8) {
            return builtText();
        }
        return narrowBytes(builtText());
    }
    return {};
}
