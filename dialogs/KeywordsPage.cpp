#include "dialogs/KeywordsPage.h"

#include "dialogs/CheckListControl.h"
#include "dialogs/KeywordEditor.h"
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
constexpr int StringColourMatchOnly = 492;
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
            auto* list = new CheckListControl(parent);
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

KeywordsPage::KeywordsPage(QWidget* parent) : QWidget(parent)
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
    m_list = R::control<CheckListControl>(m_form, ListId);
    m_editButton = R::control<QAbstractButton>(m_form, EditId);
    m_deleteButton = R::control<QAbstractButton>(m_form, DeleteId);
    m_moveUpButton = R::control<QAbstractButton>(m_form, MoveUpId);
    m_moveDownButton = R::control<QAbstractButton>(m_form, MoveDownId);
    m_playButton = R::control<QAbstractButton>(m_form, PlayId);
    m_beepBox = R::control<QCheckBox>(m_form, BeepId);
    m_playSoundBox = R::control<QCheckBox>(m_form, PlaySoundId);
    m_soundFileEdit = R::control<QLineEdit>(m_form, SoundFileId);

    const auto connectButton = [this](int id, void (KeywordsPage::*handler)()) {
        if (auto* button = R::control<QAbstractButton>(m_form, id)) {
            connect(button, &QAbstractButton::clicked, this, handler);
        }
    };
    connectButton(AddId, &KeywordsPage::onAdd);
    connectButton(EditId, &KeywordsPage::onEdit);
    connectButton(DeleteId, &KeywordsPage::onDelete);
    connectButton(MoveUpId, &KeywordsPage::onMoveUp);
    connectButton(MoveDownId, &KeywordsPage::onMoveDown);
    connectButton(BrowseId, &KeywordsPage::onBrowse);
    connectButton(PlayId, &KeywordsPage::onPlay);
    if (m_list) {
        connect(m_list, &QTreeWidget::itemSelectionChanged, this, &KeywordsPage::updateButtons);
        connect(m_list, &QTreeWidget::itemDoubleClicked, this,
                [this](QTreeWidgetItem*, int) { onEdit(); });
        connect(m_list, &CheckListControl::deleteRequested, this, &KeywordsPage::onDelete);
    }
    updateButtons();
}

KeywordsPage::~KeywordsPage()
{
    // The rows point at the keywords, which go first.
    if (m_list) {
        m_list->clearRows();
    }
}

void KeywordsPage::showEvent(QShowEvent* event)
{
    if (!m_initialized) {
        initDialog();
    }
    QWidget::showEvent(event);
}

bool KeywordsPage::initDialog()
{
    m_initialized = true;
    if (m_list) {
        m_list->setColumns(5);
        m_list->addColumn(0, 143, Setting::ColumnWidthEnable);
        m_list->addColumn(1, 144, Setting::ColumnWidthKeyword);
        m_list->addColumn(2, 145, Setting::ColumnWidthMatchCase);
        m_list->addColumn(3, 148, Setting::ColumnWidthMatchWord);
        m_list->addColumn(4, StringColourMatchOnly, Setting::ColumnWidthMatchOnly);
    }
    SettingsStore& settings = SettingsStore::instance();
    std::vector<Keyword> loaded;
    settings.loadKeywords(loaded);
    m_keywords.clear();
    for (Keyword& keyword : loaded) {
        m_keywords.push_back(std::make_unique<Keyword>(std::move(keyword)));
    }
    fillRows();
    m_beep = settings.boolValue(Setting::Beep) ? 1 : 0;
    m_playSound = settings.boolValue(Setting::PlaySound) ? 1 : 0;
    m_soundFile = toQString(settings.string(Setting::Sound));
    if (m_playButton) {
        m_playButton->setIcon(LanguageResources::current().icon(IconPlay));
    }
    updateData(false);
    return true;
}

void KeywordsPage::updateData(bool saveAndValidate)
{
    if (saveAndValidate) {
        if (m_beepBox) {
            m_beep = m_beepBox->isChecked() ? 1 : 0;
        }
        if (m_playSoundBox) {
            m_playSound = m_playSoundBox->isChecked() ? 1 : 0;
        }
        if (m_soundFileEdit) {
            m_soundFile = m_soundFileEdit->text();
        }
        return;
    }
    if (m_beepBox) {
        m_beepBox->setChecked(m_beep != 0);
    }
    if (m_playSoundBox) {
        m_playSoundBox->setChecked(m_playSound != 0);
    }
    if (m_soundFileEdit) {
        m_soundFileEdit->setText(m_soundFile);
    }
}

std::vector<Keyword> KeywordsPage::keywords() const
{
    std::vector<Keyword> list;
    list.reserve(m_keywords.size());
    for (const auto& keyword : m_keywords) {
        list.push_back(*keyword);
    }
    return list;
}

void KeywordsPage::saveStep()
{
    if (!m_initialized) {
        return;
    }
    updateData(true);
    SettingsStore& settings = SettingsStore::instance();
    settings.saveKeywords(keywords());
    settings.setBool(Setting::Beep, m_beep > 0);
    settings.setBool(Setting::PlaySound, m_playSound > 0);
    settings.setString(Setting::Sound, toU16(m_soundFile));
}

void KeywordsPage::fillRows(int select)
{
    if (m_list == nullptr) {
        return;
    }
    m_list->clearRows();
    for (std::size_t i = 0; i < m_keywords.size(); ++i) {
        m_list->addKeywordRow(static_cast<int>(i), m_keywords[i].get());
    }
    if (select >= 0) {
        m_list->selectRow(select);
    }
    updateButtons();
}

void KeywordsPage::updateButtons()
{
    const int row = m_list ? m_list->selectedRow() : -1;
    const int count = static_cast<int>(m_keywords.size());
    if (m_editButton) {
        m_editButton->setEnabled(row >= 0);
    }
    if (m_deleteButton) {
        m_deleteButton->setEnabled(row >= 0);
    }
    if (m_moveUpButton) {
        m_moveUpButton->setEnabled(row > 0);
    }
    if (m_moveDownButton) {
        m_moveDownButton->setEnabled(row >= 0 && row + 1 < count);
    }
}

void KeywordsPage::onAdd()
{
    KeywordEditor editor(this);
    if (editor.doModal() != KeywordEditor::IDOK || editor.m_text.isEmpty()) {
        return;
    }
    auto keyword = std::make_unique<Keyword>();
    keyword->m_text = toU16(editor.m_text);
    keyword->m_matchCase = editor.m_matchCase != 0;
    keyword->m_matchWord = editor.m_matchWord != 0;
    keyword->m_matchOnly = editor.m_matchOnly != 0;
    keyword->m_textColor = editor.m_textColor;
    keyword->m_backgroundColor = editor.m_backgroundColor;
    m_keywords.push_back(std::move(keyword));
    fillRows(static_cast<int>(m_keywords.size()) - 1);
    // The new row is selected; with the list focused, Enter confirms the sheet instead of
    // adding once more.
    m_list->setFocus();
}

void KeywordsPage::onEdit()
{
    const int row = m_list ? m_list->selectedRow() : -1;
    Keyword* keyword = m_list ? m_list->keywordAt(row) : nullptr;
    if (keyword == nullptr) {
        return;
    }
    KeywordEditor editor(this);
    editor.m_text = toQString(keyword->m_text);
    editor.m_matchCase = keyword->m_matchCase ? 1 : 0;
    editor.m_matchWord = keyword->m_matchWord ? 1 : 0;
    editor.m_matchOnly = keyword->m_matchOnly ? 1 : 0;
    editor.m_textColor = keyword->m_textColor;
    editor.m_backgroundColor = keyword->m_backgroundColor;
    if (editor.doModal() == KeywordEditor::IDOK && !editor.m_text.isEmpty()) {
        keyword->m_text = toU16(editor.m_text);
        keyword->m_matchCase = editor.m_matchCase != 0;
        keyword->m_matchWord = editor.m_matchWord != 0;
        keyword->m_matchOnly = editor.m_matchOnly != 0;
        keyword->m_textColor = editor.m_textColor;
        keyword->m_backgroundColor = editor.m_backgroundColor;
    }
    fillRows(row);
}

void KeywordsPage::onDelete()
{
    const int row = m_list ? m_list->selectedRow() : -1;
    if (row < 0 || row >= static_cast<int>(m_keywords.size())) {
        return;
    }
    m_keywords.erase(m_keywords.begin() + row);
    const int count = static_cast<int>(m_keywords.size());
    fillRows(count == 0 ? -1 : std::min(row, count - 1));
    m_list->setFocus();
}

void KeywordsPage::moveSelected(int by)
{
    const int row = m_list ? m_list->selectedRow() : -1;
    const int target = row + by;
    if (row < 0 || target < 0 || target >= static_cast<int>(m_keywords.size())) {
        return;
    }
    std::swap(m_keywords[static_cast<std::size_t>(row)],
              m_keywords[static_cast<std::size_t>(target)]);
    fillRows(target);
    m_list->setFocus();
}

void KeywordsPage::onMoveUp()
{
    moveSelected(-1);
}

void KeywordsPage::onMoveDown()
{
    moveSelected(1);
}

QStringList KeywordsPage::soundFileFilters()
{
    const LanguageResources& resources = LanguageResources::current();
    QString patterns = toQString(SettingsStore::instance().string(Setting::SoundFileExt));
    // Stored lists may use the Windows separator.
    patterns.replace(u';', u' ');
    patterns = patterns.simplified();
    QString allFiles = resources.string(StringAllFiles);
    // "*.*" would hide every file without a dot in its name.
    allFiles.replace(QStringLiteral("(*.*)"), QStringLiteral("(*)"));
    return {resources.string(StringSoundFiles) + QStringLiteral(" (") + patterns + u')', allFiles};
}

void KeywordsPage::onBrowse()
{
    if (!m_chooseFile) {
        return;
    }
    const QString chosen = m_chooseFile(LanguageResources::current().string(StringOpenTitle),
                                        QString::fromLatin1(SoundFolder), soundFileFilters());
    if (chosen.isEmpty()) {
        return;
    }
    updateData(true);
    m_soundFile = chosen;
    updateData(false);
}

void KeywordsPage::onPlay()
{
    updateData(true);
    if (m_sound == nullptr || m_playButton == nullptr) {
        return;
    }
    // The sound plays synchronously: show the button disabled before the wait begins.
    m_playButton->setEnabled(false);
    m_playButton->repaint();
    m_sound->playSoundFile(toU16(m_soundFile));
    m_playButton->setEnabled(true);
}
