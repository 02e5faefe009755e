#include "dialogs/PropPageKeywords.h"

#include "dialogs/EditKeywordDlg.h"
#include "dialogs/OrixListControl.h"
#include "engine/AlertRule.h"
#include "resources/LanguageResources.h"
#include "resources/QtText.h"
#include "settings/SettingsStore.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QUiLoader>
#include <QVBoxLayout>

#include <algorithm>

using quill::toQString;
using quill::toU16;

namespace {

constexpr int TemplateId = 144;
constexpr int ListId = 1015;
constexpr int AddId = 1016;
constexpr int EditId = 1017;
constexpr int DeleteId = 1019;
constexpr int BeepId = 1028;
constexpr int PlaySoundId = 1029;
constexpr int SoundFileId = 1030;
constexpr int BrowseId = 1031;
constexpr int PlayId = 1032;
constexpr int MoveUpId = 1033;
constexpr int MoveDownId = 1034;
constexpr int IconPlay = 147;
constexpr int StringSoundFiles = 149;
constexpr int StringOpenTitle = 61440;
constexpr int StringAllFiles = 61442;

constexpr const char* SoundFolder = "/usr/share/sounds";

// Builds the template's keyword list as the list control.
class KeywordsPageLoader : public QUiLoader {
  public:
    using QUiLoader::QUiLoader;
    QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override
    {
        if (name == LanguageResources::controlName(ListId)) {
            auto* list = new COrixListControl(parent);
            list->setObjectName(name);
            return list;
        }
        return QUiLoader::createWidget(className, parent, name);
    }
};

QString chooseWithDialog(QWidget* parent, const QString& title, const QString& folder,
                         const QStringList& filters)
{
    QFileDialog dialog(parent, title, folder);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setOption(QFileDialog::ReadOnly);
    dialog.setNameFilters(filters);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().first();
}

} // namespace

CPropPageKeywords::CPropPageKeywords(QWidget* parent) : QWidget(parent)
{
    m_chooseFile = [this](const QString& title, const QString& folder, const QStringList& filters) {
        return chooseWithDialog(this, title, folder, filters);
    };
    KeywordsPageLoader loader;
    m_form = LanguageResources::current().loadDialog(TemplateId, this, &loader);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    if (m_form) {
        layout->addWidget(m_form);
        setWindowTitle(m_form->windowTitle());
    }
    using R = LanguageResources;
    m_pList = R::control<COrixListControl>(m_form, ListId);
    m_pEdit = R::control<QAbstractButton>(m_form, EditId);
    m_pDelete = R::control<QAbstractButton>(m_form, DeleteId);
    m_pMoveUp = R::control<QAbstractButton>(m_form, MoveUpId);
    m_pMoveDown = R::control<QAbstractButton>(m_form, MoveDownId);
    m_pPlay = R::control<QAbstractButton>(m_form, PlayId);
    m_pBeep = R::control<QCheckBox>(m_form, BeepId);
    m_pPlaySound = R::control<QCheckBox>(m_form, PlaySoundId);
    m_pSoundFile = R::control<QLineEdit>(m_form, SoundFileId);

    const auto connectButton = [this](int id, void (CPropPageKeywords::*handler)()) {
        if (auto* button = R::control<QAbstractButton>(m_form, id)) {
            connect(button, &QAbstractButton::clicked, this, handler);
        }
    };
    connectButton(AddId, &CPropPageKeywords::OnAdd);
    connectButton(EditId, &CPropPageKeywords::OnEdit);
    connectButton(DeleteId, &CPropPageKeywords::OnDelete);
    connectButton(MoveUpId, &CPropPageKeywords::OnMoveUp);
    connectButton(MoveDownId, &CPropPageKeywords::OnMoveDown);
    connectButton(BrowseId, &CPropPageKeywords::OnBrowse);
    connectButton(PlayId, &CPropPageKeywords::OnPlay);
    if (m_pList) {
        connect(m_pList, &QTreeWidget::itemSelectionChanged, this,
                &CPropPageKeywords::updateButtons);
        connect(m_pList, &QTreeWidget::itemDoubleClicked, this,
                [this](QTreeWidgetItem*, int) { OnEdit(); });
        connect(m_pList, &COrixListControl::deleteRequested, this, &CPropPageKeywords::OnDelete);
    }
    updateButtons();
}

CPropPageKeywords::~CPropPageKeywords()
{
    // The rows point at the keywords, which go first.
    if (m_pList) {
        m_pList->ClearRows();
    }
}

void CPropPageKeywords::showEvent(QShowEvent* event)
{
    if (!m_bInitialized) {
        OnInitDialog();
    }
    QWidget::showEvent(event);
}

bool CPropPageKeywords::OnInitDialog()
{
    m_bInitialized = true;
    if (m_pList) {
        m_pList->SetColumnCount(4);
        m_pList->AddColumn(0, 143, Setting::ColumnWidthEnable);
        m_pList->AddColumn(1, 144, Setting::ColumnWidthKeyword);
        m_pList->AddColumn(2, 145, Setting::ColumnWidthMatchCase);
        m_pList->AddColumn(3, 148, Setting::ColumnWidthMatchWord);
    }
    SettingsStore& settings = SettingsStore::instance();
    std::vector<CKeyword> loaded;
    settings.LoadKeywords(loaded);
    m_keywords.clear();
    for (CKeyword& keyword : loaded) {
        m_keywords.push_back(std::make_unique<CKeyword>(std::move(keyword)));
    }
    fillRows();
    m_bBeep = settings.GetBool(Setting::Beep) ? 1 : 0;
    m_bPlaySound = settings.GetBool(Setting::PlaySound) ? 1 : 0;
    m_strSoundFile = toQString(settings.GetString(Setting::Sound));
    if (m_pPlay) {
        m_pPlay->setIcon(LanguageResources::current().icon(IconPlay));
    }
    UpdateData(false);
    return true;
}

void CPropPageKeywords::UpdateData(bool saveAndValidate)
{
    if (saveAndValidate) {
        if (m_pBeep) {
            m_bBeep = m_pBeep->isChecked() ? 1 : 0;
        }
        if (m_pPlaySound) {
            m_bPlaySound = m_pPlaySound->isChecked() ? 1 : 0;
        }
        if (m_pSoundFile) {
            m_strSoundFile = m_pSoundFile->text();
        }
        return;
    }
    if (m_pBeep) {
        m_pBeep->setChecked(m_bBeep != 0);
    }
    if (m_pPlaySound) {
        m_pPlaySound->setChecked(m_bPlaySound != 0);
    }
    if (m_pSoundFile) {
        m_pSoundFile->setText(m_strSoundFile);
    }
}

std::vector<CKeyword> CPropPageKeywords::keywords() const
{
    std::vector<CKeyword> list;
    list.reserve(m_keywords.size());
    for (const auto& keyword : m_keywords) {
        list.push_back(*keyword);
    }
    return list;
}

void CPropPageKeywords::SaveStep()
{
    if (!m_bInitialized) {
        return;
    }
    UpdateData(true);
    SettingsStore& settings = SettingsStore::instance();
    settings.SaveKeywords(keywords());
    settings.SetBool(Setting::Beep, m_bBeep > 0);
    settings.SetBool(Setting::PlaySound, m_bPlaySound > 0);
    settings.SetString(Setting::Sound, toU16(m_strSoundFile));
}

void CPropPageKeywords::fillRows(int select)
{
    if (m_pList == nullptr) {
        return;
    }
    m_pList->ClearRows();
    for (std::size_t i = 0; i < m_keywords.size(); ++i) {
        m_pList->AddKeywordRow(static_cast<int>(i), m_keywords[i].get());
    }
    if (select >= 0) {
        m_pList->SelectRow(select);
    }
    updateButtons();
}

void CPropPageKeywords::updateButtons()
{
    const int row = m_pList ? m_pList->GetSelectedRow() : -1;
    const int count = static_cast<int>(m_keywords.size());
    if (m_pEdit) {
        m_pEdit->setEnabled(row >= 0);
    }
    if (m_pDelete) {
        m_pDelete->setEnabled(row >= 0);
    }
    if (m_pMoveUp) {
        m_pMoveUp->setEnabled(row > 0);
    }
    if (m_pMoveDown) {
        m_pMoveDown->setEnabled(row >= 0 && row + 1 < count);
    }
}

void CPropPageKeywords::OnAdd()
{
    CEditKeywordDlg editor(this);
    if (editor.DoModal() != CEditKeywordDlg::IDOK || editor.m_strText.isEmpty()) {
        return;
    }
    auto keyword = std::make_unique<CKeyword>();
    keyword->m_strText = toU16(editor.m_strText);
    keyword->m_bMatchCase = editor.m_bMatchCase != 0;
    keyword->m_bMatchWord = editor.m_bMatchWord != 0;
    keyword->m_crTextColor = editor.m_crTextColor;
    keyword->m_crBkColor = editor.m_crBkColor;
    m_keywords.push_back(std::move(keyword));
    fillRows(static_cast<int>(m_keywords.size()) - 1);
    // The new row is selected; with the list focused, Enter confirms the sheet instead of
    // adding once more.
    m_pList->setFocus();
}

void CPropPageKeywords::OnEdit()
{
    const int row = m_pList ? m_pList->GetSelectedRow() : -1;
    CKeyword* keyword = m_pList ? m_pList->GetKeyword(row) : nullptr;
    if (keyword == nullptr) {
        return;
    }
    CEditKeywordDlg editor(this);
    editor.m_strText = toQString(keyword->m_strText);
    editor.m_bMatchCase = keyword->m_bMatchCase ? 1 : 0;
    editor.m_bMatchWord = keyword->m_bMatchWord ? 1 : 0;
    editor.m_crTextColor = keyword->m_crTextColor;
    editor.m_crBkColor = keyword->m_crBkColor;
    if (editor.DoModal() == CEditKeywordDlg::IDOK && !editor.m_strText.isEmpty()) {
        keyword->m_strText = toU16(editor.m_strText);
        keyword->m_bMatchCase = editor.m_bMatchCase != 0;
        keyword->m_bMatchWord = editor.m_bMatchWord != 0;
        keyword->m_crTextColor = editor.m_crTextColor;
        keyword->m_crBkColor = editor.m_crBkColor;
    }
    fillRows(row);
}

void CPropPageKeywords::OnDelete()
{
    const int row = m_pList ? m_pList->GetSelectedRow() : -1;
    if (row < 0 || row >= static_cast<int>(m_keywords.size())) {
        return;
    }
    m_keywords.erase(m_keywords.begin() + row);
    const int count = static_cast<int>(m_keywords.size());
    fillRows(count == 0 ? -1 : std::min(row, count - 1));
    m_pList->setFocus();
}

void CPropPageKeywords::moveSelected(int by)
{
    const int row = m_pList ? m_pList->GetSelectedRow() : -1;
    const int target = row + by;
    if (row < 0 || target < 0 || target >= static_cast<int>(m_keywords.size())) {
        return;
    }
    std::swap(m_keywords[static_cast<std::size_t>(row)],
              m_keywords[static_cast<std::size_t>(target)]);
    fillRows(target);
    m_pList->setFocus();
}

void CPropPageKeywords::OnMoveUp()
{
    moveSelected(-1);
}

void CPropPageKeywords::OnMoveDown()
{
    moveSelected(1);
}

QStringList CPropPageKeywords::SoundFileFilters()
{
    const LanguageResources& resources = LanguageResources::current();
    QString patterns = toQString(SettingsStore::instance().GetString(Setting::SoundFileExt));
    // Stored lists may use the Windows separator.
    patterns.replace(u';', u' ');
    patterns = patterns.simplified();
    QString allFiles = resources.string(StringAllFiles);
    // "*.*" would hide every file without a dot in its name.
    allFiles.replace(QStringLiteral("(*.*)"), QStringLiteral("(*)"));
    return {resources.string(StringSoundFiles) + QStringLiteral(" (") + patterns + u')', allFiles};
}

void CPropPageKeywords::OnBrowse()
{
    if (!m_chooseFile) {
        return;
    }
    const QString chosen = m_chooseFile(LanguageResources::current().string(StringOpenTitle),
                                        QString::fromLatin1(SoundFolder), SoundFileFilters());
    if (chosen.isEmpty()) {
        return;
    }
    UpdateData(true);
    m_strSoundFile = chosen;
    UpdateData(false);
}

void CPropPageKeywords::OnPlay()
{
    UpdateData(true);
    if (m_pSound == nullptr || m_pPlay == nullptr) {
        return;
    }
    // The sound plays synchronously: show the button disabled before the wait begins.
    m_pPlay->setEnabled(false);
    m_pPlay->repaint();
    m_pSound->PlayFile(toU16(m_strSoundFile));
    m_pPlay->setEnabled(true);
}
