#include "store/mod_base.h"

#include "store/connection.h"
#include "store/format.h"

#include <filesystem>
#include <system_error>

namespace modBase {

store::TreeCursor rsTree;
store::CommandCursor rsCmd;

std::string OpenReport::message() const
{
    std::string line = "cannot open the store \"" + path + "\": ";
    for (std::size_t i = 0; i < problems.size(); ++i) {
        if (i)
            line += "; ";
        line += problems[i];
    }
    return line;
}

OpenReport OpenBase(const std::string &directory)
{
    rsTree.close();
    rsCmd.close();

    OpenReport report;
    report.path = (std::filesystem::path(directory) / store::kStoreFileName).string();

    std::error_code ec;
    if (!std::filesystem::exists(report.path, ec)) {
        report.problems.push_back("no such file");
        return report;
    }
    const auto cnBase = store::Connection::open(report.path);
    if (!cnBase) {
        report.problems.push_back(store::lastError());
        return report;
    }
    const bool treeOpen = rsTree.open(cnBase);
    if (!treeOpen)
        report.problems.push_back("table TbTree: " + rsTree.lastError());
    if (!rsCmd.open(cnBase)) {
        // A file that is no database fails both the same way; say it once.
        if (treeOpen || rsCmd.lastError() != rsTree.lastError())
            report.problems.push_back("table tbCmd: " + rsCmd.lastError());
    }
    if (treeOpen)
        cnBase->setDurable();
    return report;
}

bool ReopenForWriting()
{
    const store::Connection *current = rsTree.connection();
    if (!current || !current->isReadOnly())
        return false;
    const auto fresh = store::Connection::open(current->path());
    if (!fresh || fresh->isReadOnly())
        return false;
    store::TreeCursor tree;
    store::CommandCursor commands;
    if (!tree.open(fresh) || !commands.open(fresh))
        return false;
    fresh->setDurable();
    rsTree.open(fresh);
    rsCmd.open(fresh);
    return true;
}

} // namespace modBase
