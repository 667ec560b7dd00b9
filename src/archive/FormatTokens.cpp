#include "archive/FormatTokens.h"

namespace archive {

QString FormatToken::literalText() const
{
    if (!quoted()) return text;
    QString inner = text.mid(1);
    if (inner.endsWith(u'\'')) inner.chop(1);
    return inner.replace(QStringLiteral("''"), QStringLiteral("'"));
}

QList<FormatToken> tokenizeFormat(const QString &format)
{
    QList<FormatToken> out;
    const qsizetype n = format.size();
    auto addPlain = [&out](QChar c) {
        if (!out.isEmpty() && !out.last().field && !out.last().quoted())
            out.last().text += c;
        else
            out.append(FormatToken{QString(c), false});
    };
    for (qsizetype i = 0; i < n;) {
        const QChar c = format[i];
        if (c == u'\'') {
            qsizetype j = i + 1;
            while (j < n) {
                if (format[j] == u'\'') {
                    if (j + 1 < n && format[j + 1] == u'\'') { j += 2; continue; }
                    break;
                }
                ++j;
            }
            out.append(FormatToken{format.mid(i, j - i + 1), false});
            i = j + 1;
        } else if (c.unicode() < 128 && c.isLetter()) {
            qsizetype j = i;
            while (j < n && format[j] == c) ++j;
            out.append(FormatToken{format.mid(i, j - i), true});
            i = j;
        } else {
            addPlain(c);
            ++i;
        }
    }
    return out;
}

QString joinFormat(const QList<FormatToken> &tokens)
{
    QString s;
    for (const FormatToken &t : tokens) s += t.text;
    return s;
}

}  // namespace archive
