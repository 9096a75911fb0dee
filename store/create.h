#pragma once

#include "store/error.h"
#include "store/sql.h" // kSchemaSql

#include <optional>
#include <span>
#include <string>
#include <utility>

namespace store {

struct CommandRowText {
    std::string picture; // CmdPict
    std::string about;   // CmdAbout
};

// Writes a new store at path: the tables and indexes, the record at key 0,
// the root (key 1) without children, and the given toolbar rows in order.
// The file is its owner's alone (0600) from its first byte, whatever the
// umask. Refuses what checkTargetPath refuses without replace. All or
// nothing: on failure no file is left behind.
bool createStore(const std::string &path, std::span<const CommandRowText> commands);

// Whether path may name a file a command is about to write: not empty, not a
// symbolic link that leads nowhere (opening it would make the link's target,
// a file the user never named), and nothing there at all unless replace, and
// then an ordinary file (no folder, device or pipe). False, with the reason
// in lastError(), as for every function here.
bool checkTargetPath(const std::string &path, bool replace);

// Makes the empty file path, readable and writable by its owner alone
// whatever the umask, so that nobody else can open it before data goes in.
// Refuses anything already at path, a symbolic link included.
bool createPrivateFile(const std::string &path);

// Whether the file at path (a symbolic link followed) begins with the header
// of an SQLite database, of any program; nullopt when it cannot be read.
std::optional<bool> isSqliteFile(const std::string &path);

} // namespace store
