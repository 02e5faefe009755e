#pragma once

// The Go to line box: one field for a 1-based line number, OK and Cancel. Enter goes,
// Escape cancels. Only digits can be typed; a number past the last line is the last line and
// 0 is the first, so whatever the field holds when Enter is pressed goes somewhere. Texts are
// strings 350-351 of the language package. User-interface thread only.

#include <QDialog>

#include <cstdint>

class QLineEdit;

class GoToLineDialog : public QDialog {
    Q_OBJECT
  public:
    // lineCount: the document's lines, shown as the field's range.
    GoToLineDialog(std::uint32_t lineCount, QWidget* parent);

    // The 0-based line the field names, clamped to the lines; nothing for an empty field or
    // a document without lines.
    std::optional<std::uint32_t> chosenLine() const;
    // The same rule on any text of digits (empty or other text: nothing).
    static std::optional<std::uint32_t> lineFromText(const QString& text,
                                                     std::uint32_t lineCount);

  private:
    std::uint32_t m_lineCount;
    QLineEdit* m_field = nullptr;
};
