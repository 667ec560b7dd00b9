#include "archive/FastTimeParser.h"

#include "archive/FormatTokens.h"

namespace archive {

FastTimeParser::FastTimeParser(const QLocale &locale, const QString &format)
    : m_am(locale.amText()), m_pm(locale.pmText())
{
    if (locale.zeroDigit() != QStringLiteral("0")) return;
    const QList<FormatToken> tokens = tokenizeFormat(format);
    int hours = 0, minutes = 0, seconds = 0, markers = 0;
    bool hourIs24 = false;
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        const FormatToken &t = tokens[i];
        if (!t.field) {
            m_steps.push_back(Step{Kind::Literal, 0, t.literalText()});
            continue;
        }
        const QChar c = t.text.front();
        const int len = int(t.text.size());
        if ((c == u'A' || c == u'a') && len == 1) {
            // "AP", "ap", "A" or "a": the marker, read in any case.
            if (i + 1 < tokens.size() && tokens[i + 1].text == (c == u'A' ? u"P" : u"p")) ++i;
            m_steps.push_back(Step{Kind::AmPm, 0, {}});
            ++markers;
            continue;
        }
        // Two digit fields in a row have no separator to tell where one ends.
        if (!m_steps.empty() && m_steps.back().kind != Kind::Literal
            && m_steps.back().kind != Kind::AmPm)
            return;
        if (len > 2) return;
        Kind kind;
        if (c == u'h' || c == u'H') {
            kind = Kind::Hour;
            hourIs24 = c == u'H';
            ++hours;
        } else if (c == u'm') {
            kind = Kind::Minute;
            ++minutes;
        } else if (c == u's') {
            kind = Kind::Second;
            ++seconds;
        } else {
            return;  // fractions, zones and anything else are left to QLocale
        }
        m_steps.push_back(Step{kind, len, {}});
    }
    // "h" is 1...12 with a marker and 0...23 without; "H" with a marker is left to QLocale.
    if (hours != 1 || minutes != 1 || seconds != 1 || markers > 1) return;
    if (markers == 1 && hourIs24) return;
    m_twelveHour = markers == 1;
    m_usable = !m_twelveHour
               || (!m_am.isEmpty() && !m_pm.isEmpty()
                   && m_am.compare(m_pm, Qt::CaseInsensitive) != 0);
}

QTime FastTimeParser::parse(QStringView text) const
{
    if (!m_usable) return {};
    int hour = -1, minute = -1, second = -1, half = -1;  // half: 0 am, 1 pm
    qsizetype pos = 0;
    for (const Step &step : m_steps) {
        switch (step.kind) {
        case Kind::Literal:
            if (!text.mid(pos).startsWith(step.literal)) return {};
            pos += step.literal.size();
            break;
        case Kind::AmPm: {
            const QStringView rest = text.mid(pos);
            // The longer marker first, in case one begins with the other.
            const bool amFirst = m_am.size() >= m_pm.size();
            const QString &first = amFirst ? m_am : m_pm;
            const QString &other = amFirst ? m_pm : m_am;
            if (rest.startsWith(first, Qt::CaseInsensitive)) {
                half = amFirst ? 0 : 1;
                pos += first.size();
            } else if (rest.startsWith(other, Qt::CaseInsensitive)) {
                half = amFirst ? 1 : 0;
                pos += other.size();
            } else {
                return {};
            }
            break;
        }
        default: {
            int value = 0, digits = 0;
            while (digits < 2 && pos < text.size() && text[pos] >= u'0' && text[pos] <= u'9') {
                value = value * 10 + (text[pos].unicode() - u'0');
                ++digits;
                ++pos;
            }
            if (digits < step.minDigits || digits == 0) return {};
            if (step.kind == Kind::Hour) hour = value;
            else if (step.kind == Kind::Minute) minute = value;
            else second = value;
        }
        }
    }
    if (pos != text.size()) return {};
    if (m_twelveHour) {
        if (hour < 1 || hour > 12 || half < 0) return {};
        hour = hour % 12 + (half == 1 ? 12 : 0);
    }
    if (hour > 23 || minute > 59 || second > 59) return {};
    return QTime(hour, minute, second);
}

}  // namespace archive
