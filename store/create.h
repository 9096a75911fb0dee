#pragma once

#include "store/sql.h" // kSchemaSql

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
// Refuses to touch an existing file. All or nothing: on failure no file is
// left behind.
bool createStore(const std::string &path, std::span<const CommandRowText> commands, std::string *error);

} // namespace store
