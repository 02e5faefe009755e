#pragma once

// How the document reaches the user interface. The GUI (main frame and views) implements
// DocumentHost; tests implement it with a recorder. The document keeps a plain pointer to
// its host and never owns it; the host must outlive the document's watcher (the document
// stops its watcher in closeDocument and in its destructor).
//
// Threads: the post* members are called from the watcher thread, everything else only from
// the main (user-interface) thread. The document never calls the view-addressing members
// while it holds the lock "docAccess" (but a paint that the host runs may take it).

#include <cstdint>
#include <string>

// What the watcher tells the main window; a host that queues the messages may carry them
// as this (the post* members below say what each one means).
enum class FileMessage : std::uint8_t {
    Appended,
    Reload,
    Unreadable,
};

// The answer to the missing-file question (string 6 caption, string 5 text, a check box).
struct MissingFileAnswer {
    bool accepted = false;     // closed with OK
    bool dontAskAgain = false; // the check box that stops the question was ticked
};

class DocumentHost {
  public:
    virtual ~DocumentHost() = default;

    // Any thread. Each queues its message for the main window and returns at once: it never
    // waits for the main thread and never calls back into the document (the watcher calls
    // them while holding "docAccess"). A message for a main window that no longer exists is
    // dropped.
    //
    // Bytes were appended and the index has grown.
    virtual void postFileAppended() = 0;
    // The file vanished, shrank or appeared after having been missing; the watcher has
    // ended. The frame re-opens the same path.
    virtual void postFileReload() = 0;
    // Whether the followed file can be read changed: error is the errno why it cannot, 0
    // when it can be read again (LogDocument::readError tells the current state, which a
    // queued message may lag behind). The watcher goes on.
    virtual void postFileUnreadable(int error) = 0;

    // Main thread. The framework's update of all views, no sender, hint 0: each view
    // re-reads the line count, file size and the lines it shows.
    virtual void updateAllViews() = 0;
    // Main thread. For each view: scrollToEnd() (a posted request to scroll to the
    // bottom), then an immediate repaint of that view. After a successful open.
    virtual void scrollViewsToEnd() = 0;
    // Main thread. For each view: resetScroll() (content size, steps and ranges zero),
    // then an immediate repaint. From clearText.
    virtual void resetViewsScroll() = 0;
    // Main thread. For each view: ensureSelectionVisible(), then an immediate repaint.
    // After a successful Find.
    virtual void ensureSelectionVisibleInViews() = 0;

    // Main thread. Status pane 1 of the main frame (MainFrame::setFilePathText).
    virtual void setFilePathText(const std::u16string& path) = 0;
    // Main thread. The document's title changed (setTitle); the frame shows it.
    virtual void titleChanged(const std::u16string& title) = 0;

    // Main thread, modal. The missing-file question: MessageDialog with caption string 6,
    // text string 5 with %1 = path, and its "don't ask again" check box.
    virtual MissingFileAnswer askMissingFile(const std::u16string& path) = 0;
    // Main thread, modal. String 135 with %1 = path, %2 = description (may be empty),
    // %3 = errorNumber in decimal, in a message box of the main window with the error icon,
    // an OK button and the application's name as caption. Nothing when there is no main
    // window.
    virtual void showOpenError(const std::u16string& path, const std::u16string& description,
                               int errorNumber) = 0;

    // Main thread. Texts the title is built from: a string of the language package by id
    // (133 is used), and the program's version as "%ld.%ld.%ld.%04ld".
    virtual std::u16string loadResourceString(std::uint32_t id) = 0;
    virtual std::u16string fileVersionText() = 0;
};
