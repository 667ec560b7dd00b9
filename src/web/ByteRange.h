#pragma once
// The one byte range of an HTTP "Range" header (RFC 9110 14.2) of a file of `size` bytes:
// "bytes=a-b", "bytes=a-" or "bytes=-n". A player seeks with one; lists of ranges are not
// served.

#include <QByteArray>
#include <QtGlobal>

namespace web {

struct ByteRange {
    enum class Kind {
        Whole,          // no Range header: the whole file, 200
        Part,           // [first, last], 206
        Unsatisfiable,  // a range past the end, or a list of ranges: 416
        Malformed,      // not a byte range: 400
    };
    Kind kind = Kind::Whole;
    qint64 first = 0;
    qint64 last = -1;  // inclusive
    qint64 length() const { return last - first + 1; }
};

ByteRange parseByteRange(const QByteArray &header, qint64 size);

}  // namespace web
