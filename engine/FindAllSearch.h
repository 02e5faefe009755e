#pragma once

// FindAllSearch: Find in All Tabs' model. One term, with the filter's options, searched in
// several documents; each document's matching lines are kept by a LineFilter of its own
// (FilterMatches: line numbers only, the texts are read when rows are shown), so each list
// follows its document's appends, Clear and reload by the filter's rules.
//
// The documents are searched one after another, in the order they were added: only one
// document's first pass runs at a time, so five large logs cost what five filter passes one
// after the other cost, and the first ones' results are complete first. A document whose
// first pass is over goes on following on its own while the next is searched. Stop stops
// the pass that runs and every document's following; resume() goes on from there.
//
// Everything here runs on the main thread; the filters' workers report through the host
// (FilterHost::postFilterProgress), which the main thread answers with collect(). A
// document must be removed before it goes away. Do not hold a document's docAccess while
// calling setTerm(), clear(), removeDocument() or the destructor (they may wait for a
// worker, which may wait for the lock).

#include "engine/DocumentTypes.h"
#include "engine/FilterMatches.h"
#include "engine/FilterSet.h"
#include "engine/LineFilter.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

class FilterHost;
class LogDocument;

class FindAllSearch {
  public:
    // host is not owned and may be null (nothing is posted: tests poll collect()).
    explicit FindAllSearch(FilterHost* host);
    ~FindAllSearch();
    FindAllSearch(const FindAllSearch&) = delete;
    FindAllSearch& operator=(const FindAllSearch&) = delete;

    // Searches every document for term from its first line, the first document first. An
    // empty text searches nothing; a regular expression that does not compile searches
    // nothing and is returned as the error.
    std::optional<FilterError> setTerm(const FilterTerm& term);
    // No term: every list empties.
    void clear();
    const FilterTerm& term() const { return m_term; }
    bool isActive() const { return m_active; }

    // A document searched after those added before it (at once when none is searching).
    void addDocument(LogDocument& document);
    // The document's list goes; its filter stops before this returns.
    void removeDocument(const LogDocument& document);
    std::size_t documentCount() const { return m_groups.size(); }
    LogDocument& document(std::size_t group) const { return *m_groups[group].document; }
    // The group of document, or documentCount() when it has none.
    std::size_t groupOf(const LogDocument& document) const;
    // Matching lines of the group's document, ascending.
    const FilterMatches& matches(std::size_t group) const;

    // The document changed (an append message, an update of its views): new lines are
    // searched. What it changed in the group's list (a reset only).
    FilterChange sync(const LogDocument& document);
    // Takes over what the workers found, one change per group (in group order); starts the
    // next document's pass when the one before has ended.
    std::vector<FilterChange> collect();

    void stop();
    void resume();
    // Lines searched out of the lines of every document; Running while a document still
    // waits for its turn.
    FilterProgress progress() const;
    // The group's own: Running while it waits for its turn.
    FilterProgress progress(std::size_t group) const;
    // The group's document waits for its turn: its first pass has not begun.
    bool isWaiting(std::size_t group) const;
    // Every group's rows collected and nothing running (tests and benchmarks).
    bool isSettled() const;

    // Tests: chunk limits of the filters started from now on.
    void setChunkLimits(LineNumber lines, FileOffset bytes);

  private:
    struct Group {
        LogDocument* document = nullptr;
        std::unique_ptr<LineFilter> filter;
        bool started = false;   // its filter has the term
        bool firstDone = false; // its first pass is over
    };
    // Starts the first group not started yet once no first pass runs.
    void startNext();
    void start(Group& group);

    FilterHost* m_host;
    std::vector<Group> m_groups;
    FilterTerm m_term;
    bool m_active = false;
    bool m_stopped = false;
    LineNumber m_chunkLines = 0;
    FileOffset m_chunkBytes = 0;
    FilterMatches m_none;
};
