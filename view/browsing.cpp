#include "view/browsing.h"

#include "store/connection.h"
#include "store/mod_base.h"

#include <cstdio>
#include <string>
#include <unordered_map>
#include <utility>

namespace modTree {

using modBase::rsTree;

namespace {

bool g_browsing = false;
std::unordered_map<std::int32_t, bool> g_open;
std::optional<std::int32_t> g_mark;
std::function<void()> g_observer;

void setBrowsing(bool browsing)
{
    g_browsing = browsing;
    g_open.clear();
    g_mark.reset();
    if (g_observer)
        g_observer();
}

} // namespace

bool Browsing()
{
    return g_browsing;
}

bool CheckWritable(const char *lostAction)
{
    if (!rsTree.connection())
        return false;
    if (g_browsing)
        modBase::ReopenForWriting(); // the file may have been made writable since
    store::Connection *connection = rsTree.connection();
    const auto writability = connection->probeWrite();
    using W = store::Connection::Writability;
    if (writability == W::Unknown || (writability == W::ReadOnly) == g_browsing)
        return false;
    const std::string path = connection->path();
    if (writability == W::ReadOnly) {
        const std::string lost = lostAction ? std::string("the ") + lostAction + " was not stored: " : "";
        std::fprintf(stderr,
                     "branchkeeper: %sthe store \"%s\" cannot be written (%s); browsing it without changes, F5 "
                     "checks again\n",
                     lost.c_str(), path.c_str(), connection->lastError().c_str());
    } else {
        std::fprintf(stderr, "branchkeeper: the store \"%s\" can be written again\n", path.c_str());
    }
    setBrowsing(writability == W::ReadOnly);
    return true;
}

void OnBrowsingChanged(std::function<void()> observer)
{
    g_observer = std::move(observer);
}

std::optional<bool> BrowsedOpen(std::int32_t item)
{
    const auto it = g_open.find(item);
    return it == g_open.end() ? std::nullopt : std::optional(it->second);
}

void BrowseOpen(std::int32_t item, bool open)
{
    g_open[item] = open;
}

std::optional<std::int32_t> BrowsedMark()
{
    return g_mark;
}

void BrowseMark(std::int32_t item)
{
    g_mark = item;
}

void ResetBrowsing()
{
    g_browsing = false;
    g_open.clear();
    g_mark.reset();
}

} // namespace modTree
