#pragma once

#include <string>

namespace store {

// Why the store call made last on this thread failed. No store function
// throws: each says by what it returns (false, nullopt, no connection, a
// result other than success) that it failed, and the reason is here for a
// free function, and in the object's own lastError() for a member of a
// connection or a cursor.
const std::string &lastError();

// Keeps reason as lastError(); false, so a failing step reads
// `return failWith(...)`.
bool failWith(std::string reason);

} // namespace store
