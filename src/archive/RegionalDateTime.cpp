#include "archive/RegionalDateTime.h"

#include "archive/FastTimeParser.h"
#include "archive/FormatTokens.h"
#include "core/DayCount.h"

#include <cmath>

namespace archive {

namespace {

bool isZoneSeparator(QChar c)
{
    return c.isSpace() || c == u',' || c == u'(' || c == u')' || c == u'[' || c == u']';
}

QDate isoDate(const QString &text)
{
    // Qt also takes "2026-12-07T..." as a date; only the plain form is meant here.
    if (text.size() != 10) return {};
    return QDate::fromString(text, Qt::ISODate);
}

// Bounds the memory of the caches for files with very many distinct texts.
constexpr qsizetype kMaxCachedTexts = 200000;

const QString kIsoDate = QStringLiteral("yyyy-MM-dd");
const QString kIsoTime = QStringLiteral("HH:mm:ss");

}  // namespace

QString shortDateFormatFullYear(const QLocale &locale)
{
    QList<FormatToken> tokens = tokenizeFormat(locale.dateFormat(QLocale::ShortFormat));
    for (FormatToken &t : tokens)
        if (t.field && t.text == u"yy") t.text = QStringLiteral("yyyy");
    return joinFormat(tokens);
}

QString timeFormatWithSeconds(const QLocale &locale)
{
    QList<FormatToken> tokens = tokenizeFormat(locale.timeFormat(QLocale::LongFormat));
    // Drop the zone ("t", "tttt") with the blanks, commas or brackets that set it off:
    // "HH:mm:ss t", "h:mm:ss AP, t", "H:mm:ss (t)", "t HH:mm:ss".
    for (qsizetype i = 0; i < tokens.size();) {
        if (!(tokens[i].field && tokens[i].text.startsWith(u't'))) { ++i; continue; }
        if (i > 0 && !tokens[i - 1].field && !tokens[i - 1].quoted()) {
            QString &s = tokens[i - 1].text;
            while (!s.isEmpty() && isZoneSeparator(s.back())) s.chop(1);
        }
        if (i + 1 < tokens.size() && !tokens[i + 1].field && !tokens[i + 1].quoted()) {
            QString &s = tokens[i + 1].text;
            while (!s.isEmpty() && isZoneSeparator(s.front())) s.remove(0, 1);
        }
        tokens.removeAt(i);
    }
    bool hasSeconds = false;
    qsizetype minutes = -1;
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        if (!tokens[i].field) continue;
        if (tokens[i].text.startsWith(u's')) hasSeconds = true;
        if (tokens[i].text.startsWith(u'm')) minutes = i;
    }
    if (!hasSeconds) {
        if (minutes < 0) return kIsoTime;
        tokens.insert(minutes + 1, FormatToken{QStringLiteral(":ss"), false});
    }
    return joinFormat(tokens).trimmed();
}

RegionalDateTime::RegionalDateTime(const QLocale &locale)
    : m_locale(locale),
      m_dateFormat(shortDateFormatFullYear(locale)),
      m_timeFormat(timeFormatWithSeconds(locale)),
      m_fastTime(locale, m_timeFormat)
{
    m_regional = roundTrips();
}

// Probes dates with one and two digit days and months, and every hour of the day (noon and
// midnight are where AM/PM parsing goes wrong), with minutes and seconds apart from 0.
bool RegionalDateTime::roundTrips() const
{
    // Qt 6.4 cannot read back a time whose AM/PM marker stands before the hour, and its
    // parser reads past its buffer trying (ee_GH: "AP 'ga' h:mm:ss"): such a locale is
    // written in ISO form without a probe.
    const qsizetype marker = m_timeFormat.indexOf(QLatin1Char('a'), 0, Qt::CaseInsensitive);
    const qsizetype hour = m_timeFormat.indexOf(QLatin1Char('h'), 0, Qt::CaseInsensitive);
    if (marker >= 0 && hour >= 0 && marker < hour) return false;
    for (const QDate d : {QDate(2026, 1, 5), QDate(2030, 12, 31), QDate(1999, 10, 17)}) {
        if (m_locale.toDate(m_locale.toString(d, m_dateFormat), m_dateFormat) != d) return false;
    }
    for (int h = 0; h < 24; ++h) {
        const QTime t(h, h == 0 ? 0 : 7, h == 0 ? 1 : 59);
        if (m_locale.toTime(m_locale.toString(t, m_timeFormat), m_timeFormat) != t) return false;
    }
    return true;
}

QString RegionalDateTime::format(double dayCount) const
{
    // NaN, infinities and counts far beyond any calendar date name no date.
    if (!(std::fabs(dayCount) < 1e9)) return {};
    const QDate date = core::dayCountEpoch().addDays(core::wholeDays(dayCount));
    const QTime precise = core::timeOfDay(dayCount);
    const QTime time = QTime(precise.hour(), precise.minute(), precise.second());
    // The ISO fallback is written with ASCII digits whatever the locale's own digits are.
    QString text = m_regional ? m_locale.toString(date, m_dateFormat) : date.toString(kIsoDate);
    if (time != QTime(0, 0)) {
        text += u' ';
        text += m_regional ? m_locale.toString(time, m_timeFormat) : time.toString(kIsoTime);
    }
    return text;
}

QDate RegionalDateTime::regionalDate(const QString &text)
{
    const auto it = m_dates.constFind(text);
    if (it != m_dates.constEnd()) return *it;
    const QDate d = m_locale.toDate(text, m_dateFormat);
    if (m_dates.size() < kMaxCachedTexts) m_dates.insert(text, d);
    return d;
}

QTime RegionalDateTime::regionalTime(const QString &text)
{
    const auto it = m_times.constFind(text);
    if (it != m_times.constEnd()) return *it;
    QTime t = m_fastTime.parse(text);
    if (!t.isValid()) t = m_locale.toTime(text, m_timeFormat);
    if (m_times.size() < kMaxCachedTexts) m_times.insert(text, t);
    return t;
}

bool RegionalDateTime::parseRegional(const QString &text, double *dayCount)
{
    // The date may hold blanks itself ("7 Dec 2026"), and so may an AM/PM marker
    // ("p. m."): try each blank as the one between date and time.
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!text[i].isSpace()) continue;
        const QDate date = regionalDate(text.left(i));
        if (!date.isValid()) continue;
        const QTime time = regionalTime(text.mid(i + 1).trimmed());
        if (time.isValid()) {
            *dayCount = core::toDayCount(date, time);
            return true;
        }
    }
    const QDate date = regionalDate(text);
    if (!date.isValid()) return false;
    *dayCount = core::toDayCount(date, QTime(0, 0));
    return true;
}

double RegionalDateTime::parse(const QString &raw)
{
    const QString text = raw.trimmed();
    if (text.isEmpty()) return 0.0;
    double value = 0.0;
    if (parseRegional(text, &value)) return value;

    const QDate date = isoDate(text.left(10));
    if (!date.isValid()) return 0.0;
    if (text.size() == 10) return core::toDayCount(date, QTime(0, 0));
    const QChar sep = text[10];
    if (sep != u'T' && sep != u't' && sep != u' ') return 0.0;
    const QTime time = QTime::fromString(text.mid(11).trimmed(), Qt::ISODate);
    return time.isValid() ? core::toDayCount(date, time) : 0.0;
}

}  // namespace archive
