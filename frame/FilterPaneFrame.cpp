#include "frame/FilterPaneFrame.h"

#include "frame/FilterBar.h"

#include "resources/LanguageResources.h"
#include "settings/FilterHistory.h"
#include "settings/SettingsStore.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const QEvent::Type FilterProgressEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

} // namespace

void FilterPaneFrame::postFilterProgress()
{
    QCoreApplication::postEvent(this, new QEvent(FilterProgressEvent));
}

bool FilterPaneFrame::event(QEvent* event)
{
    if (event->type() == FilterProgressEvent) {
        collect();
        return true;
    }
    return QWidget::event(event);
}

FilterPaneFrame::FilterPaneFrame(QWidget* parent)
    : QWidget(parent), m_history(std::make_unique<FilterHistory>(SettingsStore::instance()))
{
    // The bar's fields and options must not set how narrow the window may be: a narrow
    // window cuts them off at the right instead.
    setMinimumWidth(1);
    m_history->readList();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_bar = new FilterBar(*m_history, this);
    layout->addWidget(m_bar);

    m_body = new QWidget(this);
    auto* bodyLayout = new QVBoxLayout(m_body);
    bodyLayout->setContentsMargins(0, 0, 0, 0);
    bodyLayout->setSpacing(0);
    auto* header = new QHBoxLayout();
    header->setContentsMargins(6, 0, 4, 2);
    m_progress = new QLabel(m_body);
    m_progress->setObjectName(QStringLiteral("filterProgress"));
    m_stop = new QPushButton(LanguageResources::current().string(StringId::FilterStop), m_body);
    m_stop->setObjectName(QStringLiteral("filterStop"));
    m_stop->setFocusPolicy(Qt::TabFocus);
    m_bar->keepSpace(m_stop);
    header->addWidget(m_progress, 1);
    header->addWidget(m_stop);
    bodyLayout->addLayout(header);
    layout->addWidget(m_body, 1);
    m_body->setVisible(false);
    fitToBar();

    connect(m_bar, &FilterBar::filterEdited, this, [this] { applyFilter(); });
    connect(m_bar, &FilterBar::rowsChanged, this, &FilterPaneFrame::fitToBar);
    connect(m_bar, &FilterBar::clearRequested, this, [this] {
        clearFilter();
        emit clearedByUser();
    });
    connect(m_bar, &FilterBar::asViewToggled, this, &FilterPaneFrame::updateAsView);
}

FilterPaneFrame::~FilterPaneFrame() = default;

void FilterPaneFrame::setRowsView(QWidget* view)
{
    view->setAccessibleName(LanguageResources::current().string(StringId::FilterPaneName));
    static_cast<QVBoxLayout*>(m_body->layout())->addWidget(view, 1);
}

void FilterPaneFrame::setActive(bool active)
{
    if (active == m_active) {
        return;
    }
    m_active = active;
    m_body->setVisible(active);
    fitToBar();
    emit activeChanged(active);
    updateAsView();
}

void FilterPaneFrame::setAsViewSwitch(bool on)
{
    m_bar->asViewSwitch()->setChecked(on);
}

void FilterPaneFrame::updateAsView()
{
    const bool shown = m_active && m_bar->asViewSwitch()->isChecked();
    if (shown == m_asView) {
        return;
    }
    m_asView = shown;
    emit asViewChanged(shown);
}

std::optional<TimeQuery> FilterPaneFrame::readRangeField(const QLineEdit* field, QString& error)
{
    const QString text = field->text().trimmed();
    if (text.isEmpty()) {
        return std::nullopt;
    }
    std::optional<TimeQuery> query = parseTimeQuery(text.toStdString());
    if (!query && error.isEmpty()) {
        error = LanguageResources::current().format(StringId::NotATime, text);
    }
    return query;
}

void FilterPaneFrame::fixRange(TimeMs firstTime, std::optional<TimeMs> lastTime)
{
    if (m_range) {
        return;
    }
    auto fix = [&](const std::optional<TimeQuery>& query) -> std::optional<TimeMs> {
        if (!query) {
            return std::nullopt;
        }
        switch (query->kind) {
        case TimeQuery::Kind::Moment:
            break;
        case TimeQuery::Kind::TimeOfDay:
            return localDayStart(firstTime) + query->value;
        case TimeQuery::Kind::BeforeLast:
            return lastTime.value_or(firstTime) - query->value;
        }
        return query->value;
    };
    TimeRange range{fix(m_fromQuery), fix(m_toQuery)};
    if (m_fromQuery && m_toQuery && m_fromQuery->kind == TimeQuery::Kind::TimeOfDay &&
        m_toQuery->kind == TimeQuery::Kind::TimeOfDay && *range.to < *range.from) {
        *range.to += 24 * 3600 * 1000;
    }
    m_range = range;
}

void FilterPaneFrame::fitToBar()
{
    // Without a filter only the bar shows, and the splitter must not hand it more room.
    setMaximumHeight(m_active ? QWIDGETSIZE_MAX : m_bar->sizeHint().height());
}
