// Where the main window stands: stored when it closes and for New Window, restored onto a
// screen that still exists, and kept above other windows when asked.

#include "frame/MainFrame.h"

#include "settings/SettingsStore.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace {

// Offset of a window opened from the stored position against the one that stored it.
constexpr int CascadeOffset = 30;

} // namespace

void MainFrame::applyTopMost()
{
    const bool topMost = SettingsStore::instance().boolValue(Setting::TopMost);
    if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == topMost) {
        return;
    }
    // Changing a window flag hides a shown window; show it again where it was. The window
    // is not activated: doing that after every appended text would take the keyboard away
    // from whatever the user is typing into.
    const bool wasVisible = isVisible();
    const QRect geometryBefore = geometry();
    setWindowFlag(Qt::WindowStaysOnTopHint, topMost);
    if (wasVisible) {
        setGeometry(geometryBefore);
        setAttribute(Qt::WA_ShowWithoutActivating, true);
        show();
        setAttribute(Qt::WA_ShowWithoutActivating, false);
    }
}

void MainFrame::saveWindowPosition(bool cascade)
{
    if (isMinimized()) {
        return;
    }
    // The window's own rectangle, without the frame the window manager draws: the one that
    // setGeometry() takes back. Storing the frame and restoring it as the inside grew the
    // window by its title bar at every start.
    QRect rect = geometry();
    if ((isMaximized() || isFullScreen()) && normalGeometry().isValid()) {
        rect = normalGeometry();
    }
    // Only a new window opened beside this one steps aside; the next start comes back
    // where the window was left.
    rect.translate(cascade ? CascadeOffset : 0, cascade ? CascadeOffset : 0);
    SettingsStore& settings = SettingsStore::instance();
    settings.setDword(Setting::WindowPosLeft, static_cast<std::uint32_t>(rect.left()));
    settings.setDword(Setting::WindowPosTop, static_cast<std::uint32_t>(rect.top()));
    settings.setDword(Setting::WindowPosRight,
                      static_cast<std::uint32_t>(rect.left() + rect.width()));
    settings.setDword(Setting::WindowPosBottom,
                      static_cast<std::uint32_t>(rect.top() + rect.height()));
}

QRect MainFrame::placeOnScreen(const QRect& rect, const QList<QRect>& screens)
{
    // Enough of the window to take hold of it: this much of it on some screen.
    constexpr int GripWidth = 64;
    constexpr int GripHeight = 32;
    const QRect* nearest = nullptr;
    qint64 nearestDistance = 0;
    for (const QRect& area : screens) {
        const QRect visible = rect.intersected(area);
        if (visible.width() >= std::min(GripWidth, rect.width()) &&
            visible.height() >= std::min(GripHeight, rect.height())) {
            return rect;
        }
        const qint64 dx = std::max({0, area.left() - rect.right(), rect.left() - area.right()});
        const qint64 dy = std::max({0, area.top() - rect.bottom(), rect.top() - area.bottom()});
        if (nearest == nullptr || dx * dx + dy * dy < nearestDistance) {
            nearest = &area;
            nearestDistance = dx * dx + dy * dy;
        }
    }
    if (nearest == nullptr) {
        return rect;
    }
    // Off every screen (a screen unplugged since, or many cascading steps): brought wholly
    // onto the nearest one, shrunk to it when larger.
    const QSize size = rect.size().boundedTo(nearest->size());
    const int x = std::clamp(rect.left(), nearest->left(), nearest->right() + 1 - size.width());
    const int y = std::clamp(rect.top(), nearest->top(), nearest->bottom() + 1 - size.height());
    return QRect(QPoint(x, y), size);
}

void MainFrame::restoreWindowPosition()
{
    SettingsStore& settings = SettingsStore::instance();
    // Stored as unsigned numbers; a window left of or above the primary screen has
    // negative edges.
    const auto left = static_cast<std::int32_t>(settings.dword(Setting::WindowPosLeft));
    const auto top = static_cast<std::int32_t>(settings.dword(Setting::WindowPosTop));
    const auto right = static_cast<std::int32_t>(settings.dword(Setting::WindowPosRight));
    const auto bottom = static_cast<std::int32_t>(settings.dword(Setting::WindowPosBottom));
    if (left == 0 && top == 0 && right == 0 && bottom == 0) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            resize(screen->availableSize() * 2 / 3);
        }
        return;
    }
    // 64-bit: damaged edges may lie anywhere in the 32-bit range.
    const auto width =
        static_cast<int>(std::clamp<std::int64_t>(std::int64_t(right) - left, 1, QWIDGETSIZE_MAX));
    const auto height =
        static_cast<int>(std::clamp<std::int64_t>(std::int64_t(bottom) - top, 1, QWIDGETSIZE_MAX));
    QList<QRect> screens;
    for (const QScreen* screen : QGuiApplication::screens()) {
        screens.append(screen->availableGeometry());
    }
    setGeometry(placeOnScreen(QRect(left, top, width, height), screens));
}
