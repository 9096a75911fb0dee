#pragma once

#include "store/value.h"

#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace store {

// A prepared statement, prepared once and reset before every use. Values are
// always bound, never spliced into SQL text.
class Statement {
public:
    Statement() = default;
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;
    Statement(Statement &&other) noexcept;
    Statement &operator=(Statement &&other) noexcept;

    // Prepares sql on db; false (and error() set) when SQLite refuses it.
    bool prepare(sqlite3 *db, std::string_view sql);
    bool isPrepared() const { return m_stmt != nullptr; }

    // Ready to run again; bindings are kept (every use binds all of them).
    void reset();
    bool bind(int position, const Value &value); // 1-based, like SQLite

    enum class Step { Row, Done, Error };
    Step step();
    // Runs a statement that returns no rows; true when it finished.
    bool run();

    // Reads column i (0-based) of the current row into v, reusing the text
    // buffer v already holds.
    void columnInto(int i, Value &v) const;

    // The names of the columns the statement returns, in order.
    std::vector<std::string> columnNames() const;

    const std::string &error() const { return m_error; }

private:
    void noteError();

    sqlite3_stmt *m_stmt = nullptr;
    sqlite3 *m_db = nullptr;
    std::string m_error;
};

} // namespace store
