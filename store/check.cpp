#include "store/check.h"

#include "store/connection.h"
#include "store/error.h"
#include "store/format.h"
#include "store/sql.h"
#include "store/statement.h"
#include "store/value.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <limits>
#include <string>
#include <unordered_map>
#include <vector>

namespace store {

namespace {

// The four links, in the order a record keeps them.
enum Slot : std::uint8_t { Par, Chi, Prw, Nxt, SlotCount };
constexpr std::array<Field, SlotCount> kSlotFields{Field::KeyPar, Field::KeyChi, Field::KeyPrw, Field::KeyNxt};

// Column of f in the checker's read.
constexpr int column(Field f)
{
    for (std::size_t i = 0; i < sql::kCheckFields.size(); ++i) {
        if (sql::kCheckFields[i] == f)
            return static_cast<int>(i);
    }
    return -1;
}
static_assert(column(Field::KeyInd) >= 0 && column(Field::KeySel) >= 0 && column(Field::KeyPar) >= 0
              && column(Field::KeyChi) >= 0 && column(Field::KeyPrw) >= 0 && column(Field::KeyNxt) >= 0);

enum class LinkState : std::uint8_t { Key, Null, NoKey };
enum class Visit : std::uint8_t { Unseen, Open, Closed };

// One record, as small as it goes: a million of them are read at once.
struct Record {
    std::int32_t key = 0;
    std::array<std::int32_t, SlotCount> link{};
    std::array<LinkState, SlotCount> state{};
    // Open: on the way from the root to where the walk stands (an ancestor,
    // or an earlier item of a chain still being walked). Reaching an open
    // item again closes a loop.
    Visit visit = Visit::Unseen;
};

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

// Record positions by key: a plain array for the keys 0, 1, 2, ... a store
// normally has, a hash map for any key far outside them.
class KeyIndex {
public:
    // False for a key already taken.
    bool add(std::int32_t key, std::uint32_t position)
    {
        if (key >= 0 && static_cast<std::size_t>(key) < m_dense.size()) {
            std::uint32_t &slot = m_dense[static_cast<std::size_t>(key)];
            if (slot != kNone)
                return false;
            slot = position;
            return true;
        }
        return m_sparse.emplace(key, position).second;
    }
    void reserveDense(std::size_t size) { m_dense.assign(size, kNone); }
    std::uint32_t find(std::int32_t key) const
    {
        if (key >= 0 && static_cast<std::size_t>(key) < m_dense.size())
            return m_dense[static_cast<std::size_t>(key)];
        const auto it = m_sparse.find(key);
        return it == m_sparse.end() ? kNone : it->second;
    }

private:
    std::vector<std::uint32_t> m_dense;
    std::unordered_map<std::int32_t, std::uint32_t> m_sparse;
};

std::string name(Slot s)
{
    return std::string(fieldName(kSlotFields[s]));
}

class Checker {
public:
    explicit Checker(LinkCheck &out) : m_out(out) {}

    bool read(Connection &connection);
    void checkStructure();

private:
    void say(std::int64_t key, const std::string &what)
    {
        m_out.problems.push_back("item " + std::to_string(key) + ": " + what);
    }
    // A Null or unreadable link, said and true; false for a key.
    bool badLink(const Record &r, Slot s);
    std::uint32_t follow(std::uint32_t holder, Slot s);
    void checkPlace(const Record &x, std::int32_t parent, std::int32_t previous);
    void walk(std::uint32_t root);

    LinkCheck &m_out;
    std::vector<Record> m_records;
    KeyIndex m_index;
    std::vector<std::string> m_selection; // said last
};

bool Checker::read(Connection &connection)
{
    Statement stmt;
    if (!stmt.prepare(connection.handle(), sql::kCheckRead))
        return failWith(stmt.error());
    Value v;
    std::int32_t largest = -1;
    std::optional<std::string> selected;
    for (;;) {
        const auto step = stmt.step();
        if (step == Statement::Step::Done)
            break;
        if (step == Statement::Step::Error)
            return failWith(stmt.error());
        stmt.columnInto(column(Field::KeyInd), v);
        const auto key = toKey(v);
        const std::string keyText = key ? std::to_string(*key) : toText(v).value_or("Null");
        if (!key)
            m_out.problems.push_back("item " + keyText + ": KeyInd is no 32-bit item key");

        stmt.columnInto(column(Field::KeySel), v);
        if (toFlag(v).value_or(false)) {
            if (selected)
                m_selection.push_back("item " + keyText + ": KeySel true, but item " + *selected + " is selected too");
            else
                selected = keyText;
        }
        if (!key)
            continue;

        Record &r = m_records.emplace_back();
        r.key = *key;
        for (int s = 0; s < SlotCount; ++s) {
            stmt.columnInto(column(kSlotFields[s]), v);
            const auto link = toKey(v);
            r.state[s] = link ? LinkState::Key : isNull(v) ? LinkState::Null : LinkState::NoKey;
            r.link[s] = link.value_or(0);
        }
        if (*key > largest)
            largest = *key;
    }
    if (m_records.size() >= kNone)
        return failWith("too many records to check");
    // Keys run 0, 1, 2, ...; a few far-off ones must not make the array huge.
    const std::size_t keysUpTo = largest < 0 ? 0 : static_cast<std::size_t>(largest) + 1;
    m_index.reserveDense(std::min(keysUpTo, 2 * m_records.size() + 1024));
    for (std::uint32_t i = 0; i < m_records.size(); ++i) {
        if (!m_index.add(m_records[i].key, i))
            say(m_records[i].key, "more than one record has this key");
    }
    return true;
}

bool Checker::badLink(const Record &r, Slot s)
{
    switch (r.state[s]) {
    case LinkState::Key:
        return false;
    case LinkState::Null:
        say(r.key, name(s) + " is Null");
        return true;
    case LinkState::NoKey:
        say(r.key, name(s) + " is no 32-bit item key");
        return true;
    }
    return true;
}

// The record that link s of holder leads to, or kNone where the chain ends:
// at 0, or at a link that is broken (said here).
std::uint32_t Checker::follow(std::uint32_t holder, Slot s)
{
    const Record &h = m_records[holder];
    if (badLink(h, s) || h.link[s] == 0)
        return kNone;
    const std::int32_t key = h.link[s];
    const std::uint32_t at = m_index.find(key);
    if (at == kNone) {
        say(h.key, name(s) + " " + std::to_string(key) + " names no record");
        return kNone;
    }
    switch (m_records[at].visit) {
    case Visit::Unseen:
        return at;
    case Visit::Open:
        say(h.key, name(s) + " " + std::to_string(key) + " makes a cycle");
        return kNone;
    case Visit::Closed:
        say(key, "reached twice, the second time by " + name(s) + " of item " + std::to_string(h.key));
        return kNone;
    }
    return kNone;
}

// x was reached in the chain of parent, after previous (0: as its first child).
void Checker::checkPlace(const Record &x, std::int32_t parent, std::int32_t previous)
{
    const auto place = [&] {
        return previous == 0 ? "it is the first child of " + std::to_string(parent)
                             : "it is a child of " + std::to_string(parent);
    };
    if (!badLink(x, Par) && x.link[Par] != parent)
        say(x.key, "KeyPar " + std::to_string(x.link[Par]) + " but " + place());
    if (!badLink(x, Prw) && x.link[Prw] != previous) {
        say(x.key, "KeyPrw " + std::to_string(x.link[Prw]) + " but "
                       + (previous == 0 ? place() : "the previous sibling is " + std::to_string(previous)));
    }
}

// Depth first, children before next siblings, with a stack of the chains
// being walked instead of recursion.
void Checker::walk(std::uint32_t root)
{
    struct Chain {
        std::uint32_t parent;
        std::uint32_t previous; // kNone before the first child
        std::size_t openFrom;   // this chain's items in `open`
    };
    std::vector<Chain> chains;
    std::vector<std::uint32_t> open{root};
    m_records[root].visit = Visit::Open;
    m_out.reachable.push_back(m_records[root].key);
    chains.push_back({root, kNone, open.size()});
    while (!chains.empty()) {
        Chain &chain = chains.back();
        const bool first = chain.previous == kNone;
        const std::uint32_t next = follow(first ? chain.parent : chain.previous, first ? Chi : Nxt);
        if (next == kNone) {
            for (std::size_t i = chain.openFrom; i < open.size(); ++i)
                m_records[open[i]].visit = Visit::Closed;
            open.resize(chain.openFrom);
            chains.pop_back();
            continue;
        }
        Record &x = m_records[next];
        x.visit = Visit::Open;
        open.push_back(next);
        m_out.reachable.push_back(x.key);
        checkPlace(x, m_records[chain.parent].key, first ? 0 : m_records[chain.previous].key);
        chain.previous = next;
        chains.push_back({next, kNone, open.size()});
    }
}

void Checker::checkStructure()
{
    if (m_index.find(0) == kNone)
        say(0, "no record; key 0 must have one");
    const std::uint32_t root = m_index.find(kRootKey);
    if (root == kNone) {
        say(kRootKey, "no record; the tree has no root");
    } else {
        const Record &r = m_records[root];
        const struct {
            Slot slot;
            const char *rule;
        } rootLinks[] = {{Par, "the root has no parent"},
                         {Prw, "the root has no previous sibling"},
                         {Nxt, "the root has no next sibling"}};
        for (const auto &[slot, rule] : rootLinks) {
            if (!badLink(r, slot) && r.link[slot] != 0)
                say(r.key, name(slot) + " " + std::to_string(r.link[slot]) + " but " + rule);
        }
        walk(root);
    }
    for (auto &line : m_selection)
        m_out.problems.push_back(std::move(line));
}

} // namespace

std::optional<LinkCheck> checkLinks(Connection &connection)
{
    LinkCheck out;
    Checker checker(out);
    if (!checker.read(connection))
        return std::nullopt;
    checker.checkStructure();
    return out;
}

namespace {

bool isFormatObject(std::string_view type, std::string_view name)
{
    if (type == "table")
        return name == kTreeTable || name == kCommandTable;
    if (type != "index")
        return false;
    if (name.starts_with("sqlite_autoindex_"))
        return true;
    for (const auto &index : kTreeIndexes)
        if (index.created && index.name == name)
            return true;
    return false;
}

// The objects of the file that are not the store's, into the check.
void surveySchema(Connection &connection, LinkCheck &check)
{
    Statement stmt;
    if (!stmt.prepare(connection.handle(), sql::kSchemaObjects))
        return;
    Value type, name, table;
    while (stmt.step() == Statement::Step::Row) {
        stmt.columnInto(0, type);
        stmt.columnInto(1, name);
        stmt.columnInto(2, table);
        const std::string t = toText(type).value_or("");
        const std::string n = toText(name).value_or("");
        const std::string on = toText(table).value_or("");
        if (t == "trigger" || t == "view") {
            check.problems.push_back(t + " \"" + n + "\"" + (t == "trigger" ? " on " + on : std::string())
                                     + ": a store runs no code of its own; the program does not open a store "
                                       "whose tables have triggers");
        } else if (!isFormatObject(t, n)) {
            check.notes.push_back(t + " \"" + n + "\" is not part of a store (another program's?)");
        }
    }
}

} // namespace

std::optional<LinkCheck> checkLinks(const std::string &path)
{
    const auto connection = Connection::open(path, Connection::Access::Inspect);
    if (!connection)
        return std::nullopt;
    LinkCheck planted;
    surveySchema(*connection, planted);
    auto check = checkLinks(*connection);
    if (!check && planted.clean())
        return std::nullopt;
    if (!check) {
        // Items made unreadable by what was planted (a view in their place):
        // the check names what it found rather than failing.
        check = LinkCheck{};
        check->problems.push_back("the items cannot be read: " + lastError());
    }
    check->problems.insert(check->problems.begin(), planted.problems.begin(), planted.problems.end());
    check->notes = std::move(planted.notes);
    return check;
}

} // namespace store
