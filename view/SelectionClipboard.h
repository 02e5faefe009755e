#pragma once

// Selected text on its way to the clipboard and to the X11/Wayland PRIMARY selection.
//
// The text goes out as Unicode ("text/plain;charset=utf-8" and "text/plain", which X11
// serves as UTF8_STRING and STRING) and, when the locale's narrow set is not UTF-8, also
// under a name that says that set ("text/plain;charset=ISO-8859-15"). A copy is refused
// before it starts when its text could not be held comfortably: its peak (the text itself
// plus the UTF-8 a pasting program asks for, plus the narrow form) must fit in half of the
// memory the machine has available, so a copy of a huge selection neither ends the program
// nor pushes the machine into swapping. User-interface thread only, except where a
// declaration says otherwise.

#include "engine/DocumentTypes.h"
#include "engine/LogDocument.h"

#include <QMimeData>
#include <QString>

#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

// The document a pane's selections come from, shared with the PRIMARY selection data that
// other programs may ask for later; the pane detaches it when it goes, and data whose
// source is gone (or whose document was reset since) gives nothing.
class SelectionTextSource {
  public:
    explicit SelectionTextSource(LogDocument* document) : m_document(document) {}
    LogDocument* document() const { return m_document; }
    void detach() { m_document = nullptr; }

  private:
    LogDocument* m_document;
};

enum class CopyOutcome {
    Copied,
    NothingSelected,
    TooLarge,   // refused: neededBytes > half of availableBytes
    Unreadable, // the file could not be read, or its lines were reset on the way; nothing offered
    Cancelled,  // stopped by the user; nothing offered
};

// What a copy on another thread shares with the thread that waits for it.
struct CopyControl {
    std::atomic<bool> cancel{false};
    std::atomic<std::uint64_t> unitsDone{0};
};

struct CopyResult {
    CopyOutcome outcome = CopyOutcome::NothingSelected;
    std::uint64_t neededBytes = 0;
    std::uint64_t availableBytes = 0;
};

// Memory the machine can give without swapping (MemAvailable), in bytes; overridable for
// tests (0 restores the real figure).
std::uint64_t availableMemoryBytes();
void setAvailableMemoryForTesting(std::uint64_t bytes);
// The peak a text of `units` UTF-16 units costs on its way out (see the top of this file).
std::uint64_t clipboardPeakBytes(std::uint64_t units);

// Gives up the PRIMARY selection when it holds a selection of source's document: called
// when the lines it names were reset (Clear, reload), so that a middle-click elsewhere
// pastes nothing rather than an empty text the program still claims, whether or not
// another program had asked for the text before.
void releasePrimaryOf(const SelectionTextSource* source);

// Builds the text of selection (of the document's current content) into text, after the
// memory check. With a control, it counts the units built and stops (Cancelled) once
// cancel is set; with a generation, a document reset since gives Unreadable. Any thread
// (see LogDocument::forEachSelectedPiece).
CopyResult buildSelectionText(LogDocument& document, const DocSelection& selection, QString& text,
                              CopyControl* control = nullptr,
                              std::uint64_t generation = LogDocument::AnyGeneration);

// A Copy of the log view's selection, built on a thread of its own so that the window goes
// on painting and following while a huge selection is read; the user-interface thread
// polls its progress and may cancel it. finished() is emitted on the user-interface thread
// once the text (or the reason there is none) is ready. The document must outlive the job;
// destroying the job cancels it and waits for its thread (at most one read block).
class SelectionCopyJob : public QObject {
    Q_OBJECT
  public:
    SelectionCopyJob(LogDocument& document, const DocSelection& selection,
                     QObject* parent = nullptr);
    ~SelectionCopyJob() override;

    void cancel();
    // Built so far, in thousandths of the selection's bound.
    int permille() const;
    bool isFinished() const { return m_finished; }
    // Valid once finished.
    const CopyResult& result() const { return m_result; }
    QString takeText() { return std::move(m_text); }

    // Runs on the job's thread before it reads anything (tests hold a copy there).
    static void setStartHookForTesting(std::function<void()> hook);

  signals:
    void finished();

  private:
    CopyControl m_control;
    std::uint64_t m_bound = 0;
    CopyResult m_result;
    QString m_text;
    bool m_finished = false;
    std::thread m_thread;
};

// The clipboard's data for a selection: either a text built at once (Copy) or a selection
// record read only when another program asks for it (PRIMARY), against the document
// generation it was taken under.
class SelectionMimeData : public QMimeData {
    Q_OBJECT
  public:
    explicit SelectionMimeData(QString text);
    SelectionMimeData(std::shared_ptr<SelectionTextSource> source, const DocSelection& selection,
                      std::uint64_t generation);

    QStringList formats() const override;
    bool hasFormat(const QString& mimeType) const override;
    // True once a lazy text has been built (tests).
    bool isBuilt() const { return m_built; }
    const SelectionTextSource* source() const { return m_source.get(); }

  protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

  private:
    const QString& builtText() const;

    std::shared_ptr<SelectionTextSource> m_source;
    DocSelection m_selection;
    std::uint64_t m_generation = 0;
    mutable QString m_text;
    mutable bool m_built = false;
};
