#include "recording/OutputFileName.h"

#include <QDir>

namespace recording {

namespace {

QString twoDigits(int value) { return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0')); }

}  // namespace

QString makeOutputFileName(const QString &folder, const QString &tmpl, const QString &ext,
                           const QDateTime &now)
{
    QString text = folder;
    if (!text.endsWith(QLatin1Char('/')) && !text.endsWith(QLatin1Char('\\')))
        text += QLatin1Char('/');
    text += tmpl;

    const QDate date = now.date();
    const QTime time = now.time();
    // QString::replace resumes after each inserted value, so a value is never rescanned.
    text.replace(QStringLiteral("%y"), QString::number(date.year()), Qt::CaseInsensitive);
    text.replace(QStringLiteral("%m"), twoDigits(date.month()), Qt::CaseInsensitive);
    text.replace(QStringLiteral("%d"), twoDigits(date.day()), Qt::CaseInsensitive);
    text.replace(QStringLiteral("%t"),
                 twoDigits(time.hour()) + QLatin1Char('-') + twoDigits(time.minute())
                     + QLatin1Char('-') + twoDigits(time.second()),
                 Qt::CaseInsensitive);

    if (!ext.isEmpty()) text += QLatin1Char('.') + ext;
    text.replace(QLatin1Char('\\'), QLatin1Char('/'));

    // After the codes, so that the home folder's own name is never taken for codes.
    return expandHomeFolder(text);
}

QString expandHomeFolder(const QString &path)
{
    if (path == QLatin1String("~") || path.startsWith(QLatin1String("~/")))
        return QDir::homePath() + path.mid(1);
    return path;
}

QString firstFreeFileName(const QString &path, const QString &ext,
                          const std::function<bool(const QString &)> &isTaken)
{
    if (!isTaken(path)) return path;
    const QString dottedExt = ext.isEmpty() ? QString() : QLatin1Char('.') + ext;
    const bool hasExt = !dottedExt.isEmpty() && path.endsWith(dottedExt);
    const QString stem = hasExt ? path.chopped(dottedExt.size()) : path;
    const QString tail = hasExt ? dottedExt : QString();
    // Ends: the taken names are files in one folder, so some number is free.
    for (qint64 n = 2;; ++n) {
        const QString candidate = stem + QLatin1Char('_') + QString::number(n) + tail;
        if (!isTaken(candidate)) return candidate;
    }
}

}  // namespace recording
