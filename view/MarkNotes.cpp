#include "view/MarkNotes.h"

#include "engine/LogDocument.h"
#include "resources/LanguageResources.h"
#include "resources/QtText.h"
#include "view/LogView.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QScrollBar>
#include <QToolTip>

#include <algorithm>

MarkNoteEditor::MarkNoteEditor(QWidget* viewport, QWidget* home) : QLineEdit(viewport), m_home(home)
{
    setObjectName(QStringLiteral("markNoteEditor"));
    setPlaceholderText(LanguageResources::current().string(StringId::MarkNotePlaceholder));
}

void MarkNoteEditor::open(LineNumber line, std::uint64_t generation, const QString& note, int top,
                          int rowHeight)
{
    m_line = line;
    m_generation = generation;
    setText(note);
    setModified(false);
    selectAll();
    const QSize area = parentWidget()->size();
    const int fieldHeight = sizeHint().height();
    int y = top + rowHeight;
    if (y + fieldHeight > area.height()) {
        y = std::max(0, top - fieldHeight);
    }
    const int width = std::min(area.width(), std::max(200, area.width() * 2 / 3));
    setGeometry(0, y, width, fieldHeight);
    show();
    raise();
    setFocus(Qt::OtherFocusReason);
}

void MarkNoteEditor::close(bool refocus)
{
    setModified(false);
    hide();
    if (refocus) {
        m_home->setFocus();
    }
}

void MarkNoteEditor::cancel()
{
    close(hasFocus());
}

void MarkNoteEditor::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        emit accepted(false);
        return;
    case Qt::Key_Escape:
        event->accept();
        cancel();
        return;
    default:
        QLineEdit::keyPressEvent(event);
    }
}

void MarkNoteEditor::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    // A menu or a tooltip takes the keyboard only for a moment; the field stays open.
    if (event->reason() == Qt::PopupFocusReason || !isVisible()) {
        return;
    }
    if (isModified()) {
        emit accepted(true);
    } else {
        cancel();
    }
}

MarkNotes::MarkNotes(LogView* view) : QObject(view), m_view(view)
{
    view->viewport()->installEventFilter(this);
}

void MarkNotes::edit(LineNumber line)
{
    LogDocument* document = m_view->document();
    if (document == nullptr || line >= document->lineCount()) {
        return;
    }
    if (m_editor == nullptr) {
        m_editor = new MarkNoteEditor(m_view->viewport(), m_view);
        connect(m_editor, &MarkNoteEditor::accepted, this,
                [this](bool fromFocusOut) { keep(!fromFocusOut); });
    }
    const int height = int(std::max<std::uint32_t>(1, m_view->lineHeight()));
    int top = 0;
    if (m_view->wrapsLines()) {
        for (const WrapScroller::Row& row : m_view->screenRows()) {
            if (row.item == line) {
                top = row.y;
                break;
            }
        }
    } else {
        top = int(std::clamp<std::int64_t>(std::int64_t(line) * height -
                                               m_view->verticalScrollBar()->value(),
                                           0, m_view->viewport()->height()));
    }
    m_editor->open(line, document->contentGeneration(),
                   quill::toQString(document->marks().note(line)), top, height);
}

void MarkNotes::cancel()
{
    if (m_editor != nullptr && m_editor->isVisible()) {
        m_editor->close(m_editor->hasFocus());
    }
}

void MarkNotes::keep(bool refocus)
{
    const LineNumber line = m_editor->line();
    const QString text = m_editor->text();
    const bool current = m_view->document() != nullptr &&
                         m_view->document()->contentGeneration() == m_editor->generation();
    m_editor->close(false);
    // The lines started over meanwhile (reload, Clear): the number names another line now.
    if (current) {
        m_view->setMarkNote(line, quill::toU16(text));
    }
    if (refocus) {
        m_view->setFocus();
    }
}

std::optional<QString> MarkNotes::tipFor(LineNumber line) const
{
    const LogDocument* document = m_view->document();
    if (document == nullptr) {
        return std::nullopt;
    }
    const std::u16string& note = document->marks().note(line);
    if (note.empty()) {
        return std::nullopt;
    }
    return quill::toQString(note);
}

bool MarkNotes::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::ToolTip && watched == m_view->viewport()) {
        auto* help = static_cast<QHelpEvent*>(event);
        const LogDocument* document = m_view->document();
        const LineNumber line = m_view->lineFromPoint(help->pos().y());
        const std::optional<QString> tip =
            document != nullptr && line < document->lineCount() ? tipFor(line) : std::nullopt;
        if (tip) {
            QToolTip::showText(help->globalPos(), *tip, m_view->viewport());
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }
    return QObject::eventFilter(watched, event);
}
