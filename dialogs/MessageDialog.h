#pragma once

// A modal message with a check box of the kind "don't ask again", built from dialog
// template 135 of the language package: text 1007, check box 1006, OK (id_1) and Cancel
// (id_2). The caller sets the caption and text by string id (m_captionID, m_textID) or
// directly (m_caption, setText); a string id, when set, wins over the direct text. After
// doModal, m_dontAskAgain holds the check box as it was when OK was chosen; Cancel leaves
// it as it was before the dialog ran.
//
//     MessageDialog dlg(parent);
//     dlg.m_captionID = 6;
//     dlg.setText(LanguageResources::current().format(5, path));
//     const bool accepted = dlg.doModal() == MessageDialog::IDOK;
//     const bool stopAsking = dlg.m_dontAskAgain != 0;
//
// Main (user-interface) thread only.

#include <QDialog>
#include <QString>

#include <cstdint>

class QCheckBox;
class QLabel;

class MessageDialog : public QDialog {
    Q_OBJECT
  public:
    // The results doModal returns.
    enum { IDOK = 1, IDCANCEL = 2 };

    explicit MessageDialog(QWidget* parent = nullptr);

    void setText(const QString& text) { m_text = text; }
    // Runs the dialog: initialisation, the modal loop, the check box back on OK.
    int doModal();
    // Resolves the string ids, sets the caption and moves the members into the controls.
    // doModal calls it; exposed for callers that show the dialog themselves.
    bool initDialog();
    // true: controls -> members; false: members -> controls.
    void updateData(bool saveAndValidate);

    std::int32_t m_dontAskAgain = 0;
    std::int32_t m_captionID = 0;
    std::int32_t m_textID = 0;
    QString m_caption;
    QString m_text;

  public slots:
    void accept() override;

  private:
    QWidget* m_form = nullptr;
    QCheckBox* m_dontAskAgainBox = nullptr;
    QLabel* m_textLabel = nullptr;
};
