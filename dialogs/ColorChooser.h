#pragma once

// The one colour dialog every settings dialog opens, and colour swatches (the conversions
// from the settings' colours are the renderer's). Main (user-interface) thread only.

#include "settings/Keyword.h"
#include "view/LogRenderer.h"

#include <QColor>
#include <QIcon>
#include <QSize>
#include <QString>

#include <optional>

class QWidget;

namespace quill {

// Runs Qt's own colour dialog (the same on every desktop, so tests can answer it) modally,
// preset to initial; the chosen colour on OK, nullopt on Cancel.
std::optional<QColor> chooseColor(QWidget* parent, const QColor& initial, const QString& title);

// A framed square of one colour for buttons that show the colour they choose.
QIcon colorSwatchIcon(const QColor& color, QSize size = QSize(24, 16));

} // namespace quill
