#pragma once

// The boundary between the core's UTF-16 text (std::u16string) and Qt's QString: both hold
// UTF-16 code units, so the conversions copy without decoding. GUI code only; the core
// libraries never include this header.

#include <QString>
#include <QStringView>

#include <string>
#include <string_view>

namespace quill {

// A plain copy: QString::fromUtf16 would drop a leading U+FEFF as a byte-order mark, and
// escaped file names (platform/FileName.h) must keep their lone surrogates.
inline QString toQString(std::u16string_view text)
{
    return QString(reinterpret_cast<const QChar*>(text.data()),
                   static_cast<qsizetype>(text.size()));
}

// The same text without a copy, for painting and measuring.
inline QStringView toQStringView(std::u16string_view text)
{
    return QStringView(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::u16string toU16(const QString& text)
{
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()),
                          static_cast<std::size_t>(text.size()));
}

} // namespace quill
