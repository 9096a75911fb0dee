#include "store/error.h"

namespace store {

namespace {
thread_local std::string t_lastError;
}

const std::string &lastError()
{
    return t_lastError;
}

bool failWith(std::string reason)
{
    t_lastError = std::move(reason);
    return false;
}

} // namespace store
