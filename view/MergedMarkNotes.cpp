#include "view/MergedMarkNotes.h"

#include "engine/LogDocument.h"
#include "resources/QtText.h"
#include "view/MarkNotes.h"
#include "view/MergedArea.h"
#include "view/MergedRowSource.h"

#include <QHelpEvent>
#include <QToolTip>

#include <algorithm>

MergedMarkNotes* MergedMarkNotes::of(MergedArea* area)
{
    if (auto* notes = area->findChild<MergedMarkNotes*>(QString(), Qt::FindDirectChildrenOnly)) {
        return notes;
    }
    return new MergedMarkNotes(area);
}

MergedMarkNotes::MergedMarkNotes(MergedArea* area) : QObject(area), m_area(area)
{
    area->viewport()->installEventFilter(this);
}

MergedRowSource* MergedMarkNotes::rows() const
{
    return static_cast<MergedRowSource*>(m_area->rowSource());
}

void MergedMarkNotes::edit(std::size_t row)
{
    if (row >= m_area->rowCount()) {
        return;
    }
    if (m_editor == nullptr) {
        m_editor = new MarkNoteEditor(m_area->viewport());
        connect(m_editor, &MarkNoteEditor::accepted, this,
                [this](bool fromFocusOut) { keep(!fromFocusOut); });
        connect(m_editor, &MarkNoteEditor::cancelled, this, [this] {
            const bool hadFocus = m_editor->hasFocus();
            m_editor->hide();
            if (hadFocus) {
                m_area->setFocus();
            }
        });
    }
    const MergedRows::Place at = rows()->placeOfRow(row);
    const LogDocument& document = rows()->document(at.source);
    m_source = at.source;
    m_editor->setLine(at.line, document.contentGeneration());
    m_editor->setText(quill::toQString(document.marks().note(at.line)));
    m_editor->setModified(false);
    m_editor->selectAll();
    place(row);
    m_editor->show();
    m_editor->raise();
    m_editor->setFocus(Qt::OtherFocusReason);
}

void MergedMarkNotes::keep(bool refocus)
{
    LogDocument& document = rows()->document(m_source);
    const LineNumber line = m_editor->line();
    m_editor->setModified(false);
    m_editor->hide();
    // The file started over meanwhile (reload, Clear): the number names another line now.
    if (document.contentGeneration() == m_editor->generation() && line < document.lineCount()) {
        document.marks().mark(line, quill::toU16(m_editor->text()));
        m_area->viewport()->update();
        emit notesChanged();
    }
    if (refocus) {
        m_area->setFocus();
    }
}

void MergedMarkNotes::place(std::size_t row)
{
    const int height = std::max(1, m_area->rowHeight());
    int top = 0;
    if (m_area->wrapsLines()) {
        for (const WrapScroller::Row& shown : m_area->screenRows()) {
            if (shown.item == row) {
                top = shown.y;
                break;
            }
        }
    } else {
        top = int(std::clamp<std::int64_t>(
            (std::int64_t(row) - std::int64_t(m_area->firstVisibleRow())) * height, 0,
            m_area->viewport()->height()));
    }
    const QSize area = m_area->viewport()->size();
    const int fieldHeight = m_editor->sizeHint().height();
    int y = top + height;
    if (y + fieldHeight > area.height()) {
        y = std::max(0, top - fieldHeight);
    }
    const int width = std::min(area.width(), std::max(200, area.width() * 2 / 3));
    m_editor->setGeometry(0, y, width, fieldHeight);
}

std::optional<QString> MergedMarkNotes::tipFor(std::size_t row) const
{
    if (row >= m_area->rowCount()) {
        return std::nullopt;
    }
    const MergedRows::Place at = rows()->placeOfRow(row);
    const std::u16string& note = rows()->document(at.source).marks().note(at.line);
    if (note.empty()) {
        return std::nullopt;
    }
    return quill::toQString(note);
}

bool MergedMarkNotes::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::ToolTip && watched == m_area->viewport()) {
        auto* help = static_cast<QHelpEvent*>(event);
        const std::optional<QString> tip = tipFor(m_area->lineFromPoint(help->pos().y()));
        if (tip) {
            QToolTip::showText(help->globalPos(), *tip, m_area->viewport());
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }
    return QObject::eventFilter(watched, event);
}
