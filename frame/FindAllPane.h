#pragma once

// FindAllPane: Edit > Find in All Tabs, a dock at the bottom of the window. Its field takes
// a text with the filter's options (Match case, Whole word, Regular expression); Enter, or
// an option changed while the field holds a text, searches every tab (FindAllSearch, one
// tab after another, off the window's thread). Below, a header says how far the search has
// got and how many lines it found, with Stop (and Continue); the list (FindAllView) shows
// each tab's name and count, then its matching lines with their numbers. Enter on a row or
// a double click brings that tab to the front at that line.
//
// The results follow the tabs: lines appended to a tab's file join its list, a reload or
// Clear starts its list over, a tab opened later joins the search at the end, and a closed
// tab leaves the list. A merged tab is searched file by file, each with a list of its own,
// and a line found there opens as its merged row. Escape in the field or the list, or the dock's
// own close button, ends the search and gives the keyboard back to the log view.
//
// The frame creates the pane on the first use of the command and tells it of every tab
// added, appended to or about to close; detach() lets every tab go (the frame calls it
// before its tabs are destroyed). It is the search's host: the workers' notices come
// through the pane's event queue. User-interface thread only, except postFilterProgress.

#include "engine/FilterHost.h"
#include "engine/FindAllSearch.h"
#include "view/FindAllRowSource.h"

#include <QDockWidget>

#include <memory>
#include <optional>
#include <vector>

class FindAllView;
class LogDocument;
class LogTab;
class MainFrame;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class FindAllPane : public QDockWidget, public FilterHost {
    Q_OBJECT
  public:
    explicit FindAllPane(MainFrame* frame);
    ~FindAllPane() override;

    // Shows the pane with the keyboard in its field: the front tab's selection when it lies
    // on one line, else the text the field had, selected.
    void open();
    // Searches every tab for what the field and options hold now.
    void startSearch();
    // Stops the search and empties the list (the field keeps its text).
    void endSearch();

    void tabAdded(LogTab* tab);
    void tabAppended(LogTab* tab);
    void tabClosing(LogTab* tab);
    // Every tab leaves the search.
    void detach();

    const FindAllSearch& search() const { return *m_search; }
    FindAllView* view() const { return m_view; }
    QLineEdit* field() const { return m_field; }
    QCheckBox* option(int which) const { return m_options[which]; } // 0 case, 1 word, 2 regex
    QLabel* progressLabel() const { return m_progress; }
    QLabel* errorLabel() const { return m_error; }
    QPushButton* stopButton() const { return m_stop; }

    // FilterHost: any thread.
    void postFilterProgress() override;

  protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void collect();
    void updateHeader();
    void choose(const FindAllRowSource::Item& item);
    LogTab* tabOf(const LogDocument* document) const;
    // The documents a tab's lines come from: a merged tab's files (FindAllPaneMerged.cpp),
    // else its own document.
    static std::vector<LogDocument*> documentsOf(LogTab* tab);
    // The heading's name of a document's list: its tab's, and on a merged tab its file's.
    static QString nameOf(const LogTab* tab, const LogDocument* document);
    // Shows the document's line in its tab and gives the tab's view the keyboard.
    static void showIn(LogTab* tab, const LogDocument* document, std::optional<LineNumber> line);
    // Escape: the search ends, the pane goes and the log view takes the keyboard.
    void dismiss();

    MainFrame* m_frame;
    std::unique_ptr<FindAllSearch> m_search;
    QLineEdit* m_field = nullptr;
    QCheckBox* m_options[3] = {};
    QLabel* m_error = nullptr;
    QLabel* m_progress = nullptr;
    QPushButton* m_stop = nullptr;
    FindAllView* m_view = nullptr;
};
