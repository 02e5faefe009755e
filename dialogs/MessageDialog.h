#pragma once

// A modal message with a check box of the kind "don't ask again", built from dialog
// template 135 of the language package: text 1007, check box 1006, OK (id_1) and Cancel
// (id_2). The caller sets the caption and text by string id (setCaptionId, setTextId) or
// directly (caption, setText); a string id, when set, wins over the direct text. After
// doModal, dontAskAgain holds the check box as it was when OK was chosen; Cancel leaves
// it as it was before the dialog ran.
//
//     MessageDialog dlg(parent);
//     dlg.setCaptionId(StringId::MissingFileCaption);
//     dlg.setText(LanguageResources::current().format(StringId::MissingFileQuestion, path));
//     const bool accepted = dlg.doModal() == MessageDialog::IDOK;
//     const bool stopAsking = dlg.dontAskAgain != 0;
//
// Main (user-interface) thread only.

#include "resources/ResourceIds.h"

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

    void setText(const QString& message) { text = message; }
    void setCaptionId(StringId id) { captionId = static_cast<std::int32_t>(id); }
    void setTextId(StringId id) { textId = static_cast<std::int32_t>(id); }
    // Runs the dialog: initialisation, the modal loop, the check box back on OK.
    int doModal();
    // Resolves the string ids, sets the caption and moves the members into the controls.
    // doModal calls it; exposed for callers that show the dialog themselves.
    bool initDialog();
    // true: controls -> members; false: members -> controls.
    void updateData(bool saveAndValidate);

    std::int32_t dontAskAgain = 0;
    std::int32_t captionId = 0;
    std::int32_t textId = 0;
    QString caption;
    QString text;

  public slots:
    void accept() override;

  private:
    QWidget* m_form = nullptr;
    QCheckBox* m_dontAskAgainBox = nullptr;
    QLabel* m_textLabel = nullptr;
};
