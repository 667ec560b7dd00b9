#pragma once
#include <QByteArray>
#include <QString>

namespace core {

// Cuts text so that its UTF-8 form holds at most maxBytes bytes, never splitting a
// character (code point). Field limits of stored records (100, 255, 8, 262) count bytes.
// maxBytes <= 0 gives an empty text.
QString cutToBytes(const QString &text, int maxBytes);
QByteArray cutUtf8(const QByteArray &utf8, int maxBytes);

// "%d:%.2d:%.2d" of a length in whole seconds (hours unlimited, no days). A negative
// length is shown by its magnitude.
QString formatHms(qint64 seconds);

}  // namespace core
