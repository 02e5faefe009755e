#include "dialogs/SettingsSheet.h"

#include "dialogs/GeneralPage.h"
#include "dialogs/KeywordsPage.h"
#include "resources/LanguageResources.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

constexpr int StringOk = 150;
constexpr int StringCancel = 151;

} // namespace

SettingsSheet::SettingsSheet(int captionId, QWidget* parent, int selectPage) : QDialog(parent)
{
    const LanguageResources& resources = LanguageResources::current();
    setObjectName(QStringLiteral("settingsSheet"));
    setWindowTitle(resources.string(captionId));
    m_tabs = new QTabWidget(this);
    m_pageGeneral = new GeneralPage;
    m_pageKeywords = new KeywordsPage;
    m_tabs->addTab(m_pageGeneral, m_pageGeneral->windowTitle());
    m_tabs->addTab(m_pageKeywords, m_pageKeywords->windowTitle());
    m_tabs->setCurrentIndex(selectPage);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(resources.string(StringOk), QDialogButtonBox::AcceptRole);
    ok->setObjectName(LanguageResources::controlName(1));
    ok->setDefault(true);
    buttons->addButton(resources.string(StringCancel), QDialogButtonBox::RejectRole)
        ->setObjectName(LanguageResources::controlName(2));
    connect(buttons, &QDialogButtonBox::accepted, this, &SettingsSheet::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(buttons);
}

SettingsSheet::~SettingsSheet() = default;

void SettingsSheet::setSoundService(SoundService* sound)
{
    m_pageKeywords->setSoundService(sound);
}

int SettingsSheet::doModal()
{
    return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

void SettingsSheet::saveAll()
{
    m_pageGeneral->saveStep();
    m_pageKeywords->saveStep();
}

void SettingsSheet::accept()
{
    // Every page that has been shown confirms, and each confirmation saves the whole sheet.
    if (m_pageGeneral->isInitialized()) {
        saveAll();
    }
    if (m_pageKeywords->isInitialized()) {
        saveAll();
    }
    QDialog::accept();
}
