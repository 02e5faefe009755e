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
        m_editor = new MarkNoteEditor(m_area->viewport(), m_area);
        connect(m_editor, &MarkNoteEditor::accepted, this,
                [this](bool fromFocusOut) { keep(!fromFocusOut); });
    }
    const MergedRows::Place at = rows()->placeOfRow(row);
    const LogDocument& document = rows()->document(at.source);
    m_source = at.source;
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
    m_editor->open(at.line, document.contentGeneration(),
                   quill::toQString(document.marks().note(at.line)), top, height);
}

void MergedMarkNotes::keep(bool refocus)
{
    LogDocument& document = rows()->document(m_source);
    const LineNumber line = m_editor->line();
    const QString text = m_editor->text();
    m_editor->close(refocus);
    // The file started over meanwhile (reload, Clear): the number names another line now.
    if (document.contentGeneration() == m_editor->generation() && line < document.lineCount()) {
        document.marks().mark(line, quill::toU16(text));
        m_area->viewport()->update();
        emit notesChanged();
    }
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
