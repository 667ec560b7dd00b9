#pragma once
// Qt date/time format strings split into tokens: a run of one ASCII letter is a field
// ("yy", "HH"; "AP" is the two runs "A" and "P"), text in single quotes is a quoted literal
// ('' stands for a quote), every other run of characters is a plain literal.

#include <QList>
#include <QString>

namespace archive {

struct FormatToken {
    QString text;  // as written in the format, quotes included
    bool field;
    bool quoted() const { return !field && text.startsWith(u'\''); }
    // The text a literal stands for: quotes removed, '' made a quote.
    QString literalText() const;
};

QList<FormatToken> tokenizeFormat(const QString &format);
QString joinFormat(const QList<FormatToken> &tokens);

}  // namespace archive
