#include "web/ByteRange.h"

namespace web {

namespace {

// A run of digits as a number; -1 when it is empty, not all digits or too long to hold.
qint64 digits(const QByteArray &text)
{
    if (text.isEmpty() || text.size() > 18)
        return -1;
    qint64 n = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

}  // namespace

ByteRange parseByteRange(const QByteArray &header, qint64 size)
{
    using Kind = ByteRange::Kind;
    if (header.isNull())
        return {Kind::Whole, 0, size - 1};
    const QByteArray value = header.trimmed();
    if (!value.startsWith("bytes="))
        return {Kind::Malformed};
    const QByteArray range = value.mid(6).trimmed();
    if (range.contains(','))
        return {Kind::Unsatisfiable};
    const int dash = range.indexOf('-');
    if (dash < 0)
        return {Kind::Malformed};
    const QByteArray from = range.left(dash).trimmed();
    const QByteArray to = range.mid(dash + 1).trimmed();
    if (from.isEmpty()) {  // the last n bytes
        const qint64 n = digits(to);
        if (n < 0)
            return {Kind::Malformed};
        if (n == 0 || size == 0)
            return {Kind::Unsatisfiable};
        return {Kind::Part, qMax<qint64>(0, size - n), size - 1};
    }
    const qint64 first = digits(from);
    const qint64 last = to.isEmpty() ? size - 1 : digits(to);
    if (first < 0 || last < 0 || (!to.isEmpty() && last < first))
        return {Kind::Malformed};
    if (first >= size)
        return {Kind::Unsatisfiable};
    return {Kind::Part, first, qMin(last, size - 1)};
}

}  // namespace web
