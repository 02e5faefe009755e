#pragma once

// The find dialog: modeless, owned by the main frame, at most one at a time (the frame
// keeps it). Search text with the texts used in this run as its history, Match case, Whole
// word, Regular expression, Up/Down, Find Next and Close, and a line for what went wrong (a
// pattern that does not compile, lines too complex to search). Enter finds in the chosen
// direction, Shift+Enter the other way; Escape closes. Texts are strings 170-178 and 490
// of the language package.
//
// The dialog only reports; the frame searches (findNext) and forgets the dialog when it
// reports closing (closing, emitted once, after which the dialog deletes itself).
// User-interface thread only.

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;

class FindDialog : public QDialog {
    Q_OBJECT
  public:
    explicit FindDialog(QWidget* owner);

    void setSearchText(const QString& text);
    QString searchText() const;
    bool matchCase() const;
    bool wholeWord() const;
    bool searchDown() const;
    void setOptions(bool matchCase, bool wholeWord, bool down);
    bool regularExpression() const;
    void setRegularExpression(bool on);
    // Shown under the options until the text or an option changes (empty: hidden).
    void showMessage(const QString& text);
    QString message() const;
    // Puts text at the top of this run's history (the frame calls it for every search).
    void rememberText(const QString& text);
    QStringList history() const;
    // The history a new dialog starts with (most recent first).
    void setHistory(const QStringList& texts);
    void focusSearchText();

  signals:
    // down is the dialog's direction, or the opposite for Shift+Enter.
    void findNext(const QString& text, bool down, bool matchCase, bool wholeWord,
                  bool regularExpression);
    void closing();
    // The text or its options changed (the view highlights what the box would find).
    void searchChanged(const QString& text, bool matchCase, bool wholeWord, bool regularExpression);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void done(int result) override;

  private:
    void requestFind(bool reverse);

    QComboBox* m_text = nullptr;
    QCheckBox* m_matchCase = nullptr;
    QCheckBox* m_wholeWord = nullptr;
    QCheckBox* m_regularExpression = nullptr;
    QLabel* m_message = nullptr;
    QRadioButton* m_up = nullptr;
    QRadioButton* m_down = nullptr;
    QPushButton* m_findNext = nullptr;
    bool m_closingSent = false;
};
