#pragma once

// One modal dialog in which the user picks a font (family, style, size, underline,
// strike-out) and the colour of the text together, as the settings' text font and text
// colour belong together. Qt's font chooser is embedded without its own buttons; beside it
// a swatch button opens the colour dialog, and the sample line shows the font in the chosen
// colour on the given background. Fixed-pitch families are marked in the family list (bold,
// with string 154 after the name), since the font is meant for a log view.
//
//     FontColorDialog dialog(parent);
//     dialog.setCurrentFont(font);
//     dialog.setCurrentColor(textColor);
//     if (dialog.exec() == QDialog::Accepted) { use dialog.currentFont(), currentColor() }
//
// Texts come from the loaded language package: caption 153, colour button 152, OK 150,
// Cancel 151, colour dialog title 155. Main (user-interface) thread only.

#include <QColor>
#include <QDialog>
#include <QFont>

class QFontDialog;
class QLineEdit;
class QPushButton;

class FontColorDialog : public QDialog {
    Q_OBJECT
  public:
    explicit FontColorDialog(QWidget* parent = nullptr);

    void setCurrentFont(const QFont& font);
    QFont currentFont() const;
    void setCurrentColor(const QColor& color);
    QColor currentColor() const { return m_color; }
    // The background the sample text is shown on.
    void setSampleBackground(const QColor& color);

    QFontDialog* fontChooser() const { return m_fontChooser; }
    QPushButton* colorButton() const { return m_colorButton; }

  private:
    void chooseColor();
    void updateSample();

    QFontDialog* m_fontChooser = nullptr;
    QPushButton* m_colorButton = nullptr;
    QLineEdit* m_sample = nullptr;
    QColor m_color = Qt::black;
    QColor m_background = Qt::white;
};
