#include "view/LineGutter.h"

#include "view/LogView.h"
#include "view/MarkNotes.h"

#include "engine/LogDocument.h"
#include "resources/LanguageResources.h"
#include "settings/SettingsStore.h"

#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QToolTip>

#include <algorithm>

namespace {

// Fewer digits than this never narrow the gutter: a growing file keeps its text in place
// until it passes 999 lines.
constexpr int LeastDigits = 3;

int digitsOf(std::uint32_t value)
{
    int digits = 1;
    for (; value >= 10; value /= 10) {
        ++digits;
    }
    return digits;
}

} // namespace

LineGutter::LineGutter(LogView* view) : QWidget(view), m_view(view)
{
    setObjectName(QStringLiteral("lineGutter"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::ArrowCursor);
}

int LineGutter::markColumnWidth() const
{
    return std::max(6, m_view->renderer().averageCharWidth() * 2);
}

int LineGutter::widthFor(std::uint32_t lineCount) const
{
    const int digits = std::max(LeastDigits, digitsOf(lineCount));
    const int nine = static_cast<int>(m_view->renderer().textWidth(u"9"));
    // One character's room after the numbers keeps them off the text.
    return markColumnWidth() + (digits + 1) * std::max(1, nine);
}

void LineGutter::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const QRect area = event->rect();
    const QColor background = palette().color(QPalette::Window);
    painter.fillRect(area, background);
    const LogDocument* document = m_view->document();
    const int height = static_cast<int>(m_view->lineHeight());
    if (document == nullptr || height <= 0) {
        return;
    }
    const LogRenderer& renderer = m_view->renderer();
    LogRenderer::RowStyle style;
    style.text = palette().color(QPalette::PlaceholderText);
    style.background = background;
    style.fillBackground = false;
    const QColor mark = LogView::markColor();
    const int markWidth = markColumnWidth();
    const int numbersRight = width() - std::max(1, static_cast<int>(renderer.textWidth(u"9")));
    const LineMarks& marks = document->marks();
    auto paintLine = [&](std::int64_t line, int y) {
        const QString number = QString::number(line + 1);
        const int textWidth = static_cast<int>(renderer.textWidth(number));
        renderer.paintRow(painter, y, -(numbersRight - textWidth), markWidth, numbersRight, number,
                          style);
    };
    auto paintMark = [&](int y) {
        const int side = std::max(4, std::min(markWidth, height) - 4);
        const QRect dot((markWidth - side) / 2, y + (height - side) / 2, side, side);
        painter.fillRect(dot, mark);
    };
    if (m_view->wrapsLines()) {
        // On the first row of each line.
        const std::vector<WrapScroller::Row> rows = m_view->screenRows();
        for (const WrapScroller::Row& row : rows) {
            if (row.start != 0 || row.y + height <= area.top() || row.y > area.bottom()) {
                continue;
            }
            paintLine(std::int64_t(row.item), row.y);
            if (marks.isMarked(LineNumber(row.item))) {
                paintMark(row.y);
            }
        }
        return;
    }
    const std::uint32_t lines = document->lineCount();
    const int scrollY = m_view->verticalScrollBar()->value();
    const std::int64_t top = (std::int64_t(area.top()) + scrollY) / height;
    const std::int64_t bottom =
        std::min<std::int64_t>(lines, (std::int64_t(area.bottom()) + scrollY) / height + 1);
    auto [from, to] = marks.inRange(static_cast<LineNumber>(top), static_cast<LineNumber>(bottom));
    for (std::int64_t line = top; line < bottom; ++line) {
        paintLine(line, static_cast<int>(line * height - scrollY));
    }
    for (auto it = from; it != to; ++it) {
        paintMark(static_cast<int>(std::int64_t(*it) * height - scrollY));
    }
}

void LineGutter::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    const int height = static_cast<int>(m_view->lineHeight());
    if (event->button() != Qt::LeftButton || height <= 0) {
        return;
    }
    if (const std::optional<LineNumber> line = lineAt(event->position().toPoint().y())) {
        m_view->toggleMark(*line);
    }
}

std::optional<LineNumber> LineGutter::lineAt(int y) const
{
    const int height = static_cast<int>(m_view->lineHeight());
    const LogDocument* document = m_view->document();
    if (height <= 0 || document == nullptr) {
        return std::nullopt;
    }
    std::int64_t line = -1;
    if (m_view->wrapsLines()) {
        // Any row of a line stands for that line.
        for (const WrapScroller::Row& row : m_view->screenRows()) {
            if (y >= row.y && y < row.y + height) {
                line = std::int64_t(row.item);
                break;
            }
        }
    } else {
        line = (std::int64_t(y) + m_view->verticalScrollBar()->value()) / height;
    }
    if (line < 0 || line >= std::int64_t(document->lineCount())) {
        return std::nullopt;
    }
    return static_cast<LineNumber>(line);
}

void LineGutter::contextMenuEvent(QContextMenuEvent* event)
{
    event->accept();
    const std::optional<LineNumber> line = lineAt(event->pos().y());
    if (!line) {
        return;
    }
    const LanguageResources& texts = LanguageResources::current();
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("gutterMenu"));
    QAction* toggle = menu.addAction(texts.string(StringId::GutterToggleMark));
    QAction* note = menu.addAction(texts.string(StringId::GutterMarkNote));
    QPointer<LogView> view(m_view);
    const LineNumber target = *line;
    connect(toggle, &QAction::triggered, this, [view, target] {
        if (view) {
            view->toggleMark(target);
        }
    });
    connect(note, &QAction::triggered, this, [view, target] {
        if (view) {
            view->editMarkNote(target);
        }
    });
    menu.exec(event->globalPos());
}

bool LineGutter::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const std::optional<LineNumber> line = lineAt(help->pos().y());
        const std::optional<QString> tip = line ? m_view->markNotes()->tipFor(*line) : std::nullopt;
        if (tip) {
            QToolTip::showText(help->globalPos(), *tip, this);
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }
    return QWidget::event(event);
}
