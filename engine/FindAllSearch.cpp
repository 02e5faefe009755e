#include "engine/FindAllSearch.h"

#include "engine/FilterPattern.h"
#include "engine/LogDocument.h"

#include <algorithm>

FindAllSearch::FindAllSearch(FilterHost* host) : m_host(host) {}

FindAllSearch::~FindAllSearch()
{
    // Each filter stops its worker and leaves its document's listeners.
    m_groups.clear();
}

std::optional<FilterError> FindAllSearch::setTerm(const FilterTerm& term)
{
    clear();
    if (term.text.empty()) {
        return std::nullopt;
    }
    // Compiled once here for its error, so that no document is searched with a term that
    // another would reject.
    FilterError error;
    if (!FilterPattern::compile(term, error.message, error.offset)) {
        return error;
    }
    m_term = term;
    m_active = true;
    startNext();
    return std::nullopt;
}

void FindAllSearch::clear()
{
    m_active = false;
    m_stopped = false;
    m_term = FilterTerm();
    for (Group& group : m_groups) {
        group.filter->clearFilter();
        group.started = false;
        group.firstDone = false;
    }
}

void FindAllSearch::addDocument(LogDocument& document)
{
    if (groupOf(document) < m_groups.size()) {
        return;
    }
    Group group;
    group.document = &document;
    group.filter = std::make_unique<LineFilter>(document, m_host);
    m_groups.push_back(std::move(group));
    startNext();
}

void FindAllSearch::removeDocument(const LogDocument& document)
{
    const std::size_t index = groupOf(document);
    if (index >= m_groups.size()) {
        return;
    }
    m_groups.erase(m_groups.begin() + std::ptrdiff_t(index));
    // It may have been the one searching.
    startNext();
}

std::size_t FindAllSearch::groupOf(const LogDocument& document) const
{
    const auto found = std::find_if(m_groups.begin(), m_groups.end(), [&](const Group& group) {
        return group.document == &document;
    });
    return std::size_t(found - m_groups.begin());
}

const FilterMatches& FindAllSearch::matches(std::size_t group) const
{
    return group < m_groups.size() ? m_groups[group].filter->matches() : m_none;
}

FilterChange FindAllSearch::sync(const LogDocument& document)
{
    const std::size_t index = groupOf(document);
    if (index >= m_groups.size() || !m_groups[index].started) {
        FilterChange none;
        none.firstNewRow = none.rowCount = matches(index).size();
        return none;
    }
    return m_groups[index].filter->sync();
}

std::vector<FilterChange> FindAllSearch::collect()
{
    std::vector<FilterChange> changes(m_groups.size());
    for (std::size_t i = 0; i < m_groups.size(); ++i) {
        Group& group = m_groups[i];
        if (!group.started) {
            changes[i].firstNewRow = changes[i].rowCount = group.filter->matches().size();
            continue;
        }
        changes[i] = group.filter->collect();
        // Done before its last rows were taken over is not done yet: the notice that
        // carries them comes, and this is asked again.
        if (!group.firstDone && group.filter->progress().state == FilterState::Done &&
            group.filter->isCollected()) {
            group.firstDone = true;
        }
    }
    startNext();
    return changes;
}

void FindAllSearch::startNext()
{
    if (!m_active || m_stopped) {
        return;
    }
    for (Group& group : m_groups) {
        if (!group.started) {
            start(group);
            return;
        }
        if (!group.firstDone) {
            return; // one first pass at a time
        }
    }
}

void FindAllSearch::start(Group& group)
{
    if (m_chunkLines > 0) {
        group.filter->setChunkLimits(m_chunkLines, m_chunkBytes);
    }
    FilterSet set;
    set.include = m_term;
    group.filter->setFilter(set);
    group.started = true;
}

void FindAllSearch::stop()
{
    if (!m_active) {
        return;
    }
    m_stopped = true;
    for (Group& group : m_groups) {
        if (group.started) {
            group.filter->stop();
        }
    }
}

void FindAllSearch::resume()
{
    if (!m_active) {
        return;
    }
    m_stopped = false;
    for (Group& group : m_groups) {
        if (group.started) {
            group.filter->resume();
        }
    }
    startNext();
}

FilterProgress FindAllSearch::progress(std::size_t index) const
{
    FilterProgress progress;
    if (!m_active || index >= m_groups.size()) {
        return progress;
    }
    const Group& group = m_groups[index];
    if (group.started) {
        return group.filter->progress();
    }
    progress.state = m_stopped ? FilterState::Stopped : FilterState::Running;
    progress.total = group.document->lineCount();
    return progress;
}

FilterProgress FindAllSearch::progress() const
{
    FilterProgress total;
    if (!m_active) {
        return total;
    }
    total.state = FilterState::Done;
    for (std::size_t i = 0; i < m_groups.size(); ++i) {
        const FilterProgress one = progress(i);
        total.done += one.done;
        total.total += one.total;
        if (one.state == FilterState::Running) {
            total.state = FilterState::Running;
        }
    }
    if (m_stopped) {
        total.state = FilterState::Stopped;
    }
    return total;
}

bool FindAllSearch::isWaiting(std::size_t group) const
{
    return m_active && group < m_groups.size() && !m_groups[group].started;
}

bool FindAllSearch::isSettled() const
{
    if (!m_active) {
        return true;
    }
    return std::all_of(m_groups.begin(), m_groups.end(), [](const Group& group) {
        return group.started && group.filter->progress().state == FilterState::Done &&
               group.filter->isCollected();
    });
}

void FindAllSearch::setChunkLimits(LineNumber lines, FileOffset bytes)
{
    m_chunkLines = lines;
    m_chunkBytes = bytes;
}
