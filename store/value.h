#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace store {

// One field value as the file holds it. The file may have been written by any
// SQLite tool, so every storage class can turn up in any column.
struct Null {
    friend bool operator==(Null, Null) { return true; }
};
using Value = std::variant<Null, std::int64_t, double, std::string, bool>;

inline bool isNull(const Value &v) { return std::holds_alternative<Null>(v); }

// A key field as a 32-bit item key. Fails for Null, for values outside 32 bits
// and for anything that is not a whole number.
std::optional<std::int32_t> toKey(const Value &v);

// A yes/no field: True when the value is present and not numerically zero, so
// a stored 1, -1 or 2 all read as True. Fails for Null.
std::optional<bool> toFlag(const Value &v);

// A value as text (whole numbers in plain decimal, reals in their shortest
// exact form). Fails for Null.
std::optional<std::string> toText(const Value &v);

} // namespace store
