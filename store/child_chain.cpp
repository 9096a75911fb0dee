#include "store/child_chain.h"

#include <algorithm>

namespace store {

namespace {

// A batch holds at most this many records and, past the first, this much
// text: a walk's memory does not grow with the number of siblings, nor with
// their texts.
constexpr std::size_t kBatchRecords = 4096;
constexpr std::size_t kBatchTextBytes = 4u << 20;

} // namespace

bool KeySet::insert(std::int32_t key)
{
    if (key >= 0 && key < kDenseLimit) {
        const auto at = static_cast<std::size_t>(key);
        if (at >= m_bits.size())
            m_bits.resize(std::max(at + 1, m_bits.size() * 2));
        if (m_bits[at])
            return false;
        m_bits[at] = true;
        return true;
    }
    return m_others.insert(key).second;
}

bool KeySet::contains(std::int32_t key) const
{
    if (key >= 0 && key < kDenseLimit)
        return static_cast<std::size_t>(key) < m_bits.size() && m_bits[static_cast<std::size_t>(key)];
    return m_others.contains(key);
}

ChildChain::ChildChain(TreeCursor &cursor, std::int32_t parent, std::int32_t first, Read read, bool strict,
                       KeySet *reached, ReadAhead *readAhead)
    : m_cursor(&cursor)
    , m_parent(parent)
    , m_read(read)
    , m_strict(strict)
    , m_ownReached(reached ? nullptr : std::make_unique<KeySet>())
    , m_reached(reached ? reached : m_ownReached.get())
    , m_readAhead(readAhead)
    , m_upcoming(first)
{
}

ChildChain::~ChildChain()
{
    if (m_readAhead)
        m_readAhead->records += m_batch.size();
}

std::optional<std::int32_t> ChildChain::next()
{
    if (m_broken || !m_upcoming || *m_upcoming == 0 || m_reached->contains(*m_upcoming))
        return stop(m_broken || !m_upcoming || *m_upcoming != 0);
    const std::int32_t key = *m_upcoming;
    m_reached->insert(key);
    m_last = key;
    if (m_read == Read::Links) {
        if (!m_linksRead)
            readLinks();
        const auto at = std::lower_bound(m_links.begin(), m_links.end(), key,
                                         [](const auto &link, std::int64_t k) { return link.first < k; });
        if (at != m_links.end() && at->first == key)
            m_upcoming = at->second;
        else if (m_strict || !m_cursor->positionOn(key))
            return stop(true);
        else
            m_upcoming = m_cursor->key(Field::KeyNxt);
    } else {
        if (!positionOn(key) || (m_strict && m_cursor->key(Field::KeyPar) != m_parent))
            return stop(true);
        m_upcoming = m_cursor->key(Field::KeyNxt);
        if (m_yielded == 0 && m_upcoming.value_or(0) != 0)
            readBatch(); // the cursor stays on the first child
    }
    ++m_yielded;
    return key;
}

std::nullopt_t ChildChain::stop(bool broken)
{
    m_broken = broken;
    m_upcoming = 0;
    return std::nullopt;
}

void ChildChain::readLinks()
{
    m_linksRead = true;
    const auto links = m_cursor->childLinks(m_parent);
    m_links.reserve(links.size());
    for (const auto &[key, next] : links)
        m_links.emplace_back(key, toKey(next));
    std::sort(m_links.begin(), m_links.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
}

void ChildChain::readBatch()
{
    const std::size_t allowed = m_readAhead ? std::min(kBatchRecords, m_readAhead->records) : kBatchRecords;
    if (allowed == 0)
        return;
    m_batch = m_cursor->childRecords(m_parent, allowed, kBatchTextBytes);
    if (m_readAhead)
        m_readAhead->records -= m_batch.size();
    m_batchByKey.reserve(m_batch.size());
    for (std::uint32_t i = 0; i < m_batch.size(); ++i)
        m_batchByKey.emplace_back(m_batch[i].first, i);
    std::sort(m_batchByKey.begin(), m_batchByKey.end());
}

bool ChildChain::positionOn(std::int32_t key)
{
    const auto at = std::lower_bound(m_batchByKey.begin(), m_batchByKey.end(),
                                     std::pair<std::int64_t, std::uint32_t>(key, 0));
    if (at != m_batchByKey.end() && at->first == key) {
        // Each child is reached once: its record can be moved out.
        m_cursor->positionOnRecord(key, std::move(m_batch[at->second].second));
        return true;
    }
    return m_cursor->positionOn(key);
}

} // namespace store
