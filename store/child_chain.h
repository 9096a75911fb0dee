#pragma once

#include "store/tree_cursor.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_set>
#include <utility>
#include <vector>

namespace store {

// Item keys a walk has reached: a bit per key for the keys a store normally
// has, a set for any others, so the test costs next to nothing either way.
class KeySet {
public:
    // False when key was in the set already.
    bool insert(std::int32_t key);
    bool contains(std::int32_t key) const;

private:
    static constexpr std::int32_t kDenseLimit = 1 << 26;
    std::vector<bool> m_bits;
    std::unordered_set<std::int32_t> m_others;
};

// A parent's children in chain order: the first child (the parent's KeyChi,
// given), then along KeyNxt. The children are read in one pass over
// "ParNxt" (the records naming the parent in KeyPar) and looked up there; a
// child that pass lacks is read by its key.
//
// The chain ends at a 0 link. It breaks (broken() is true) at a link that is
// Null or no key, at a key no record has, at a child it has reached before
// (a chain that comes back on itself is followed once round) and, when
// strict, at a child that does not name the parent. A child in `reached`
// (shared by the chains of one walk) ends the chain too: a link to an item
// the walk has shown is not followed.
//
// Nothing is written. The chain keeps no cursor precondition: it works in
// whatever index is current, and the cursor may be moved between two calls
// to next().
class ChildChain {
public:
    enum class Read {
        // Keys and next links only, all in one pass; the cursor moves only to
        // read a child the pass lacks.
        Links,
        // Whole records, each child made current on the cursor. The pass
        // starts at the second child and reads a batch at a time (the
        // `ReadAhead` shared by the walk's chains bounds the records held at
        // once); a child the batch lacks is read by its key.
        Records,
    };
    // How many records the batches of one walk may hold at once.
    struct ReadAhead {
        std::size_t records = 16384;
    };

    ChildChain(TreeCursor &cursor, std::int32_t parent, std::int32_t first, Read read, bool strict = false,
               KeySet *reached = nullptr, ReadAhead *readAhead = nullptr);
    ~ChildChain();
    ChildChain(ChildChain &&) noexcept = default;
    ChildChain &operator=(ChildChain &&) = delete;

    // The next child's key; with Read::Records its record is current on the
    // cursor. nullopt at the end of the chain or where it breaks.
    std::optional<std::int32_t> next();
    bool broken() const { return m_broken; }
    // The last key the chain went to, whether or not a record has it; 0 for
    // none yet.
    std::int32_t lastKey() const { return m_last; }

private:
    std::nullopt_t stop(bool broken);
    void readLinks();
    void readBatch();
    // Makes key current from the batch, else by its key; false for no record.
    bool positionOn(std::int32_t key);

    TreeCursor *m_cursor;
    std::int32_t m_parent;
    Read m_read;
    bool m_strict;
    std::unique_ptr<KeySet> m_ownReached; // when the walk shares none
    KeySet *m_reached;
    ReadAhead *m_readAhead;

    std::optional<std::int32_t> m_upcoming; // nullopt: a link that cannot be followed
    std::int32_t m_last = 0;
    std::size_t m_yielded = 0;
    bool m_broken = false;

    // Read::Links: every child's next link, sorted by key.
    std::vector<std::pair<std::int64_t, std::optional<std::int32_t>>> m_links;
    bool m_linksRead = false;
    // Read::Records: a batch of children and where each key is in it (sorted
    // by key: a record is ten values, too big to sort itself).
    std::vector<std::pair<std::int64_t, TreeCursor::Record>> m_batch;
    std::vector<std::pair<std::int64_t, std::uint32_t>> m_batchByKey;
};

} // namespace store
