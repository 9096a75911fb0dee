#include "toolkit/node_key.h"

namespace toolkit {

std::optional<NodeKey> NodeKey::parse(QStringView text)
{
    if (text.size() < 2)
        return std::nullopt;
    const QChar suffix = text.back();
    if (suffix.isDigit())
        return std::nullopt;
    bool ok = false;
    const qlonglong number = text.left(text.size() - 1).toLongLong(&ok);
    constexpr qlonglong kLimit = qlonglong{1} << 46;
    if (!ok || number <= -kLimit || number >= kLimit)
        return std::nullopt;
    return NodeKey{number, suffix.unicode()};
}

QString NodeKey::toString() const
{
    return QString::number(number) + QChar(suffix);
}

} // namespace toolkit
