#pragma once
// The byte-level rules of INI text, shared by the INI document (core/Ini.h) and the readers
// that must keep a file's bytes (the archive index): what is blank, what a header and a
// key line are, and how a value is kept on one line.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace core::initext {

inline const QByteArray kBom("\xEF\xBB\xBF");

inline bool isBlankByte(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

inline QByteArrayView trimmed(QByteArrayView v)
{
    qsizetype b = 0, e = v.size();
    while (b < e && isBlankByte(v[b])) ++b;
    while (e > b && isBlankByte(v[e - 1])) --e;
    return v.sliced(b, e - b);
}

inline bool isHeaderLine(QByteArrayView line)
{
    const QByteArrayView t = trimmed(line);
    return !t.isEmpty() && t.front() == '[';
}

// A key line is "key = value" outside a comment; lines without '=' or with an empty key
// carry no key.
inline bool splitKeyLine(QByteArrayView line, QByteArrayView *key, QByteArrayView *value)
{
    const QByteArrayView t = trimmed(line);
    if (t.isEmpty() || t.front() == ';') return false;
    const qsizetype eq = t.indexOf('=');
    if (eq < 0) return false;
    *key = trimmed(t.first(eq));
    if (key->isEmpty()) return false;
    *value = trimmed(t.sliced(eq + 1));
    return true;
}

inline char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

// Names and values are written on one line; a line break in them would start a new key.
inline QByteArray oneLineUtf8(const QString &text)
{
    QByteArray out = text.trimmed().toUtf8();
    for (char &c : out)
        if (c == '\n' || c == '\r') c = ' ';
    return out;
}

}  // namespace core::initext
