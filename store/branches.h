#pragma once

#include "store/error.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The tree as a whole, for the companion tool: the items the window can reach
// in the order it shows them, the branches a delete left behind, bringing one
// of those back, and a copy of the file taken while the program runs.
namespace store {

struct TreeItem {
    std::int32_t key = 0;
    std::optional<std::string> text; // nullopt: Null
    int depth = 0;                   // the root 0, top-level items 1
    bool expanded = false;
    bool selected = false;
};

struct TreeRead {
    std::vector<TreeItem> items;      // the root first, then depth first, children in chain order
    std::vector<std::string> skipped; // one line per link the walk could not follow
};

// Reads the store at path (read-only, never created) and walks it from the
// root without recursion, each item once, following only links that name a
// record not yet reached: a broken file gives what can be reached, and says
// what was not. nullopt (with the reason) when the file cannot be read.
std::optional<TreeRead> readTree(const std::string &path);

// The items readTree gives, in the same order (the root first), with only
// their keys, depths and texts, and every text in one buffer, in the table's
// order: a million items in a few arrays. Reads each record once, and no field
// it does not need. append, when given, keeps each record's text as its reader
// wants it (appended to out); else it is kept as stored (Null as empty).
using TextAppender = std::function<void(std::int32_t key, std::string_view text, std::string &out)>;
struct TreeTexts {
    std::vector<std::int32_t> keys;   // by item, in the tree's order
    std::vector<std::int32_t> depths;
    std::vector<std::size_t> records; // item i is record records[i]
    std::string texts;                // by record, in the table's order
    std::vector<std::size_t> textAt;  // record r's text is texts[textAt[r], textAt[r + 1])
    std::string_view recordText(std::size_t r) const
    {
        return std::string_view(texts).substr(textAt[r], textAt[r + 1] - textAt[r]);
    }
    std::string_view text(std::size_t i) const { return recordText(records[i]); }
};
std::optional<TreeTexts> readTreeTexts(const std::string &path, const TextAppender &append = {});

// What any change to the store at path changes, by any connection of any
// program, and another file put in its place: the file's identity and the
// change counter SQLite keeps in its header (a store is always in rollback
// journal mode, where every commit counts it up). Read from the file itself,
// without opening it as a database. nullopt when it cannot be read.
struct FileVersion {
    std::uint64_t device = 0, inode = 0;
    std::uint32_t changes = 0;
    friend bool operator==(const FileVersion &, const FileVersion &) = default;
};
std::optional<FileVersion> fileVersion(const std::string &path);

// A deleted branch: a record other than 0 and the root with KeyPar, KeyPrw
// and KeyNxt all 0, as the delete command leaves the item it takes out, and
// that the tree does not reach. Its records are all still there.
struct DeletedBranch {
    std::int32_t key = 0;
    std::optional<std::string> text;
    std::int64_t items = 0; // the top and everything below it
};

// Every deleted branch of the store at path, by key.
std::optional<std::vector<DeletedBranch>> deletedBranches(const std::string &path);

enum class RestoreResult { Restored, Refused, Busy, Failed };

// Links deleted branch key back as the last child of the root, with its whole
// subtree, through the program's own link operations, in one transaction:
// the file holds all of it or none. Refused (and nothing written) for a key
// that is in the tree, the root, record 0, or not the top of a deleted branch.
// Busy when another program held the file for writing longer than the wait.
// lastError() says why whenever the result is not Restored.
RestoreResult restoreBranch(const std::string &path, std::int32_t key);

// Copies the store at from into a new file to, page by page through SQLite's
// online backup: a consistent copy even while another program writes the
// store (it waits for that program's transaction to end). The copy is its
// owner's alone (0600), whatever the umask and the store's own mode. Refuses
// an existing to, an empty path and a link to nothing; on failure leaves no
// file there.
bool backupStore(const std::string &from, const std::string &to);

// Writes the store at from over the existing store at into, through the same
// online backup, in one transaction of into: a program that has into open
// sees the change as any other writer's, and its next action lands in the
// new tree (a file renamed over its own would leave it writing to a file
// nobody reads). Refuses, and leaves as it was, an into that is no SQLite
// database or holds no store. Waits some seconds for another program's
// transaction, then gives up with the file unchanged. into keeps its owner
// and mode. False, with the reason.
bool replaceStore(const std::string &from, const std::string &into);

} // namespace store
