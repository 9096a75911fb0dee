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
// A text is named by a 32-bit place (block and offset) where its size stands,
// in one byte for a short text, before its bytes: a node holds four bytes for
// its text instead of eight.
class Texts {
public:
    using Place = std::uint32_t;
    static constexpr Place kEmpty = 0xFFFFFFFF; // an empty text takes no room

    std::string_view view(Place at) const
    {
        if (at == kEmpty)
            return {};
        const Block &b = m_blocks[at >> kOffsetBits];
        const char *p = b.data.get() + (at & kOffsetMask);
        std::uint32_t size = 0;
        const int prefix = readSize(p, size);
        return {p + prefix, size};
    }

    // Stores text in place of old (a place this holds, or kEmpty) and returns
    // where it now is. A text typed keystroke by keystroke is rewritten where
    // it stands instead of piling up copies. Past four gigabytes of blocks a
    // text is stored empty.
    Place replace(Place old, std::string_view text)
    {
        if (old != kEmpty) {
            Block &b = m_blocks[old >> kOffsetBits];
            const std::uint32_t offset = old & kOffsetMask;
            std::uint32_t oldSize = 0;
            const std::uint64_t oldEntry = readSize(b.data.get() + offset, oldSize) + std::uint64_t{oldSize};
            const bool last = offset + oldEntry == b.used;
            if (text.empty()) {
                if (last)
                    b.used = offset;
                return kEmpty;
            }
            const std::uint64_t entry = entrySize(text.size());
            if (b.own && entry > b.capacity && entry <= kMaxEntry) {
                // A long text being typed into: its block grows with room to
                // spare, instead of a copy of the whole text a keystroke.
                const auto room = static_cast<std::uint32_t>(std::min<std::uint64_t>(kMaxEntry, entry + entry / 4));
                auto grown = std::make_unique_for_overwrite<char[]>(room);
                b.used = write(grown.get(), text);
                b.data = std::move(grown);
                b.capacity = room;
                return old;
            }
            if (entry <= oldEntry || (last && offset + entry <= b.capacity)) {
                const std::uint32_t end = offset + write(b.data.get() + offset, text);
                if (last)
                    b.used = end;
                return old;
            }
        }
        return append(text);
    }

    Place append(std::string_view text)
    {
        const std::uint64_t entry = entrySize(text.size());
        if (text.empty() || entry > kMaxEntry)
            return kEmpty;
        Block *b = m_open < m_blocks.size() ? &m_blocks[m_open] : nullptr;
        if (!b || b->capacity - b->used < entry) {
            if (m_blocks.size() > kMaxBlocks)
                return kEmpty;
            const bool own = text.size() > kBlockBytes / 4;
            const auto capacity = own ? static_cast<std::uint32_t>(entry) : kBlockBytes;
            m_blocks.push_back({std::make_unique_for_overwrite<char[]>(capacity), 0, capacity, own});
            b = &m_blocks.back();
            if (!own)
                m_open = m_blocks.size() - 1;
        }
        const auto at = static_cast<Place>(((b - m_blocks.data()) << kOffsetBits) | b->used);
        b->used += write(b->data.get() + b->used, text);
        return at;
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
    static constexpr std::size_t kMaxBlocks = (std::size_t{1} << (32 - kOffsetBits)) - 2;
    static constexpr std::uint64_t kMaxEntry = std::numeric_limits<std::uint32_t>::max();

    // The size in seven bits a byte, the high bit saying another follows.
    static std::uint64_t entrySize(std::uint64_t size)
    {
        std::uint64_t prefix = 1;
        for (std::uint64_t rest = size >> 7; rest != 0; rest >>= 7)
            ++prefix;
        return prefix + size;
    }
    static int readSize(const char *p, std::uint32_t &size)
    {
        size = 0;
        int i = 0;
        for (int shift = 0;; shift += 7, ++i) {
            const auto byte = static_cast<unsigned char>(p[i]);
            size |= static_cast<std::uint32_t>(byte & 0x7F) << shift;
            if (!(byte & 0x80))
                return i + 1;
        }
    }
    // Writes the entry at p; returns its length.
    static std::uint32_t write(char *p, std::string_view text)
    {
        std::uint32_t i = 0;
        auto size = static_cast<std::uint32_t>(text.size());
        while (size >= 0x80) {
            p[i++] = static_cast<char>((size & 0x7F) | 0x80);
            size >>= 7;
        }
        p[i++] = static_cast<char>(size);
        std::memcpy(p + i, text.data(), text.size());
        return i + static_cast<std::uint32_t>(text.size());
    }

    struct Block {
        std::unique_ptr<char[]> data;
        std::uint32_t used = 0;
        std::uint32_t capacity = 0;
        bool own = false; // holds one long text, at its start
    };
    std::vector<Block> m_blocks;
    std::size_t m_open = std::numeric_limits<std::size_t>::max(); // the block small texts go to
};

// Packed key to node id. A store's keys are mostly small whole numbers
// close together (it hands out the smallest free one): those are looked up
// directly, in a table per suffix indexed by the number, four bytes a number.
// Any other key (negative, far beyond the others) goes to a hash with open
// addressing over the ids alone, the key of a slot read from its node. Ids
// are 0, 1, 2, ... in the order they are inserted, as a tree numbers its
// nodes: growing the hash re-reads the keys in that order, one sweep through
// the nodes instead of a cache miss per node.
template <typename KeyOf>
class KeyIndex {
public:
    explicit KeyIndex(KeyOf keyOf) : m_keyOf(keyOf) { clear(); }

    void clear()
    {
        m_dense.clear();
        m_dense.shrink_to_fit();
        m_ids.assign(16, kEmpty);
        m_ids.shrink_to_fit();
        m_count = 0;
        m_hashed = 0;
    }

    int find(std::uint64_t key) const
    {
        if (const int id = denseFind(key); id != kEmpty)
            return id;
        if (m_hashed == 0)
            return -1;
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
        ++m_count;
        if (denseInsert(key, id))
            return;
        if ((m_hashed + 1) * 2 > m_ids.size())
            grow();
        place(key, id);
        ++m_hashed;
    }

    std::size_t bytes() const
    {
        std::size_t total = m_ids.capacity() * sizeof(int);
        for (const Dense &d : m_dense)
            total += d.ids.capacity() * sizeof(int);
        return total;
    }

private:
    static constexpr int kEmpty = -1;
    static constexpr std::int64_t kDenseSlack = 4096;
    static constexpr std::size_t kDenseSuffixes = 4;

    struct Dense {
        std::uint16_t suffix = 0;
        std::size_t used = 0;
        std::vector<int> ids; // by number
    };

    static std::int64_t numberOf(std::uint64_t key) { return static_cast<std::int64_t>(key) >> 16; }
    static std::uint16_t suffixOf(std::uint64_t key) { return static_cast<std::uint16_t>(key & 0xFFFF); }

    int denseFind(std::uint64_t key) const
    {
        const std::int64_t n = numberOf(key);
        for (const Dense &d : m_dense) {
            if (d.suffix == suffixOf(key))
                return n >= 0 && n < static_cast<std::int64_t>(d.ids.size()) ? d.ids[static_cast<std::size_t>(n)]
                                                                              : kEmpty;
        }
        return kEmpty;
    }

    // True when the key went to its suffix's table: a number no further
    // beyond the table than twice its entries (and some slack) allow, so the
    // table never holds much more empty room than keys.
    bool denseInsert(std::uint64_t key, int id)
    {
        const std::int64_t n = numberOf(key);
        if (n < 0)
            return false;
        Dense *table = nullptr;
        for (Dense &d : m_dense) {
            if (d.suffix == suffixOf(key))
                table = &d;
        }
        if (!table) {
            if (m_dense.size() == kDenseSuffixes || n >= kDenseSlack)
                return false;
            m_dense.push_back({suffixOf(key), 0, {}});
            table = &m_dense.back();
        }
        const auto at = static_cast<std::size_t>(n);
        if (at >= table->ids.size()) {
            if (n >= 2 * static_cast<std::int64_t>(table->used) + kDenseSlack)
                return false;
            table->ids.resize(at + 1, kEmpty);
        }
        table->ids[at] = id;
        ++table->used;
        return true;
    }

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
        // Every id inserted so far but the one being inserted now.
        for (std::size_t id = 0; id + 1 < m_count; ++id) {
            const std::uint64_t key = m_keyOf(static_cast<int>(id));
            if (denseFind(key) != static_cast<int>(id))
                place(key, static_cast<int>(id));
        }
    }

    KeyOf m_keyOf;
    std::vector<Dense> m_dense;
    std::vector<int> m_ids;
    std::size_t m_count = 0;  // ids inserted
    std::size_t m_hashed = 0; // of them in the hash
};

} // namespace toolkit::storage
