#pragma once

// CEditKeywordDlg: the modal editor of one keyword, built from dialog template 145: text
// 1020, preview 1027 (the typed text in the chosen colours, updated as the user types),
// swatches 1024 (text colour) and 1025 (background colour), match case 1021, whole word
// 1022, colour buttons 1026 (text) and 1028 (background), OK (id_1) and Cancel (id_2).
//
// The caller presets the five fields (or keeps the initial white on red with both switches
// off), runs DoModal and, on IDOK, reads them back; after IDCANCEL they mean nothing.
// Main (user-interface) thread only.

#include "settings/Keyword.h"

#include <QDialog>
#include <QString>

#include <cstdint>

class QCheckBox;
class QLabel;
class QLineEdit;

class CEditKeywordDlg : public QDialog {
    Q_OBJECT
  public:
    enum { IDOK = 1, IDCANCEL = 2 };

    explicit CEditKeywordDlg(QWidget* parent = nullptr);

    // Initialisation, the modal loop, the fields back on OK.
    int DoModal();
    // Preview := text; fields -> controls. DoModal calls it.
    bool OnInitDialog();
    // true: controls -> fields; false: fields -> controls (and the colours repainted).
    void UpdateData(bool saveAndValidate);

    void OnChooseTextColor();
    void OnChooseBkColor();

    QString m_strText;
    QString m_strPreview;
    std::int32_t m_bMatchCase = 0;
    std::int32_t m_bMatchWord = 0;
    ColorRef m_crTextColor = 0x00FFFFFF;
    ColorRef m_crBkColor = 0x000000FF;

  public slots:
    void accept() override;

  private:
    void onTextEdited();
    void applyColors();

    QWidget* m_form = nullptr;
    QLineEdit* m_pText = nullptr;
    QLineEdit* m_pPreview = nullptr;
    QLabel* m_pTextSwatch = nullptr;
    QLabel* m_pBkSwatch = nullptr;
    QCheckBox* m_pMatchCase = nullptr;
    QCheckBox* m_pMatchWord = nullptr;
};
