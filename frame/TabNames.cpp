#include "frame/TabNames.h"

#include <algorithm>

namespace quill {

namespace {

const QChar Ellipsis(0x2026);
// Characters kept of the shared start before its ellipsis, and of the shared end after it.
constexpr qsizetype KeepOfStart = 3;
constexpr qsizetype KeepOfEnd = 4;

// Moves a cut position off the second half of a surrogate pair.
qsizetype whole(const QString& text, qsizetype at)
{
    if (at > 0 && at < text.size() && text.at(at).isLowSurrogate()) {
        --at;
    }
    return at;
}

// text without its characters [from, from + count), an ellipsis in their place.
QString cut(const QString& text, qsizetype from, qsizetype count)
{
    const qsizetype begin = whole(text, from);
    const qsizetype end = whole(text, from + count);
    return text.left(begin) + Ellipsis + text.mid(end);
}

} // namespace

SharedParts sharedParts(const QStringList& names)
{
    SharedParts shared;
    if (names.size() < 2) {
        return shared;
    }
    qsizetype start = names.front().size();
    for (const QString& name : names) {
        start = std::min(start, name.size());
        qsizetype i = 0;
        while (i < start && name.at(i) == names.front().at(i)) {
            ++i;
        }
        start = i;
    }
    start = whole(names.front(), start);
    qsizetype end = names.front().size() - start;
    for (const QString& name : names) {
        end = std::min(end, name.size() - start);
        qsizetype i = 0;
        while (i < end &&
               name.at(name.size() - 1 - i) == names.front().at(names.front().size() - 1 - i)) {
            ++i;
        }
        end = i;
    }
    const QString& first = names.front();
    if (end > 0 && first.at(first.size() - end).isLowSurrogate()) {
        --end;
    }
    shared.start = start;
    shared.end = end;
    return shared;
}

QString shortTabName(const QString& name, SharedParts shared, int maxWidth, const TextWidth& width)
{
    if (width(name) <= maxWidth) {
        return name;
    }
    const qsizetype start = std::clamp<qsizetype>(shared.start, 0, name.size());
    const qsizetype end = std::clamp<qsizetype>(shared.end, 0, name.size() - start);
    // The shared start: its first characters, the ellipsis, and as much of its end (next
    // to the part that differs) as there is room for.
    const qsizetype head = std::min(start, KeepOfStart);
    for (qsizetype count = 1; count <= start - head; ++count) {
        QString shown = cut(name, head, count);
        if (width(shown) <= maxWidth) {
            return shown;
        }
    }
    const QString shortStart = start - head > 0 ? cut(name, head, start - head) : name;
    // The shared end: what follows the part that differs goes, its last characters stay.
    const qsizetype tail = std::min(end, KeepOfEnd);
    const qsizetype endBegin = shortStart.size() - end;
    for (qsizetype count = 1; count <= end - tail; ++count) {
        QString shown = cut(shortStart, endBegin, count);
        if (width(shown) <= maxWidth) {
            return shown;
        }
    }
    const QString rest = end - tail > 0 ? cut(shortStart, endBegin, end - tail) : shortStart;
    // Still too wide: the middle of what is left.
    for (qsizetype keep = rest.size() - 1; keep > 0; --keep) {
        const qsizetype left = (keep + 1) / 2;
        // One ellipsis where this cut meets an earlier one.
        QString shown = cut(rest, left, rest.size() - keep).replace(QString(2, Ellipsis), Ellipsis);
        if (width(shown) <= maxWidth) {
            return shown;
        }
    }
    return QString(Ellipsis);
}

QString literalLabel(QString text)
{
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

QString literalTitle(QString text)
{
    return text.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
}

} // namespace quill
