#pragma once

// Selected text on its way to the clipboard and to the X11/Wayland PRIMARY selection.
//
// The text goes out as Unicode ("text/plain;charset=utf-8", a QString inside the program)
// and, when the locale's narrow set is not UTF-8, also as "text/plain" in that set; in a
// UTF-8 locale "text/plain" is the same Unicode text. A copy is refused before it starts
// when its text could not be held comfortably: its peak (the text itself plus the UTF-8 a
// pasting program asks for, plus the narrow form) must fit in half of the memory the
// machine has available, so a copy of a huge selection neither ends the program nor pushes
// the machine into swapping. User-interface thread only.

#include "engine/DocumentTypes.h"

#include <QMimeData>
#include <QString>

#include <cstdint>
#include <memory>

class CBrackenlyDoc;

// The document a pane's selections come from, shared with the PRIMARY selection data that
// other programs may ask for later; the pane detaches it when it goes, and data whose
// source is gone (or whose document was reset since) gives nothing.
class SelectionTextSource {
  public:
    explicit SelectionTextSource(CBrackenlyDoc* document) : m_pDocument(document) {}
    CBrackenlyDoc* document() const { return m_pDocument; }
    void detach() { m_pDocument = nullptr; }

  private:
    CBrackenlyDoc* m_pDocument;
};

enum class CopyOutcome {
    Copied,
    NothingSelected,
    TooLarge,   // refused: neededBytes > half of availableBytes
    Unreadable, // the file could not be read; nothing offered
};

struct CopyResult {
    CopyOutcome outcome = CopyOutcome::NothingSelected;
    std::uint64_t neededBytes = 0;
    std::uint64_t availableBytes = 0;
};

// Memory the machine can give without swapping (MemAvailable), in bytes; overridable for
// tests (0 restores the real figure).
std::uint64_t AvailableMemoryBytes();
void SetAvailableMemoryForTesting(std::uint64_t bytes);
// The peak a text of `units` UTF-16 units costs on its way out (see the top of this file).
std::uint64_t ClipboardPeakBytes(std::uint64_t units);

// Builds the text of selection (of the document's current content) into text, after the
// memory check.
CopyResult BuildSelectionText(CBrackenlyDoc& document, const DocSelection& selection,
                              QString& text);

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
    bool isBuilt() const { return m_bBuilt; }

  protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

  private:
    const QString& builtText() const;

    std::shared_ptr<SelectionTextSource> m_source;
    DocSelection m_selection;
    std::uint64_t m_generation = 0;
    mutable QString m_text;
    mutable bool m_bBuilt = false;
};
