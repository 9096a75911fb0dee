#pragma once

#include "store/format.h"
#include "store/value.h"

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace store {

class Connection;

// The cursor on tbCmd: the toolbar's rows, read once when it opens, in rowid
// order (the order of the buttons). The program never writes this table.
class CommandCursor {
public:
    using Field = CommandField;

    bool open(const std::shared_ptr<Connection> &connection);
    void close();
    bool isOpen() const { return m_open; }

    bool moveFirst();
    bool moveNext();
    bool atEnd() const { return m_row >= m_rows.size(); }
    // Number of rows; nullopt when the cursor is not open.
    std::optional<int> recordCount() const;
    // A field of the current row; nullopt past the end.
    std::optional<Value> field(Field f) const;

    const std::string &lastError() const { return m_error; }

private:
    using Row = std::array<Value, kCommandFieldCount>;
    std::vector<Row> m_rows;
    std::size_t m_row = 0;
    bool m_open = false;
    std::string m_error;
};

} // namespace store
