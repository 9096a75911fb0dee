#pragma once

// What tests/window_driver.cpp and the tests that drive it share: the digest
// of the item table, by which a test tells whether the file holds an action
// whole, not at all, or in part.

#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace window_driver {

// Every column of every row of TbTree, in key order, hashed (FNV-1a, 64 bits)
// with each value's type and length, so no two different tables are likely
// to give the same digest, and the same table always gives the same one.
// Reads in one statement on db and leaves no transaction open. nullopt, with
// the reason in *error, when the table cannot be read.
inline std::optional<std::string> tableDigest(sqlite3 *db, std::string *error)
{
    std::uint64_t hash = 14695981039346656037ull;
    auto mix = [&hash](const void *data, std::size_t size) {
        const auto *bytes = static_cast<const unsigned char *>(data);
        for (std::size_t i = 0; i < size; ++i) {
            hash ^= bytes[i];
            hash *= 1099511628211ull;
        }
    };
    auto mixNumber = [&mix](std::int64_t n) { mix(&n, sizeof n); };

    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT * FROM TbTree ORDER BY KeyInd", -1, &stmt, nullptr) != SQLITE_OK) {
        if (error)
            *error = sqlite3_errmsg(db);
        return std::nullopt;
    }
    const int columns = sqlite3_column_count(stmt);
    mixNumber(columns);
    std::int64_t rows = 0;
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        ++rows;
        for (int c = 0; c < columns; ++c) {
            const int type = sqlite3_column_type(stmt, c);
            mixNumber(type);
            switch (type) {
            case SQLITE_INTEGER:
                mixNumber(sqlite3_column_int64(stmt, c));
                break;
            case SQLITE_FLOAT: {
                const double d = sqlite3_column_double(stmt, c);
                mix(&d, sizeof d);
                break;
            }
            case SQLITE_TEXT:
            case SQLITE_BLOB: {
                const void *data = type == SQLITE_TEXT ? static_cast<const void *>(sqlite3_column_text(stmt, c))
                                                       : sqlite3_column_blob(stmt, c);
                const int size = sqlite3_column_bytes(stmt, c);
                mixNumber(size);
                mix(data, static_cast<std::size_t>(size));
                break;
            }
            default: // Null: the type says it all
                break;
            }
        }
    }
    if (rc != SQLITE_DONE && error)
        *error = sqlite3_errmsg(db);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE)
        return std::nullopt;
    mixNumber(rows);
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return std::string(text);
}

} // namespace window_driver
