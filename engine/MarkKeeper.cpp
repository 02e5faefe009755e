#include "engine/MarkKeeper.h"

#include "platform/AtomicFile.h"
#include "platform/FileName.h"
#include "platform/NarrowCodec.h"
#include "platform/ReadOnlyFile.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr std::string_view Header = "quillstream marks 1";
constexpr std::string_view PathPrefix = "path ";

constexpr std::uint64_t FnvBasis = 0xcbf29ce484222325ull;
constexpr std::uint64_t FnvPrime = 0x100000001b3ull;

std::uint64_t fnv(std::uint64_t hash, const std::uint8_t* bytes, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i) {
        hash = (hash ^ bytes[i]) * FnvPrime;
    }
    return hash;
}

// A line of the file holds any bytes but its own end: backslash, line feed and carriage
// return are written as \\, \n and \r.
void appendEscaped(std::string& out, std::string_view bytes)
{
    for (const char c : bytes) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
            break;
        }
    }
}

std::optional<std::string> unescaped(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) {
            return std::nullopt;
        }
        switch (text[i]) {
        case '\\':
            out += '\\';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        default:
            return std::nullopt;
        }
    }
    return out;
}

template <typename T> std::optional<T> number(std::string_view text, int base)
{
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<KeptMark> parseMark(std::string_view line)
{
    KeptMark mark;
    std::array<std::string_view, 3> fields;
    for (std::string_view& field : fields) {
        const std::size_t space = line.find(' ');
        field = line.substr(0, space);
        line = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
    }
    const auto offset = number<std::int64_t>(fields[0], 10);
    const auto length = number<std::uint64_t>(fields[1], 10);
    const auto hash = fields[2].size() == 16 ? number<std::uint64_t>(fields[2], 16) : std::nullopt;
    const std::optional<std::string> note = unescaped(line);
    if (!offset || *offset < 0 || !length || *length == 0 || !hash || !note) {
        return std::nullopt;
    }
    mark.offset = *offset;
    mark.length = *length;
    mark.hash = *hash;
    mark.note = quill::utf8ToUtf16(*note);
    return mark;
}

} // namespace

std::string formatKeptMarks(const std::string& logPath, const std::vector<KeptMark>& marks)
{
    std::string text(Header);
    text += '\n';
    text += PathPrefix;
    appendEscaped(text, logPath);
    text += '\n';
    for (const KeptMark& mark : marks) {
        char numbers[64];
        const int n = std::snprintf(numbers, sizeof numbers, "%lld %llu %016llx",
                                    static_cast<long long>(mark.offset),
                                    static_cast<unsigned long long>(mark.length),
                                    static_cast<unsigned long long>(mark.hash));
        text.append(numbers, std::size_t(n));
        if (!mark.note.empty()) {
            text += ' ';
            appendEscaped(text, quill::utf16ToUtf8(mark.note));
        }
        text += '\n';
    }
    return text;
}

KeptMarksText parseKeptMarks(std::string_view text)
{
    KeptMarksText result;
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++lineNumber;
        if (lineNumber == 1) {
            if (line != Header) {
                // Not a marks file of this form at all: nothing in it can be trusted.
                result.damagedLines = 1;
                return result;
            }
            continue;
        }
        if (lineNumber == 2) {
            const std::optional<std::string> path = line.starts_with(PathPrefix)
                                                        ? unescaped(line.substr(PathPrefix.size()))
                                                        : std::nullopt;
            if (!path || path->empty()) {
                result.damagedLines = 1;
                return result;
            }
            result.logPath = *path;
            continue;
        }
        if (std::optional<KeptMark> mark = parseMark(line)) {
            result.marks.push_back(std::move(*mark));
        } else {
            ++result.damagedLines;
        }
    }
    if (lineNumber < 2) {
        result.damagedLines = 1;
    }
    return result;
}

std::optional<std::uint64_t> keptLineHash(const quill::ReadOnlyFile& file, FileOffset offset,
                                          std::uint64_t length)
{
    std::vector<std::uint8_t> buffer(std::size_t(std::min(length, 2 * HashedHalf)));
    const auto readInto = [&](std::uint8_t* to, std::size_t n, FileOffset at) {
        return file.readAt(to, n, at) == std::int64_t(n);
    };
    if (length <= 2 * HashedHalf) {
        if (!readInto(buffer.data(), buffer.size(), offset)) {
            return std::nullopt;
        }
    } else if (!readInto(buffer.data(), HashedHalf, offset) ||
               !readInto(buffer.data() + HashedHalf, HashedHalf,
                         offset + FileOffset(length - HashedHalf))) {
        return std::nullopt;
    }
    return fnv(FnvBasis, buffer.data(), buffer.size());
}

MarkKeeper::MarkKeeper(LogDocument& document, std::string folder)
    : m_document(document), m_folder(std::move(folder))
{
    m_document.addAppendListener(this);
}

MarkKeeper::~MarkKeeper()
{
    m_document.removeAppendListener(this);
}

std::string MarkKeeper::defaultFolder()
{
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr && dataHome[0] == '/') {
        return std::string(dataHome) + "/quillstream/marks";
    }
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') {
        const passwd* pw = ::getpwuid(::geteuid());
        home = pw != nullptr ? pw->pw_dir : "/";
    }
    return std::string(home) + "/.local/share/quillstream/marks";
}

std::string MarkKeeper::fileFor(const std::string& logPath) const
{
    const std::uint64_t hash =
        fnv(FnvBasis, reinterpret_cast<const std::uint8_t*>(logPath.data()), logPath.size());
    char name[32];
    std::snprintf(name, sizeof name, "%016llx.marks", static_cast<unsigned long long>(hash));
    return m_folder + "/" + name;
}

void MarkKeeper::tell(const Problem& problem)
{
    bool& told = problem.kind == Problem::Kind::Damaged ? m_toldDamaged : m_toldUnwritable;
    if (!told && m_problem) {
        told = true;
        m_problem(problem);
    }
}

std::vector<KeptMark> MarkKeeper::load(bool& damaged)
{
    damaged = false;
    const std::string file = fileFor(m_path);
    const std::optional<std::string> text = quill::readSmallFile(file, MaxFileBytes + 1);
    if (!text) {
        return {};
    }
    KeptMarksText kept =
        text->size() > MaxFileBytes ? KeptMarksText{{}, {}, 1} : parseKeptMarks(*text);
    if (kept.damagedLines > 0) {
        // What did not read stays on disk for the user; the marks that did are written
        // anew by the next save.
        const std::string aside = file + ".damaged";
        // Written anew only once its bytes are safe beside it.
        damaged = ::rename(file.c_str(), aside.c_str()) == 0;
        tell({Problem::Kind::Damaged, file, damaged ? aside : std::string(), 0});
    } else if (kept.logPath != m_path) {
        return {}; // another log's name hashed alike: not ours to use
    } else {
        m_written = *text;
    }
    return std::move(kept.marks);
}

void MarkKeeper::indexRestarted()
{
    std::string path = m_document.source() == nullptr
                           ? quill::absoluteFileName(m_document.nativePath())
                           : std::string();
    std::vector<KeptMark> kept;
    bool moved = false;
    if (path != m_path) {
        m_path = std::move(path);
        m_written.clear();
        m_toldDamaged = false;
        m_toldUnwritable = false;
        if (!m_path.empty()) {
            kept = load(moved);
        }
    } else {
        kept = std::move(m_unseen);
        for (auto& [line, mark] : m_seen) {
            kept.push_back(std::move(mark));
        }
    }
    m_unseen.clear();
    m_seen.clear();
    m_seenEpoch = m_document.indexEpoch();
    if (m_path.empty()) {
        return;
    }
    // Where each kept mark would go: the line that starts at its offset, if it is long
    // enough to hold the bytes the mark was made on.
    struct Place {
        std::size_t mark;
        LineNumber line;
    };
    std::vector<Place> places;
    bool dropped = false;
    {
        std::lock_guard lock(m_document.docAccess());
        const LineNumber count = m_document.lineCount();
        const FileOffset first = m_document.lineStart(0);
        const FileOffset end = m_document.indexedEnd();
        for (std::size_t i = 0; i < kept.size(); ++i) {
            const KeptMark& mark = kept[i];
            if (mark.offset < first) {
                m_unseen.push_back(mark);
                continue;
            }
            // The first line that starts after the offset, less one: the line holding it.
            LineNumber low = 0;
            LineNumber high = count;
            while (low < high) {
                const LineNumber mid = low + (high - low) / 2;
                if (m_document.lineStart(mid) <= mark.offset) {
                    low = mid + 1;
                } else {
                    high = mid;
                }
            }
            const bool starts = low > 0 && m_document.lineStart(low - 1) == mark.offset;
            if (mark.offset < end && starts &&
                std::uint64_t(m_document.lineStart(low) - mark.offset) >= mark.length) {
                places.push_back({i, low - 1});
            } else {
                dropped = true;
            }
        }
    }
    const quill::ReadOnlyFile file = quill::ReadOnlyFile::open(m_path);
    LineMarks& marks = m_document.marks();
    for (const Place& place : places) {
        KeptMark& mark = kept[place.mark];
        const std::optional<std::uint64_t> hash =
            file.isOpen() ? keptLineHash(file, mark.offset, mark.length) : std::nullopt;
        if (hash != mark.hash || m_seen.count(place.line) > 0) {
            dropped = true;
            continue;
        }
        marks.mark(place.line, mark.note);
        m_seen.emplace(place.line, std::move(mark));
    }
    if (dropped || moved) {
        save();
    }
    if (!m_seen.empty() && m_restored) {
        m_restored();
    }
}

void MarkKeeper::capture()
{
    const LineMarks& marks = m_document.marks();
    const std::uint64_t epoch = m_document.indexEpoch();
    if (epoch != m_seenEpoch) {
        // The lines were numbered anew (the encoding decided otherwise): take them again.
        m_seen.clear();
        m_seenEpoch = epoch;
    }
    std::map<LineNumber, KeptMark> seen;
    quill::ReadOnlyFile file;
    for (const LineNumber line : marks.lines()) {
        auto held = m_seen.find(line);
        if (held != m_seen.end()) {
            KeptMark mark = std::move(held->second);
            mark.note = marks.note(line);
            seen.emplace(line, std::move(mark));
            continue;
        }
        FileOffset start = 0;
        FileOffset end = 0;
        {
            std::lock_guard lock(m_document.docAccess());
            if (line >= m_document.lineCount()) {
                continue;
            }
            start = m_document.lineStart(line);
            end = m_document.lineStart(line + 1);
        }
        if (end <= start) {
            continue;
        }
        if (!file.isOpen()) {
            file = quill::ReadOnlyFile::open(m_path);
        }
        const std::uint64_t length = std::uint64_t(end - start);
        if (const std::optional<std::uint64_t> hash = keptLineHash(file, start, length)) {
            seen.emplace(line, KeptMark{start, length, *hash, marks.note(line)});
        }
    }
    m_seen = std::move(seen);
}

void MarkKeeper::marksChanged(bool cleared)
{
    if (m_path.empty()) {
        return;
    }
    if (cleared) {
        m_unseen.clear();
    }
    capture();
    save();
}

void MarkKeeper::save()
{
    const std::string file = fileFor(m_path);
    if (m_unseen.empty() && m_seen.empty()) {
        if (::unlink(file.c_str()) != 0 && errno != ENOENT) {
            tell({Problem::Kind::Unwritable, file, {}, errno});
        }
        m_written.clear();
        return;
    }
    std::vector<KeptMark> all = m_unseen;
    for (const auto& [line, mark] : m_seen) {
        all.push_back(mark);
    }
    std::sort(all.begin(), all.end(),
              [](const KeptMark& a, const KeptMark& b) { return a.offset < b.offset; });
    std::string text = formatKeptMarks(m_path, all);
    // Marks put back as they were read, or a note set to what it was, write nothing.
    if (text == m_written) {
        return;
    }
    if (!quill::ensurePrivateFolder(m_folder) || !quill::replaceFileAtomically(file, text)) {
        tell({Problem::Kind::Unwritable, file, {}, errno});
        return;
    }
    m_written = std::move(text);
}
