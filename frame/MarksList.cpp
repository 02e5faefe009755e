#include "frame/MarksList.h"

#include "engine/DocumentTimeIndex.h"
#include "engine/LogDocument.h"
#include "frame/LogTab.h"
#include "frame/MergedPart.h"
#include "frame/TimeCommands.h"
#include "resources/LanguageResources.h"
#include "resources/QtText.h"
#include "view/LogView.h"
#include "view/MergedMarkNotes.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QTreeWidget>
#include <QVBoxLayout>

MarksList::MarksList(LogTab* tab, QWidget* parent) : QDialog(parent), m_tab(tab)
{
    const LanguageResources& texts = LanguageResources::current();
    setObjectName(QStringLiteral("marksList"));
    setWindowTitle(texts.string(StringId::MarksCaption));
    auto* layout = new QVBoxLayout(this);
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("marks"));
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setHeaderLabels({texts.string(StringId::MarksLineColumn),
                             texts.string(StringId::MarksTimeColumn),
                             texts.string(StringId::MarksNoteColumn)});
    m_list->header()->setStretchLastSection(true);
    layout->addWidget(m_list);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { goTo(item); });
    connect(tab->view(), &LogView::marksChanged, this, &MarksList::refresh);
    connect(tab, &LogTab::timesChanged, this, &MarksList::refresh);
    if (tab->merged() != nullptr) {
        connect(tab->merged(), &MergedPart::statusChanged, this, &MarksList::refresh);
        connect(MergedMarkNotes::of(tab->merged()->area()), &MergedMarkNotes::notesChanged, this,
                &MarksList::refresh);
    }
    // A tab that closes takes its list along.
    connect(tab, &QObject::destroyed, this, &QWidget::close);
    resize(520, 320);
    refresh();
}

void MarksList::refresh()
{
    if (!m_tab) {
        return;
    }
    if (m_tab->merged() != nullptr) {
        refreshMerged();
        return;
    }
    const QTreeWidgetItem* current = m_list->currentItem();
    const qlonglong keep =
        current != nullptr ? current->data(LineColumn, Qt::UserRole).toLongLong() : -1;
    m_list->clear();
    const LogDocument* document = m_tab->document();
    const LineMarks& marks = document->marks();
    if (marks.isEmpty()) {
        auto* none = new QTreeWidgetItem(m_list);
        none->setText(NoteColumn, LanguageResources::current().string(StringId::NoMarks));
        none->setFlags(Qt::NoItemFlags);
        return;
    }
    const DocumentTimeIndex* times = m_tab->timeIndex();
    QTreeWidgetItem* chosen = nullptr;
    for (const LineNumber line : marks.lines()) {
        auto* item = new QTreeWidgetItem(m_list);
        item->setData(LineColumn, Qt::UserRole, qlonglong(line));
        item->setText(LineColumn, QString::number(qulonglong(line) + 1));
        item->setTextAlignment(LineColumn, Qt::AlignRight | Qt::AlignVCenter);
        if (const std::optional<TimeMs> time = times->timeOfLine(line)) {
            item->setText(TimeColumn, TimeCommands::timeText(*time));
        }
        item->setText(NoteColumn, quill::toQString(marks.note(line)));
        if (qlonglong(line) == keep || chosen == nullptr) {
            chosen = item;
        }
    }
    m_list->setCurrentItem(chosen);
    m_list->resizeColumnToContents(LineColumn);
    m_list->resizeColumnToContents(TimeColumn);
}

void MarksList::keyPressEvent(QKeyEvent* event)
{
    // Enter belongs to the list's rows, never to a default button.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        goTo(m_list->currentItem());
        return;
    }
    QDialog::keyPressEvent(event);
}

void MarksList::goTo(QTreeWidgetItem* item)
{
    if (item == nullptr || !m_tab || !(item->flags() & Qt::ItemIsEnabled)) {
        return;
    }
    const auto line = LineNumber(item->data(LineColumn, Qt::UserRole).toLongLong());
    if (m_tab->merged() != nullptr) {
        goToMerged(std::size_t(line));
        return;
    }
    LogTab* tab = m_tab;
    close();
    tab->showLine(line);
    tab->view()->setFocus();
}
