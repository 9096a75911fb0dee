#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>
#include <vector>

// The storage behind a KeyedTree's million nodes. Nothing here is ever moved
// once written: a growing vector or string copies everything it holds and,
// for a moment, holds it twice, which is most of a large tree's peak memory.
namespace toolkit::storage {

// A vector that grows a block at a time and never moves what it holds.
template <typename T, int kBlockBits = 14>
class Blocks {
public:
    static constexpr std::size_t kBlock = std::size_t{1} << kBlockBits;

    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    T &operator[](std::size_t i) { return m_blocks[i >> kBlockBits][i & (kBlock - 1)]; }
    const T &operator[](std::size_t i) const { return m_blocks[i >> kBlockBits][i & (kBlock - 1)]; }

    void push_back(const T &value)
    {
        if ((m_size & (kBlock - 1)) == 0 && (m_size >> kBlockBits) == m_blocks.size())
            m_blocks.push_back(std::make_unique_for_overwrite<T[]>(kBlock));
        (*this)[m_size++] = value;
    }

    // Empties it and gives the memory back.
    void clear()
    {
        m_blocks.clear();
        m_blocks.shrink_to_fit();
        m_size = 0;
    }

    std::size_t bytes() const { return m_blocks.size() * kBlock * sizeof(T); }

private:
    std::vector<std::unique_ptr<T[]>> m_blocks;
    std::size_t m_size = 0;
};

// UTF-8 texts in blocks of a megabyte; a text of more than a quarter of a
// block gets a block of its own, so a ten-megabyte text costs its size once.
// A text is named by a 32-bit place (block and offset) and its size.
class Texts {
public:
    struct Span {
        std::uint32_t at = 0;
        std::uint32_t size = 0;
    };

    std::string_view view(Span s) const
    {
        if (s.size == 0)
            return {};
        return {m_blocks[s.at >> kOffsetBits].data.get() + (s.at & kOffsetMask), s.size};
    }

    // Stores text in place of old (a span this holds, or empty) and returns
    // where it now is. A text typed keystroke by keystroke is rewritten where
    // it stands instead of piling up copies. Past four gigabytes of blocks a
    // text is stored empty.
    Span replace(Span old, std::string_view text)
    {
        if (text.size() > std::numeric_limits<std::uint32_t>::max())
            return {};
        const auto size = static_cast<std::uint32_t>(text.size());
        if (old.size > 0) {
            Block &b = m_blocks[old.at >> kOffsetBits];
            const std::uint32_t offset = old.at & kOffsetMask;
            const bool last = offset + old.size == b.used;
            if (b.own && size > b.capacity) {
                // A long text being typed into: its block grows with room to
                // spare, instead of a copy of the whole text a keystroke.
                const std::uint32_t room = static_cast<std::uint32_t>(
                    std::min<std::uint64_t>(std::numeric_limits<std::uint32_t>::max(), size + size / 4));
                auto grown = std::make_unique_for_overwrite<char[]>(room);
                std::memcpy(grown.get(), text.data(), size);
                b.data = std::move(grown);
                b.capacity = room;
                b.used = size;
                return {old.at, size};
            }
            if (size <= old.size || (last && offset + std::size_t{size} <= b.capacity)) {
                if (size > 0)
                    std::memmove(b.data.get() + offset, text.data(), size);
                if (last)
                    b.used = offset + size;
                return size == 0 ? Span{} : Span{old.at, size};
            }
        }
        return append(text);
    }

    Span append(std::string_view text)
    {
        if (text.empty() || text.size() > std::numeric_limits<std::uint32_t>::max())
            return {};
        const auto size = static_cast<std::uint32_t>(text.size());
        Block *b = m_open < m_blocks.size() ? &m_blocks[m_open] : nullptr;
        if (!b || b->capacity - b->used < size) {
            if (m_blocks.size() > kMaxBlocks)
                return {};
            const bool own = size > kBlockBytes / 4;
            m_blocks.push_back({std::make_unique_for_overwrite<char[]>(own ? size : kBlockBytes), 0,
                                own ? size : kBlockBytes, own});
            b = &m_blocks.back();
            if (!own)
                m_open = m_blocks.size() - 1;
        }
        const Span s{static_cast<std::uint32_t>(((b - m_blocks.data()) << kOffsetBits) | b->used), size};
        std::memcpy(b->data.get() + b->used, text.data(), size);
        b->used += size;
        return s;
    }

    void clear()
    {
        m_blocks.clear();
        m_blocks.shrink_to_fit();
        m_open = std::numeric_limits<std::size_t>::max();
    }

    std::size_t bytes() const
    {
        std::size_t total = 0;
        for (const Block &b : m_blocks)
            total += b.capacity;
        return total;
    }

private:
    static constexpr int kOffsetBits = 20;
    static constexpr std::uint32_t kOffsetMask = (1u << kOffsetBits) - 1;
    static constexpr std::uint32_t kBlockBytes = 1u << kOffsetBits;
    static constexpr std::size_t kMaxBlocks = (std::size_t{1} << (32 - kOffsetBits)) - 1;

    struct Block {
        std::unique_ptr<char[]> data;
        std::uint32_t used = 0;
        std::uint32_t capacity = 0;
        bool own = false; // holds one long text, at its start
    };
    std::vector<Block> m_blocks;
    std::size_t m_open = std::numeric_limits<std::size_t>::max(); // the block small texts go to
};

// Packed key to node id, open addressing over the ids alone: the key of a
// slot is read from its node, so a slot costs four bytes instead of twelve.
// Ids are 0, 1, 2, ... in the order they are inserted, as a tree numbers its
// nodes: growing re-reads the keys in that order, one sweep through the
// nodes instead of a cache miss per node.
template <typename KeyOf>
class KeyIndex {
public:
    explicit KeyIndex(KeyOf keyOf) : m_keyOf(keyOf) { clear(); }

    void clear()
    {
        m_ids.assign(16, kEmpty);
        m_ids.shrink_to_fit();
        m_size = 0;
    }

    int find(std::uint64_t key) const
    {
        for (std::size_t i = slot(key);; i = (i + 1) & (m_ids.size() - 1)) {
            const int id = m_ids[i];
            if (id == kEmpty)
                return -1;
            if (m_keyOf(id) == key)
                return id;
        }
    }

    // The key must not be in the index yet, and id must be the number of
    // keys inserted so far.
    void insert(std::uint64_t key, int id)
    {
        if ((m_size + 1) * 2 > m_ids.size())
            grow();
        place(key, id);
        ++m_size;
    }

    std::size_t bytes() const { return m_ids.capacity() * sizeof(int); }

private:
    static constexpr int kEmpty = -1;
    std::size_t slot(std::uint64_t key) const
    {
        key ^= key >> 33;
        key *= 0xff51afd7ed558ccdULL;
        key ^= key >> 33;
        key *= 0xc4ceb9fe1a85ec53ULL;
        key ^= key >> 33;
        return static_cast<std::size_t>(key) & (m_ids.size() - 1);
    }

    void place(std::uint64_t key, int id)
    {
        std::size_t i = slot(key);
        while (m_ids[i] != kEmpty)
            i = (i + 1) & (m_ids.size() - 1);
        m_ids[i] = id;
    }

    void grow()
    {
        const std::size_t capacity = m_ids.size() * 2;
        std::vector<int>().swap(m_ids); // not held twice
        m_ids.assign(capacity, kEmpty);
        for (std::size_t id = 0; id < m_size; ++id)
            place(m_keyOf(static_cast<int>(id)), static_cast<int>(id));
    }

    KeyOf m_keyOf;
    std::vector<int> m_ids;
    std::size_t m_size = 0;
};

} // namespace toolkit::storage
