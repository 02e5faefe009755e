#pragma once

// KeywordEditor: the modal editor of one keyword, built from dialog template 145: text
// 1020, preview 1027 (the typed text in the chosen colours, updated as the user types),
// swatches 1024 (text colour) and 1025 (background colour), match case 1021, whole word
// 1022, colour only the match 1029, colour buttons 1026 (text) and 1028 (background), OK (id_1) and
// cancel (id_2).
//
// The caller presets the six fields (or keeps the initial white on red with both switches
// off), runs doModal and, on IDOK, reads them back; after IDCANCEL they mean nothing.
// A text entered longer than MaxTextLength is refused with a message and the field keeps
// what it held; a preset text longer than that (a hand-edited hive) is shown cut but
// comes back whole unless the user edits it.
// Main (user-interface) thread only.

#include "settings/Keyword.h"

#include <QDialog>
#include <QString>

#include <cstdint>

class QCheckBox;
class QLabel;
class QLineEdit;

class KeywordEditor : public QDialog {
    Q_OBJECT
  public:
    enum { IDOK = 1, IDCANCEL = 2 };
    // What a line edit holds without laying out ever longer texts.
    static constexpr int MaxTextLength = 32767;

    explicit KeywordEditor(QWidget* parent = nullptr);

    // Initialisation, the modal loop, the fields back on OK.
    int doModal();
    // Preview := text; fields -> controls. doModal calls it.
    bool initDialog();
    // true: controls -> fields; false: fields -> controls (and the colours repainted).
    void updateData(bool saveAndValidate);

    void onChooseTextColor();
    void onChooseBkColor();

    QString text;
    QString preview;
    std::int32_t matchCase = 0;
    std::int32_t matchWord = 0;
    std::int32_t matchOnly = 0;
    ColorRef textColor = 0x00FFFFFF;
    ColorRef backgroundColor = 0x000000FF;

  public slots:
    void accept() override;

  private:
    void onTextEdited();
    // The user's own edits: an entry past the limit is refused here.
    void onUserEdit(const QString& entered);
    void applyColors();

    QString m_preset;       // the text as doModal found it, whole
    QString m_lastAccepted; // the field's last text within the limit
    bool m_textEdited = false;

    QWidget* m_form = nullptr;
    QLineEdit* m_textEdit = nullptr;
    QLineEdit* m_previewEdit = nullptr;
    QLabel* m_textSwatch = nullptr;
    QLabel* m_backgroundSwatch = nullptr;
    QCheckBox* m_matchCaseBox = nullptr;
    QCheckBox* m_matchWordBox = nullptr;
    QCheckBox* m_matchOnlyBox = nullptr;
};
