// The fuzz build uses libc++ (clang with Debian's libstdc++ cannot evaluate
// the store's compile-time std::string texts), while the system's Qt was
// built with libstdc++. The one Qt function the project reaches that hands
// back a standard type is made here again, for libc++'s std::string; the
// linker names any other such function, as it did this one.

#include <QByteArray>

#include <string>

std::string QByteArray::toStdString() const
{
    return std::string(constData(), static_cast<std::size_t>(size()));
}
