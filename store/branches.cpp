#include "store/branches.h"

#include "store/child_chain.h"
#include "store/connection.h"
#include "store/create.h"
#include "store/format.h"
#include "store/links.h"
#include "store/sql.h"
#include "store/statement.h"
#include "store/value.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <new>
#include <system_error>
#include <thread>
#include <unordered_map>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace store {

namespace {

// One record as read. A link that is Null or no key is nullopt: it cannot be
// followed.
struct Row {
    std::int32_t key = 0;
    std::optional<std::int32_t> par, chi, prw, nxt;
    bool parNull = false, chiNull = false, nxtNull = false;
    std::optional<std::string> text;
    bool expanded = false;
    bool selected = false;
};

constexpr std::size_t kNoRow = static_cast<std::size_t>(-1);

class Table {
public:
    bool read(Connection &connection)
    {
        Statement stmt;
        if (!stmt.prepare(connection.handle(), sql::kReadAll))
            return failWith(stmt.error());
        std::array<Value, kFieldCount> v;
        for (;;) {
            const auto step = stmt.step();
            if (step == Statement::Step::Done)
                return true;
            if (step == Statement::Step::Error)
                return failWith(stmt.error());
            for (std::size_t i = 0; i < kFieldCount; ++i)
                stmt.columnInto(static_cast<int>(i), v[i]);
            const auto key = toKey(v[fieldIndex(Field::KeyInd)]);
            if (!key)
                continue; // a key no item can have: nothing links to it
            Row row;
            row.key = *key;
            row.par = toKey(v[fieldIndex(Field::KeyPar)]);
            row.chi = toKey(v[fieldIndex(Field::KeyChi)]);
            row.prw = toKey(v[fieldIndex(Field::KeyPrw)]);
            row.nxt = toKey(v[fieldIndex(Field::KeyNxt)]);
            row.parNull = isNull(v[fieldIndex(Field::KeyPar)]);
            row.chiNull = isNull(v[fieldIndex(Field::KeyChi)]);
            row.nxtNull = isNull(v[fieldIndex(Field::KeyNxt)]);
            row.text = toText(v[fieldIndex(Field::KeyTxt)]);
            row.expanded = toFlag(v[fieldIndex(Field::Expand)]).value_or(false);
            row.selected = toFlag(v[fieldIndex(Field::KeySel)]).value_or(false);
            m_index.emplace(row.key, m_rows.size());
            m_rows.push_back(std::move(row));
        }
    }

    std::size_t find(std::int32_t key) const
    {
        const auto it = m_index.find(key);
        return it == m_index.end() ? kNoRow : it->second;
    }
    const Row &at(std::size_t position) const { return m_rows[position]; }
    std::size_t size() const { return m_rows.size(); }

private:
    std::vector<Row> m_rows;
    std::unordered_map<std::int32_t, std::size_t> m_index;
};

std::string linkName(Field f)
{
    return std::string(fieldName(f));
}

// Depth first from start, children in chain order, without recursion; each
// record once (reached marks them, across calls). Calls visit(row, depth)
// for start and everything below it; says in *skipped what it cannot follow.
template <typename Visit>
void walk(const Table &table, std::size_t start, std::vector<bool> &reached, std::vector<std::string> *skipped,
          Visit visit)
{
    struct Next {
        std::int32_t key;
        int depth;
        std::int32_t from;
        Field link;
    };
    auto say = [&](std::int32_t key, const std::string &what) {
        if (skipped)
            skipped->push_back("item " + std::to_string(key) + ": " + what);
    };
    // The link of `row` that leads on, if it can be followed.
    std::vector<Next> pending;
    auto follow = [&](const Row &row, Field link, int depth) {
        const auto &value = link == Field::KeyChi ? row.chi : row.nxt;
        const bool null = link == Field::KeyChi ? row.chiNull : row.nxtNull;
        if (!value) {
            say(row.key, linkName(link) + (null ? " is Null" : " is no item key") + ", not followed");
            return;
        }
        if (*value != 0)
            pending.push_back({*value, depth, row.key, link});
    };

    reached[start] = true;
    visit(table.at(start), 0);
    follow(table.at(start), Field::KeyChi, 1);
    while (!pending.empty()) {
        const Next next = pending.back();
        pending.pop_back();
        const std::size_t position = table.find(next.key);
        if (position == kNoRow) {
            say(next.from, linkName(next.link) + " " + std::to_string(next.key) + " names no record, not followed");
            continue;
        }
        if (reached[position]) {
            say(next.from, linkName(next.link) + " " + std::to_string(next.key) + " leads to an item already reached, not followed");
            continue;
        }
        reached[position] = true;
        const Row &row = table.at(position);
        visit(row, next.depth);
        follow(row, Field::KeyNxt, next.depth); // taken after the children
        follow(row, Field::KeyChi, next.depth + 1);
    }
}

std::shared_ptr<Connection> openReadOnly(const std::string &path)
{
    return Connection::open(path, Connection::Access::ReadOnly);
}

} // namespace

std::optional<TreeRead> readTree(const std::string &path)
{
    const auto connection = openReadOnly(path);
    Table table;
    if (!connection || !table.read(*connection))
        return std::nullopt;
    TreeRead result;
    const std::size_t root = table.find(kRootKey);
    if (root == kNoRow) {
        result.skipped.push_back("item 1: no record; the tree has no root");
        return result;
    }
    std::vector<bool> reached(table.size(), false);
    walk(table, root, reached, &result.skipped, [&](const Row &row, int depth) {
        result.items.push_back({row.key, row.text, depth, row.expanded, row.selected});
    });
    return result;
}

namespace {

// Big buffers filled once: huge pages spare the page faults of filling them
// 4 KiB at a time (tens of thousands for a million items, each dear in a
// virtual machine). Only advice: the kernel may ignore it.
void adviseHugePages(const void *data, std::size_t bytes)
{
    constexpr std::uintptr_t kHuge = std::uintptr_t{1} << 21;
    const auto at = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t begin = (at + kHuge - 1) & ~(kHuge - 1), end = (at + bytes) & ~(kHuge - 1);
    if (end > begin)
        ::madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
}

template <class Buffer>
void reserveHuge(Buffer &buffer, std::size_t count)
{
    buffer.reserve(count);
    adviseHugePages(buffer.data(), buffer.capacity() * sizeof(*buffer.data()));
}

// Records of TbTree, in the table's order: links that cannot be followed
// read 0, texts as append keeps them.
struct Records {
    std::vector<std::int32_t> keys, children, nexts;
    std::string texts;
    std::vector<std::size_t> textAt{0}; // record r's text is texts[textAt[r], textAt[r + 1])
    std::string error;

    void reserve(std::size_t records, std::size_t textBytes)
    {
        reserveHuge(keys, records);
        reserveHuge(children, records);
        reserveHuge(nexts, records);
        reserveHuge(textAt, records + 1);
        reserveHuge(texts, textBytes);
    }
    // Reads the records with row ids first to last, a chunk at a time, each
    // chunk a read of its own: a writer waits for one chunk at most, not for
    // the whole table. Without row ids (nullopt), the whole table in one read.
    bool read(Connection &connection, std::optional<std::pair<std::int64_t, std::int64_t>> rowids,
              const TextAppender &append)
    {
        constexpr std::int64_t kChunk = 10'000;
        Statement stmt;
        if (!stmt.prepare(connection.handle(), rowids ? sql::kReadOrderAndTextsChunk : sql::kReadOrderAndTexts)) {
            error = stmt.error();
            return false;
        }
        const int at = rowids ? 1 : 0; // the columns after the row id
        std::array<Value, 5> v;
        std::string number; // a text stored as a number, as text
        std::int64_t from = rowids ? rowids->first : 0;
        for (;;) {
            stmt.reset();
            if (rowids && (!stmt.bind(1, Value{from}) || !stmt.bind(2, Value{rowids->second})
                           || !stmt.bind(3, Value{kChunk}))) {
                error = stmt.error();
                return false;
            }
            std::int64_t rows = 0, last = 0;
            for (;;) {
                const auto step = stmt.step();
                if (step == Statement::Step::Error) {
                    error = stmt.error();
                    return false;
                }
                if (step == Statement::Step::Done)
                    break;
                for (int i = 0; i < at + 4; ++i)
                    stmt.columnInto(i, v[static_cast<std::size_t>(i)]);
                ++rows;
                if (const auto *rowid = std::get_if<std::int64_t>(&v[0]); rowids && rowid)
                    last = *rowid;
                const auto key = toKey(v[static_cast<std::size_t>(at)]);
                if (!key)
                    continue;
                keys.push_back(*key);
                children.push_back(toKey(v[static_cast<std::size_t>(at + 1)]).value_or(0));
                nexts.push_back(toKey(v[static_cast<std::size_t>(at + 2)]).value_or(0));
                std::string_view text;
                const Value &stored = v[static_cast<std::size_t>(at + 3)];
                if (const auto *string = std::get_if<std::string>(&stored))
                    text = *string;
                else if (auto other = toText(stored))
                    text = number = std::move(*other);
                if (append)
                    append(*key, text, texts);
                else
                    texts += text;
                textAt.push_back(texts.size());
            }
            if (!rowids || rows < kChunk || last >= rowids->second)
                break;
            from = last + 1;
        }
        stmt.reset(); // lets go of the file
        return true;
    }
    void append(const Records &later)
    {
        const std::size_t shift = texts.size();
        keys.insert(keys.end(), later.keys.begin(), later.keys.end());
        children.insert(children.end(), later.children.begin(), later.children.end());
        nexts.insert(nexts.end(), later.nexts.begin(), later.nexts.end());
        texts += later.texts;
        for (std::size_t r = 1; r < later.textAt.size(); ++r)
            textAt.push_back(later.textAt[r] + shift);
    }
};

// Every record of TbTree, on connection: a large table in two halves by row
// id, the later one on a second connection and thread. Reads in chunks, so
// the halves may see different states of a file being written: the caller
// compares the file's version before and after.
std::optional<Records> readRecords(const std::string &path, Connection &connection, const TextAppender &append)
{
    Records records;
    std::optional<std::pair<std::int64_t, std::int64_t>> rowids;
    {
        Statement range; // a table without row ids has none: read whole
        if (range.prepare(connection.handle(), sql::kTreeRowidRange) && range.step() == Statement::Step::Row) {
            Value low, high;
            range.columnInto(0, low);
            range.columnInto(1, high);
            const auto *first = std::get_if<std::int64_t>(&low);
            const auto *last = std::get_if<std::int64_t>(&high);
            if (!first || !last)
                return records; // no records
            rowids = std::pair{*first, *last};
        }
    }
    const std::uint64_t span
        = rowids ? static_cast<std::uint64_t>(rowids->second) - static_cast<std::uint64_t>(rowids->first) + 1 : 0;
    // Room for every record at once: a store's keys are dense, and the texts
    // are no bigger than the file.
    struct stat st {};
    const std::size_t fileBytes = ::stat(path.c_str(), &st) == 0 && st.st_size > 0 ? static_cast<std::size_t>(st.st_size) : 0;
    records.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(span, fileBytes / 16 + 1)), fileBytes);

    constexpr std::uint64_t kSplitFrom = 100'000;
    const auto second = span >= kSplitFrom && std::thread::hardware_concurrency() > 1 ? openReadOnly(path) : nullptr;
    if (!second) {
        if (!records.read(connection, rowids, append)) {
            failWith(records.error);
            return std::nullopt;
        }
        return records;
    }
    const auto middle = static_cast<std::int64_t>(static_cast<std::uint64_t>(rowids->first) + span / 2);
    Records later;
    later.reserve(static_cast<std::size_t>(span / 2 + 1), fileBytes / 2);
    bool laterRead = false;
    auto readLater = [&] {
        try {
            laterRead = later.read(*second, std::pair{middle, rowids->second}, append);
        } catch (const std::bad_alloc &) {
            later.error = "out of memory";
        }
    };
    std::thread reader;
    try {
        reader = std::thread(readLater);
    } catch (const std::system_error &) {
        // No thread to be had: this one reads both halves, in turn.
    }
    const bool earlierRead = records.read(connection, std::pair{rowids->first, middle - 1}, append);
    if (reader.joinable())
        reader.join();
    else
        readLater();
    if (!earlierRead || !laterRead) {
        failWith(!earlierRead ? records.error : later.error);
        return std::nullopt;
    }
    records.append(later);
    return records;
}

} // namespace

std::optional<TreeTexts> readTreeTexts(const std::string &path, const TextAppender &append)
try {
    const auto connection = openReadOnly(path);
    if (!connection)
        return std::nullopt;
    // Read in chunks, without holding the file: read again when another
    // connection committed meanwhile, so the tree is one state of the file
    // (the last attempt is taken as it is; the caller's version check then
    // has it read again next time).
    std::optional<Records> records;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const auto before = fileVersion(path);
        records = readRecords(path, *connection, append);
        if (!records)
            return std::nullopt;
        if (before && fileVersion(path) == before)
            break;
    }
    const std::vector<std::int32_t> &keys = records->keys;
    const std::vector<std::int32_t> &children = records->children, &nexts = records->nexts;
    TreeTexts tree;
    tree.texts = std::move(records->texts);
    tree.textAt = std::move(records->textAt);
    // Records by key: an array where the keys are dense enough (a store's are),
    // else a hash map. A key twice: the first record has it, as readTree reads it.
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    const auto [low, high] = std::minmax_element(keys.begin(), keys.end());
    const bool dense = !keys.empty() && *low >= 0 && static_cast<std::size_t>(*high) <= 4 * keys.size() + 1024;
    std::vector<std::size_t> rowArray(dense ? static_cast<std::size_t>(*high) + 1 : 0, kNone);
    std::unordered_map<std::int32_t, std::size_t> rowMap;
    for (std::size_t row = keys.size(); row-- > 0;) {
        if (dense)
            rowArray[static_cast<std::size_t>(keys[row])] = row;
        else
            rowMap[keys[row]] = row;
    }
    auto rowOf = [&](std::int32_t key) {
        if (dense)
            return key >= 0 && static_cast<std::size_t>(key) < rowArray.size() ? rowArray[static_cast<std::size_t>(key)]
                                                                                 : kNone;
        const auto it = rowMap.find(key);
        return it == rowMap.end() ? kNone : it->second;
    };

    if (rowOf(kRootKey) == kNone)
        return tree;
    // Depth first as readTree walks: each record once, next siblings after the children.
    std::vector<bool> reached(keys.size(), false);
    std::vector<std::pair<std::int32_t, std::int32_t>> pending{{kRootKey, 0}}; // key, depth
    while (!pending.empty()) {
        const auto [key, depth] = pending.back();
        pending.pop_back();
        const std::size_t row = key == 0 ? kNone : rowOf(key);
        if (row == kNone || reached[row])
            continue;
        reached[row] = true;
        tree.keys.push_back(key);
        tree.depths.push_back(depth);
        tree.records.push_back(row);
        if (depth > 0)
            pending.emplace_back(nexts[row], depth);
        pending.emplace_back(children[row], depth + 1);
    }
    return tree;
} catch (const std::bad_alloc &) { // a planted file's texts may not fit
    failWith("out of memory reading the tree's texts");
    return std::nullopt;
}

std::optional<FileVersion> fileVersion(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    unsigned char counter[4] = {};
    constexpr off_t kChangeCounterAt = 24; // big-endian, in the database header
    const bool read = ::fstat(fd, &st) == 0 && ::pread(fd, counter, sizeof counter, kChangeCounterAt) == 4;
    ::close(fd);
    if (!read)
        return std::nullopt;
    return FileVersion{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                       std::uint32_t{counter[0]} << 24 | std::uint32_t{counter[1]} << 16
                           | std::uint32_t{counter[2]} << 8 | counter[3]};
}

namespace {

bool isDeletedTop(const Row &row)
{
    return row.key != 0 && row.key != kRootKey && row.par == 0 && row.prw == 0 && row.nxt == 0;
}

// Marks what the tree reaches.
std::vector<bool> reachedFromRoot(const Table &table)
{
    std::vector<bool> reached(table.size(), false);
    if (const std::size_t root = table.find(kRootKey); root != kNoRow)
        walk(table, root, reached, nullptr, [](const Row &, int) {});
    return reached;
}

} // namespace

std::optional<std::vector<DeletedBranch>> deletedBranches(const std::string &path)
{
    const auto connection = openReadOnly(path);
    Table table;
    if (!connection || !table.read(*connection))
        return std::nullopt;
    std::vector<bool> reached = reachedFromRoot(table);
    std::vector<DeletedBranch> branches;
    for (std::size_t i = 0; i < table.size(); ++i) {
        const Row &row = table.at(i);
        if (reached[i] || !isDeletedTop(row))
            continue;
        DeletedBranch branch{row.key, row.text, 0};
        walk(table, i, reached, nullptr, [&](const Row &, int) { ++branch.items; });
        branches.push_back(std::move(branch));
    }
    std::sort(branches.begin(), branches.end(), [](const auto &a, const auto &b) { return a.key < b.key; });
    return branches;
}

RestoreResult restoreBranch(const std::string &path, std::int32_t key)
{
    auto say = [](RestoreResult result, std::string why) {
        failWith(std::move(why));
        return result;
    };
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        return say(RestoreResult::Failed, "no such file");
    const auto connection = Connection::open(path);
    if (!connection)
        return RestoreResult::Failed;

    // Read, check and link in one write transaction: nothing can change in
    // between, and a failure leaves the file as it was.
    TransactionScope transaction(connection.get(), TransactionScope::Kind::Write);
    if (!transaction.active())
        return say(RestoreResult::Busy, "the store is busy: another program is writing it (" + connection->lastError()
                                            + "); try again");
    Table table;
    if (!table.read(*connection))
        return RestoreResult::Failed;
    if (key == 0 || key == kRootKey)
        return say(RestoreResult::Refused, key == 0 ? "record 0 is not part of the tree" : "item 1 is the root");
    const std::size_t position = table.find(key);
    if (position == kNoRow)
        return say(RestoreResult::Refused, "no item " + std::to_string(key));
    const std::vector<bool> reached = reachedFromRoot(table);
    if (reached[position])
        return say(RestoreResult::Refused, "item " + std::to_string(key) + " is in the tree");
    if (!isDeletedTop(table.at(position)))
        return say(RestoreResult::Refused, "item " + std::to_string(key)
                                               + " is not the top of a deleted branch (see the deleted command)");

    // The root's last child, along its chain as the window shows it.
    TreeCursor tree;
    if (!tree.open(connection))
        return say(RestoreResult::Failed, tree.lastError());
    if (!tree.positionOn(kRootKey))
        return say(RestoreResult::Failed, "the store has no root (item 1)");
    ChildChain topLevel(tree, kRootKey, tree.key(Field::KeyChi).value_or(0), ChildChain::Read::Links);
    std::int32_t last = 0;
    while (const auto item = topLevel.next())
        last = *item;
    if (last == 0)
        modTree::LinkFirstChild(tree, key, kRootKey);
    else
        modTree::LinkAfter(tree, key, last);
    // The link operations skip a step that fails; here a skipped step would
    // leave the branch half linked, so any failure undoes all of it.
    if (!tree.lastError().empty()) {
        transaction.rollback();
        return say(RestoreResult::Failed, "the branch could not be linked: " + tree.lastError());
    }
    if (!transaction.commit())
        return say(RestoreResult::Busy, "the change could not be written: " + connection->lastError());
    return RestoreResult::Restored;
}

namespace {

// Copies every page of source's store into dest's, in one transaction of
// dest. A writer holding either file makes a step busy: wait for it, a little
// at a time, for some seconds at most. False, with the reason.
bool copyPages(sqlite3 *source, sqlite3 *dest)
{
    sqlite3_backup *backup = sqlite3_backup_init(dest, "main", source, "main");
    if (!backup)
        return failWith(sqlite3_errmsg(dest));
    int rc = SQLITE_OK;
    for (int tries = 0; tries < 200; ++tries) {
        rc = sqlite3_backup_step(backup, -1);
        if (rc != SQLITE_BUSY && rc != SQLITE_LOCKED)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    sqlite3_backup_finish(backup);
    return rc == SQLITE_DONE
        || failWith(rc == SQLITE_BUSY || rc == SQLITE_LOCKED ? "the store stayed busy" : sqlite3_errstr(rc));
}

bool openFile(const std::string &path, int flags, sqlite3 **db)
{
    const int rc = sqlite3_open_v2(path.c_str(), db, flags, nullptr);
    return rc == SQLITE_OK || failWith(*db ? sqlite3_errmsg(*db) : sqlite3_errstr(rc));
}

// Whether the file at path has the tables of a store, with every field the
// program reads. False, with what is missing.
bool holdsStore(const std::string &path)
{
    const auto connection = openReadOnly(path);
    Statement items, commands;
    if (!connection)
        return false;
    return (items.prepare(connection->handle(), sql::kReadAll)
            && commands.prepare(connection->handle(), sql::kSelectCommands))
        || failWith(!items.error().empty() ? items.error() : commands.error());
}

} // namespace

bool backupStore(const std::string &from, const std::string &to)
{
    if (!checkTargetPath(to, false))
        return false;
    std::error_code ec;
    if (!std::filesystem::exists(from, ec))
        return failWith("no such file: " + from);
    // The source as any reader opens it: a journal a crash left is rolled
    // back first, and a store with planted triggers is not copied.
    const auto source = Connection::open(from, Connection::Access::ReadOnly);
    sqlite3 *copy = nullptr;
    const bool made = source && createPrivateFile(to);
    // The file just made and no other: a link put in its place is refused.
    const bool ok = made && openFile(to, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, &copy)
        && copyPages(source->handle(), copy);
    sqlite3_close_v2(copy);
    if (!ok && made)
        std::filesystem::remove(to, ec);
    return ok;
}

bool replaceStore(const std::string &from, const std::string &into)
{
    const auto sqlite = isSqliteFile(into);
    if (!sqlite)
        return failWith(into + " cannot be read");
    if (!*sqlite)
        return failWith(into + " is not a store (not an SQLite database); it is left as it is");
    if (!holdsStore(into))
        return failWith(into + " is no store (" + lastError() + "); it is left as it is");
    sqlite3 *source = nullptr;
    sqlite3 *dest = nullptr;
    const bool ok = openFile(from, SQLITE_OPEN_READONLY, &source) && openFile(into, SQLITE_OPEN_READWRITE, &dest)
        && copyPages(source, dest);
    sqlite3_close_v2(source);
    sqlite3_close_v2(dest);
    return ok;
}

} // namespace store
