#include "frame/FindAllPane.h"

#include "frame/LogTab.h"
#include "frame/MainFrame.h"
#include "frame/MergedPart.h"

#include "engine/LogDocument.h"
#include "resources/LanguageResources.h"
#include "resources/QtText.h"
#include "view/FindAllView.h"
#include "view/LogView.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

using quill::toQString;
using quill::toU16;

namespace {

const QEvent::Type SearchProgressEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

} // namespace

FindAllPane::FindAllPane(MainFrame* frame)
    : QDockWidget(frame), m_frame(frame), m_search(std::make_unique<FindAllSearch>(this))
{
    setObjectName(QStringLiteral("findAllPane"));
    const LanguageResources& resources = LanguageResources::current();
    setWindowTitle(resources.string(StringId::FindAllTitle));
    setAllowedAreas(Qt::BottomDockWidgetArea | Qt::TopDockWidgetArea);
    setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);

    auto* body = new QWidget(this);
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->setSpacing(2);
    auto* bar = new QHBoxLayout();
    m_field = new QLineEdit(body);
    m_field->setObjectName(QStringLiteral("findAllField"));
    m_field->setPlaceholderText(resources.string(StringId::FindAllPlaceholder));
    m_field->setClearButtonEnabled(true);
    bar->addWidget(m_field, 1);
    // The filter's own words for the same options.
    const StringId names[3] = {StringId::FilterMatchCase, StringId::FilterWholeWord,
                               StringId::FilterRegularExpression};
    for (int i = 0; i < 3; ++i) {
        m_options[i] = new QCheckBox(resources.string(names[i]), body);
        m_options[i]->setObjectName(QStringLiteral("findAllOption%1").arg(i));
        bar->addWidget(m_options[i]);
        connect(m_options[i], &QCheckBox::toggled, this, [this] {
            if (!m_field->text().isEmpty()) {
                startSearch();
            }
        });
    }
    layout->addLayout(bar);
    m_error = new QLabel(body);
    m_error->setObjectName(QStringLiteral("findAllError"));
    m_error->setVisible(false);
    layout->addWidget(m_error);
    auto* header = new QHBoxLayout();
    m_progress = new QLabel(body);
    m_progress->setObjectName(QStringLiteral("findAllProgress"));
    m_stop = new QPushButton(resources.string(StringId::FilterStop), body);
    m_stop->setObjectName(QStringLiteral("findAllStop"));
    m_stop->setFocusPolicy(Qt::TabFocus);
    m_stop->setEnabled(false);
    header->addWidget(m_progress, 1);
    header->addWidget(m_stop);
    layout->addLayout(header);
    m_view = new FindAllView(body);
    m_view->setAccessibleName(resources.string(StringId::FindAllPaneName));
    m_view->setHeading([this](std::size_t group, std::size_t count) {
        const LogDocument* document = &m_search->document(group);
        const QString name = nameOf(tabOf(document), document);
        return toU16(LanguageResources::current().format(StringId::FindAllHeading, name,
                                                         QLocale().toString(qulonglong(count))));
    });
    m_view->setSearch(m_search.get());
    layout->addWidget(m_view, 1);
    setWidget(body);

    m_field->installEventFilter(this);
    m_view->installEventFilter(this);
    connect(m_field, &QLineEdit::returnPressed, this, &FindAllPane::startSearch);
    connect(m_view, &FindAllView::itemChosen, this, &FindAllPane::choose);
    connect(m_stop, &QPushButton::clicked, this, [this] {
        if (m_search->progress().state == FilterState::Stopped) {
            m_search->resume();
        } else {
            m_search->stop();
        }
        updateHeader();
    });

    for (int i = 0; i < m_frame->tabCount(); ++i) {
        tabAdded(m_frame->tab(i));
    }
    updateHeader();
}

FindAllPane::~FindAllPane()
{
    detach();
}

void FindAllPane::detach()
{
    m_view->setSearch(nullptr);
    // The filters go while their documents are still there.
    m_search.reset();
    m_search = std::make_unique<FindAllSearch>(this);
    m_view->setSearch(m_search.get());
}

void FindAllPane::open()
{
    QString suggestion;
    if (LogTab* tab = m_frame->currentTab()) {
        LogDocument* document = tab->document();
        const DocSelection selection = document->selection();
        if (selection.valid && selection.startLine == selection.endLine) {
            suggestion = toQString(document->selectedText());
        }
    }
    if (!suggestion.isEmpty()) {
        m_field->setText(suggestion);
    }
    show();
    raise();
    m_field->setFocus(Qt::ShortcutFocusReason);
    m_field->selectAll();
}

void FindAllPane::startSearch()
{
    FilterTerm term;
    term.text = toU16(m_field->text());
    term.matchCase = m_options[0]->isChecked();
    term.wholeWord = m_options[1]->isChecked();
    term.regularExpression = m_options[2]->isChecked();
    const std::optional<FilterError> error = m_search->setTerm(term);
    if (error) {
        m_error->setText(LanguageResources::current().format(StringId::FilterPatternError,
                                                             toQString(error->message),
                                                             QString::number(error->offset + 1)));
    }
    m_error->setVisible(error.has_value());
    // A literal's occurrences are tinted in the rows, as Find tints its own.
    const bool tint = m_search->isActive() && !term.regularExpression;
    m_view->setFindHighlight(tint ? term.text : std::u16string(),
                             (term.matchCase ? SearchMatchCase : 0) |
                                 (term.wholeWord ? SearchWholeWord : 0));
    m_view->searchReset();
    updateHeader();
}

void FindAllPane::endSearch()
{
    m_search->clear();
    m_view->searchReset();
    updateHeader();
}

void FindAllPane::tabAdded(LogTab* tab)
{
    if (tab == nullptr) {
        return;
    }
    for (LogDocument* document : documentsOf(tab)) {
        m_search->addDocument(*document);
    }
    // A merged tab's files are not followed through the tab: their lines come with its rows.
    if (MergedPart* merged = tab->merged()) {
        connect(merged, &MergedPart::statusChanged, this, [this, tab] { tabAppended(tab); });
    }
    // Its name is in its heading.
    connect(tab, &LogTab::labelChanged, this, [this] { m_view->searchChanged(); });
    m_view->searchChanged();
    updateHeader();
}

void FindAllPane::tabAppended(LogTab* tab)
{
    for (const LogDocument* document : documentsOf(tab)) {
        m_view->documentChanged(*document);
        if (m_search->sync(*document).reset) {
            m_view->searchChanged();
        }
    }
    updateHeader();
}

void FindAllPane::tabClosing(LogTab* tab)
{
    disconnect(tab, nullptr, this, nullptr);
    if (tab->merged() != nullptr) {
        disconnect(tab->merged(), nullptr, this, nullptr);
    }
    // Its own document too: a tab turned into a merged one after it was added.
    std::vector<LogDocument*> documents = documentsOf(tab);
    documents.push_back(tab->document());
    for (const LogDocument* document : documents) {
        if (m_search->groupOf(*document) < m_search->documentCount()) {
            m_search->removeDocument(*document);
        }
    }
    m_view->searchChanged();
    updateHeader();
}

void FindAllPane::postFilterProgress()
{
    QCoreApplication::postEvent(this, new QEvent(SearchProgressEvent));
}

bool FindAllPane::event(QEvent* event)
{
    if (event->type() == SearchProgressEvent) {
        collect();
        return true;
    }
    return QDockWidget::event(event);
}

void FindAllPane::collect()
{
    const std::vector<FilterChange> changes = m_search->collect();
    if (std::any_of(changes.begin(), changes.end(),
                    [](const FilterChange& change) { return change.changed(); })) {
        m_view->searchChanged();
    }
    updateHeader();
}

void FindAllPane::updateHeader()
{
    const LanguageResources& resources = LanguageResources::current();
    const FilterProgress progress = m_search->progress();
    const QLocale locale;
    std::size_t found = 0;
    std::size_t tabs = 0;
    for (std::size_t group = 0; group < m_search->documentCount(); ++group) {
        const std::size_t count = m_search->matches(group).size();
        found += count;
        tabs += count > 0 ? 1 : 0;
    }
    const QString total = locale.toString(qulonglong(progress.total));
    const QString lines = locale.toString(qulonglong(found));
    const QString tabCount = locale.toString(qulonglong(tabs));
    const int percent =
        progress.total > 0 ? int(std::uint64_t(progress.done) * 100 / progress.total) : 100;
    QString text;
    switch (progress.state) {
    case FilterState::Running:
        text = resources.format(StringId::FindAllRunning, QString::number(percent), total, lines);
        break;
    case FilterState::Stopped:
        text = resources.format(StringId::FindAllStopped, QString::number(percent), total, lines);
        break;
    case FilterState::Done:
        text = resources.format(StringId::FindAllDone, lines, tabCount, total);
        break;
    case FilterState::Off:
        break;
    }
    if (m_progress->text() != text) {
        m_progress->setText(text);
    }
    const bool stopped = progress.state == FilterState::Stopped;
    m_stop->setText(resources.string(stopped ? StringId::FilterContinue : StringId::FilterStop));
    m_stop->setToolTip(
        resources.string(stopped ? StringId::FindAllContinueTip : StringId::FindAllStopTip));
    m_stop->setEnabled(progress.state == FilterState::Running || stopped);
}

LogTab* FindAllPane::tabOf(const LogDocument* document) const
{
    for (int i = 0; i < m_frame->tabCount(); ++i) {
        LogTab* tab = m_frame->tab(i);
        if (tab == nullptr) {
            continue;
        }
        for (const LogDocument* own : documentsOf(tab)) {
            if (own == document) {
                return tab;
            }
        }
    }
    return nullptr;
}

void FindAllPane::choose(const FindAllRowSource::Item& item)
{
    LogTab* tab = tabOf(item.document);
    if (tab == nullptr) {
        return;
    }
    m_frame->activateTab(tab);
    showIn(tab, item.document,
           item.isHeading() ? std::nullopt : std::optional<LineNumber>(item.line));
}

void FindAllPane::dismiss()
{
    endSearch();
    hide();
    if (LogTab* tab = m_frame->currentTab()) {
        showIn(tab, nullptr, std::nullopt);
    }
}

bool FindAllPane::eventFilter(QObject* watched, QEvent* event)
{
    if ((watched == m_field || watched == m_view) && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        dismiss();
        return true;
    }
    return QDockWidget::eventFilter(watched, event);
}

void FindAllPane::closeEvent(QCloseEvent* event)
{
    // Nobody sees the results any more: nothing is searched or followed for them.
    endSearch();
    QDockWidget::closeEvent(event);
}
