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

constexpr const char* SoundFolder = "/usr/share/sounds";

// Builds the template's keyword list as the list control.
class KeywordsPageLoader : public QUiLoader {
  public:
    using QUiLoader::QUiLoader;
    QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override
    {
        if (name == LanguageResources::controlName(ControlId::KeywordsList)) {
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
    m_form = LanguageResources::current().loadDialog(ResourceId::KeywordsPage, this, &loader);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    if (m_form) {
        layout->addWidget(m_form);
        setWindowTitle(m_form->windowTitle());
    }
    using R = LanguageResources;
    m_list = R::control<CheckListControl>(m_form, ControlId::KeywordsList);
    m_editButton = R::control<QAbstractButton>(m_form, ControlId::KeywordsEdit);
    m_deleteButton = R::control<QAbstractButton>(m_form, ControlId::KeywordsDelete);
    m_moveUpButton = R::control<QAbstractButton>(m_form, ControlId::KeywordsMoveUp);
    m_moveDownButton = R::control<QAbstractButton>(m_form, ControlId::KeywordsMoveDown);
    m_playButton = R::control<QAbstractButton>(m_form, ControlId::KeywordsPlay);
    m_beepBox = R::control<QCheckBox>(m_form, ControlId::KeywordsBeep);
    m_playSoundBox = R::control<QCheckBox>(m_form, ControlId::KeywordsPlaySound);
    m_soundFileEdit = R::control<QLineEdit>(m_form, ControlId::KeywordsSoundFile);

    const auto connectButton = [this](ControlId id, void (KeywordsPage::*handler)()) {
        if (auto* button = R::control<QAbstractButton>(m_form, id)) {
            connect(button, &QAbstractButton::clicked, this, handler);
        }
    };
    connectButton(ControlId::KeywordsAdd, &KeywordsPage::onAdd);
    connectButton(ControlId::KeywordsEdit, &KeywordsPage::onEdit);
    connectButton(ControlId::KeywordsDelete, &KeywordsPage::onDelete);
    connectButton(ControlId::KeywordsMoveUp, &KeywordsPage::onMoveUp);
    connectButton(ControlId::KeywordsMoveDown, &KeywordsPage::onMoveDown);
    connectButton(ControlId::KeywordsBrowse, &KeywordsPage::onBrowse);
    connectButton(ControlId::KeywordsPlay, &KeywordsPage::onPlay);
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
        m_list->addColumn(0, StringId::KeywordOnColumn, Setting::ColumnWidthEnable);
        m_list->addColumn(1, StringId::KeywordColumn, Setting::ColumnWidthKeyword);
        m_list->addColumn(2, StringId::MatchCaseColumn, Setting::ColumnWidthMatchCase);
        m_list->addColumn(3, StringId::WholeWordColumn, Setting::ColumnWidthMatchWord);
        m_list->addColumn(4, StringId::ColourMatchOnly, Setting::ColumnWidthMatchOnly);
    }
    SettingsStore& settings = SettingsStore::instance();
    std::vector<Keyword> loaded;
    settings.loadKeywords(loaded);
    m_keywords.clear();
    for (Keyword& keyword : loaded) {
        m_keywords.push_back(std::make_unique<Keyword>(std::move(keyword)));
    }
    fillRows();
    beep = settings.boolValue(Setting::Beep) ? 1 : 0;
    playSound = settings.boolValue(Setting::PlaySound) ? 1 : 0;
    soundFile = toQString(settings.string(Setting::Sound));
    if (m_playButton) {
        m_playButton->setIcon(LanguageResources::current().icon(ResourceId::PlayIcon));
    }
    updateData(false);
    return true;
}

void KeywordsPage::updateData(bool saveAndValidate)
{
    if (saveAndValidate) {
        if (m_beepBox) {
            beep = m_beepBox->isChecked() ? 1 : 0;
        }
        if (m_playSoundBox) {
            playSound = m_playSoundBox->isChecked() ? 1 : 0;
        }
        if (m_soundFileEdit) {
            soundFile = m_soundFileEdit->text();
        }
        return;
    }
    if (m_beepBox) {
        m_beepBox->setChecked(beep != 0);
    }
    if (m_playSoundBox) {
        m_playSoundBox->setChecked(playSound != 0);
    }
    if (m_soundFileEdit) {
        m_soundFileEdit->setText(soundFile);
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
    settings.setBool(Setting::Beep, beep > 0);
    settings.setBool(Setting::PlaySound, playSound > 0);
    settings.setString(Setting::Sound, toU16(soundFile));
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
    if (editor.doModal() != KeywordEditor::IDOK || editor.text.isEmpty()) {
        return;
    }
    auto keyword = std::make_unique<Keyword>();
    keyword->text = toU16(editor.text);
    keyword->matchCase = editor.matchCase != 0;
    keyword->matchWord = editor.matchWord != 0;
    keyword->matchOnly = editor.matchOnly != 0;
    keyword->textColor = editor.textColor;
    keyword->backgroundColor = editor.backgroundColor;
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
    editor.text = toQString(keyword->text);
    editor.matchCase = keyword->matchCase ? 1 : 0;
    editor.matchWord = keyword->matchWord ? 1 : 0;
    editor.matchOnly = keyword->matchOnly ? 1 : 0;
    editor.textColor = keyword->textColor;
    editor.backgroundColor = keyword->backgroundColor;
    if (editor.doModal() == KeywordEditor::IDOK && !editor.text.isEmpty()) {
        keyword->text = toU16(editor.text);
        keyword->matchCase = editor.matchCase != 0;
        keyword->matchWord = editor.matchWord != 0;
        keyword->matchOnly = editor.matchOnly != 0;
        keyword->textColor = editor.textColor;
        keyword->backgroundColor = editor.backgroundColor;
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
    QString allFiles = resources.string(StringId::AllFilesFilter);
    // "*.*" would hide every file without a dot in its name.
    allFiles.replace(QStringLiteral("(*.*)"), QStringLiteral("(*)"));
    return {resources.string(StringId::SoundFilesFilter) + QStringLiteral(" (") + patterns + u')',
            allFiles};
}

void KeywordsPage::onBrowse()
{
    if (!m_chooseFile) {
        return;
    }
    const QString chosen = m_chooseFile(LanguageResources::current().string(StringId::OpenTitle),
                                        QString::fromLatin1(SoundFolder), soundFileFilters());
    if (chosen.isEmpty()) {
        return;
    }
    updateData(true);
    soundFile = chosen;
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
    m_sound->playSoundFile(toU16(soundFile));
    m_playButton->setEnabled(true);
}
