#include "dialogs/ColorChooser.h"

#include <QColorDialog>
#include <QPainter>
#include <QPixmap>

namespace quill {

std::optional<QColor> chooseColor(QWidget* parent, const QColor& initial, const QString& title)
{
    QColorDialog dialog(initial, parent);
    dialog.setOption(QColorDialog::DontUseNativeDialog);
    if (!title.isEmpty()) {
        dialog.setWindowTitle(title);
    }
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.selectedColor();
}

QIcon colorSwatchIcon(const QColor& color, QSize size)
{
    QPixmap pixmap(size);
    pixmap.fill(color);
    QPainter painter(&pixmap);
    painter.setPen(QColor(Qt::gray));
    painter.drawRect(0, 0, size.width() - 1, size.height() - 1);
    return QIcon(pixmap);
}

} // namespace quill
