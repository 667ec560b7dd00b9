#include "core/TextLimits.h"

namespace core {

QByteArray cutUtf8(const QByteArray &utf8, int maxBytes)
{
    if (maxBytes <= 0) return {};
    if (utf8.size() <= maxBytes) return utf8;
    // Back off over continuation bytes (10xxxxxx) to the start of the character that
    // would be cut, and cut before it.
    qsizetype end = maxBytes;
    while (end > 0 && (uchar(utf8[end]) & 0xC0) == 0x80) --end;
    return utf8.left(end);
}

QString cutToBytes(const QString &text, int maxBytes)
{
    const QByteArray utf8 = text.toUtf8();
    if (utf8.size() <= maxBytes) return text;
    return QString::fromUtf8(cutUtf8(utf8, maxBytes));
}

QString formatHms(qint64 seconds)
{
    // Lengths are shown by their magnitude; the unsigned negation also covers the minimum.
    const quint64 s = seconds < 0 ? 0 - quint64(seconds) : quint64(seconds);
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace core
