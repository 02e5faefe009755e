#pragma once

// KeywordsPage: the second page of the settings sheet, built from dialog template 144.
// It edits a working copy of the keyword list (order is priority: the first matching
// keyword colours a line) and the three alert settings, and stores them only in saveStep.
//
// Controls: 1015 the list (CheckListControl; check box = enabled, double-click = edit),
// 1016 add, 1017 edit, 1019 delete, 1033 move up, 1034 move down, 1028 Beep, 1029
// PlaySound, 1030 Sound, 1031 browse, 1032 play (icon 147).
//
// The fields are loaded when the page is first shown; a page never shown stores nothing,
// so the stored list and alerts stay as they are. The sound service and the settings
// store are not owned. Main (user-interface) thread only.

#include "settings/Keyword.h"

#include <QString>
#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class CheckListControl;
class QAbstractButton;
class QCheckBox;
class QLineEdit;
class SoundService;

class KeywordsPage : public QWidget {
    Q_OBJECT
  public:
    // Asks for a sound file: (title, start folder, filters) -> the chosen path, empty when
    // cancelled. The default is a QFileDialog; tests install their own.
    using FileChooser = std::function<QString(const QString& title, const QString& folder,
                                              const QStringList& filters)>;

    explicit KeywordsPage(QWidget* parent = nullptr);
    ~KeywordsPage() override;

    void setSoundService(SoundService* sound) { m_sound = sound; }
    void setFileChooser(FileChooser chooser) { m_chooseFile = std::move(chooser); }

    bool isInitialized() const { return m_initialized; }
    bool initDialog();
    // true: controls -> fields; false: fields -> controls.
    void updateData(bool saveAndValidate);
    // saveKeywords, then Beep, PlaySound and Sound (saveKeywords removes them first).
    void saveStep();

    void onAdd();
    void onEdit();
    void onDelete();
    void onMoveUp();
    void onMoveDown();
    void onBrowse();
    void onPlay();

    // The filters of the sound chooser: string 149 with SoundFileExt, then all files.
    static QStringList soundFileFilters();

    CheckListControl* list() const { return m_list; }
    std::vector<Keyword> keywords() const;

    std::int32_t beep = 0;
    std::int32_t playSound = 0;
    QString soundFile;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    // Rebuilds the rows from the list, in list order, and selects row (none when -1).
    void fillRows(int select = -1);
    void updateButtons();
    void moveSelected(int by);

    QWidget* m_form = nullptr;
    CheckListControl* m_list = nullptr;
    QAbstractButton* m_editButton = nullptr;
    QAbstractButton* m_deleteButton = nullptr;
    QAbstractButton* m_moveUpButton = nullptr;
    QAbstractButton* m_moveDownButton = nullptr;
    QAbstractButton* m_playButton = nullptr;
    QCheckBox* m_beepBox = nullptr;
    QCheckBox* m_playSoundBox = nullptr;
    QLineEdit* m_soundFileEdit = nullptr;
    std::vector<std::unique_ptr<Keyword>> m_keywords;
    SoundService* m_sound = nullptr;
    FileChooser m_chooseFile;
    bool m_initialized = false;
};
