#pragma once

// LineDetailsPane: View > Line Details, a pane docked beside the log that shows the caret
// line's structure (engine/LineDetails.h): its JSON objects pretty-printed, members indented
// by depth, strings decoded, long values wrapped under their own start; or its key=value
// pairs; or, for a line that was meant as JSON and is not, the column where reading stopped,
// why, and the piece of the line there with a caret under the place.
//
// It follows the front tab's caret: the frame hands it every new tab (watch) and tells it
// when the front tab changes. Caret moves come in bursts (a held key), so the line is read
// once a burst is over, and only while the pane is shown. Whether it is shown is the setting
// LineDetails; the pane's own close button clears it too. The frame owns the pane.
// User-interface thread only.

#include <QDockWidget>
#include <QTimer>

#include <cstdint>

class LogTab;
class MainFrame;
class QTextEdit;
struct LineDetails;

class LineDetailsPane : public QDockWidget {
    Q_OBJECT
  public:
    explicit LineDetailsPane(MainFrame* frame);

    // Every new tab: its caret moves and new lines bring the pane up to date.
    void watch(LogTab* tab);
    // Reads the front tab's caret line once the current burst of moves is over.
    void refreshSoon() { m_refresh.start(); }
    // Reads it now (nothing while the pane is hidden).
    void refresh();

    QTextEdit* textView() const { return m_text; }
    // The most lines the pane shows of one line's details.
    static constexpr int MaxShownLines = 2000;

  signals:
    // The user closed the pane with its own button; the setting is cleared already.
    void closedByUser();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void showMessage(const QString& text);
    void showDetails(std::int64_t line, const LineDetails& details, const std::u16string& text);

    MainFrame* m_frame;
    QTextEdit* m_text = nullptr;
    QTimer m_refresh;
    // What the pane shows now: the same line with the same text is not laid out again, so
    // the pane keeps its scroll position while the log grows.
    const LogTab* m_shownTab = nullptr;
    std::int64_t m_shownLine = -1;
    std::u16string m_shownText;
    bool m_sized = false;
};
