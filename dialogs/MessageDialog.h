#pragma once

// A modal message with a check box of the kind "don't ask again", built from dialog
// template 135 of the language package: text 1007, check box 1006, OK (id_1) and Cancel
// (id_2). The caller sets the caption and text by string id (m_nCaptionID, m_nTextID) or
// directly (m_strCaption, SetText); a string id, when set, wins over the direct text. After
// DoModal, m_bDontAskAgain holds the check box as it was when OK was chosen; Cancel leaves
// it as it was before the dialog ran.
//
//     CMessageDlg dlg(parent);
//     dlg.m_nCaptionID = 6;
//     dlg.SetText(LanguageResources::current().format(5, path));
//     const bool accepted = dlg.DoModal() == CMessageDlg::IDOK;
//     const bool stopAsking = dlg.m_bDontAskAgain != 0;
//
// Main (user-interface) thread only.

#include <QDialog>
#include <QString>

#include <cstdint>

class QCheckBox;
class QLabel;

class CMessageDlg : public QDialog {
    Q_OBJECT
public:
    // The results DoModal returns.
    enum { IDOK = 1, IDCANCEL = 2 };

    explicit CMessageDlg(QWidget* parent = nullptr);

    void SetText(const QString& text) { m_strText = text; }
    // Runs the dialog: initialisation, the modal loop, the check box back on OK.
    int DoModal();
    // Resolves the string ids, sets the caption and moves the members into the controls.
    // DoModal calls it; exposed for callers that show the dialog themselves.
    bool OnInitDialog();
    // true: controls -> members; false: members -> controls.
    void UpdateData(bool saveAndValidate);

    std::int32_t m_bDontAskAgain = 0;
    std::int32_t m_nCaptionID = 0;
    std::int32_t m_nTextID = 0;
    QString m_strCaption;
    QString m_strText;

public slots:
    void accept() override;

private:
    QWidget* m_form = nullptr;
    QCheckBox* m_pDontAskAgain = nullptr;
    QLabel* m_pText = nullptr;
};
