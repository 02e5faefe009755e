#pragma once

// Colours as the settings keep them (0x00BBGGRR) and as Qt paints them, and the one colour
// dialog every settings dialog opens. Main (user-interface) thread only.

#include "settings/Keyword.h"

#include <QColor>
#include <QIcon>
#include <QSize>
#include <QString>

#include <optional>

class QWidget;

namespace quill {

inline QColor colorFromRef(ColorRef ref)
{
    return QColor(static_cast<int>(ref & 0xFF), static_cast<int>((ref >> 8) & 0xFF),
                  static_cast<int>((ref >> 16) & 0xFF));
}

inline ColorRef colorRefFrom(const QColor& color)
{
    const QColor rgb = color.toRgb();
    return static_cast<ColorRef>(rgb.red()) | (static_cast<ColorRef>(rgb.green()) << 8) |
           (static_cast<ColorRef>(rgb.blue()) << 16);
}

// Runs Qt's own colour dialog (the same on every desktop, so tests can answer it) modally,
// preset to initial; the chosen colour on OK, nullopt on Cancel.
std::optional<QColor> chooseColor(QWidget* parent, const QColor& initial, const QString& title);

// A framed square of one colour for buttons that show the colour they choose.
QIcon colorSwatchIcon(const QColor& color, QSize size = QSize(24, 16));

} // namespace quill
