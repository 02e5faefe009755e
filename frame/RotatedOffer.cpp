#include "frame/RotatedOffer.h"

#include "engine/LogDocument.h"
#include "engine/RotatedSiblings.h"
#include "frame/LogTab.h"
#include "frame/MainFrame.h"
#include "frame/SourceControl.h"
#include "resources/LanguageResources.h"
#include "settings/SettingsStore.h"
#include "view/LogView.h"

#include <QBoxLayout>
#include <QLabel>
#include <QPushButton>

#include <set>

namespace {

// The live files whose offer was answered Not now: not offered again before the next start
// (a Reload, the same file opened again).
std::set<std::string>& declined()
{
    static std::set<std::string> paths;
    return paths;
}

} // namespace

void RotatedOffer::dismiss(LogTab* tab)
{
    for (RotatedOffer* old :
         tab->findChildren<RotatedOffer*>(QString(), Qt::FindDirectChildrenOnly)) {
        old->hide();
        old->deleteLater();
    }
}

RotatedOffer* RotatedOffer::offer(MainFrame& frame, LogTab* tab, const std::string& path,
                                  const QString& name)
{
    if (tab == nullptr) {
        return nullptr;
    }
    dismiss(tab);
    if (!SettingsStore::instance().boolValue(Setting::OfferRotated) ||
        declined().count(path) != 0) {
        return nullptr;
    }
    const RotatedSiblings siblings = findRotatedSiblings(path);
    const std::size_t count = siblings.members.size() + siblings.unreadable.size();
    if (count == 0) {
        return nullptr;
    }
    auto* bar = new RotatedOffer(frame, tab, path, name, static_cast<int>(count));
    if (auto* layout = qobject_cast<QBoxLayout*>(tab->layout())) {
        layout->insertWidget(0, bar);
    }
    bar->show();
    return bar;
}

RotatedOffer::RotatedOffer(MainFrame& frame, LogTab* tab, std::string path, QString name, int count)
    : QFrame(tab), m_frame(frame), m_tab(tab), m_path(std::move(path)), m_name(std::move(name))
{
    setObjectName(QStringLiteral("rotatedOffer"));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::ToolTipBase);
    const LanguageResources& resources = LanguageResources::current();
    const int slash = static_cast<int>(m_name.lastIndexOf(QLatin1Char('/')));
    const QString file = m_name.mid(slash + 1);
    auto* label = new QLabel(
        count == 1 ? resources.format(StringId::RotatedOfferOne, file)
                   : resources.format(StringId::RotatedOfferMany, file, QString::number(count)),
        this);
    label->setObjectName(QStringLiteral("rotatedOfferText"));
    label->setForegroundRole(QPalette::ToolTipText);
    auto* add = new QPushButton(resources.string(StringId::RotatedAdd), this);
    add->setObjectName(QStringLiteral("rotatedAdd"));
    auto* later = new QPushButton(resources.string(StringId::RotatedNotNow), this);
    later->setObjectName(QStringLiteral("rotatedNotNow"));
    auto* never = new QPushButton(resources.string(StringId::RotatedNeverAsk), this);
    never->setObjectName(QStringLiteral("rotatedNeverAsk"));
    // The log keeps the keyboard: the bar is answered with the mouse or not at all.
    for (QPushButton* button : {add, later, never}) {
        button->setFocusPolicy(Qt::NoFocus);
    }
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 2, 6, 2);
    layout->addWidget(label, 1);
    layout->addWidget(add);
    layout->addWidget(later);
    layout->addWidget(never);
    connect(add, &QPushButton::clicked, this, &RotatedOffer::add);
    connect(later, &QPushButton::clicked, this, [this] {
        declined().insert(m_path);
        hide();
        deleteLater();
    });
    connect(never, &QPushButton::clicked, this, &RotatedOffer::neverAsk);
}

void RotatedOffer::add()
{
    hide();
    deleteLater();
    // The tab shows the set from its first line on; the live file is in it, at its end.
    m_frame.sources()->openRotated(m_path, m_name, m_tab->document());
}

void RotatedOffer::neverAsk()
{
    SettingsStore::instance().setBool(Setting::OfferRotated, false);
    hide();
    deleteLater();
}
