#pragma once
// Reads the time texts of one locale time format made only of hour, minute, second and
// AM/PM fields with ASCII digits ("h:mm:ss AP", "HH:mm:ss", "H時mm分ss秒") at a small
// fraction of QLocale::toTime's cost, which dominates loading a large archive otherwise.
// It accepts only an exact match of the format; anything else (another format, other
// digits, a text it does not take) gives an invalid time, and the caller then asks QLocale.

#include <QLocale>
#include <QString>
#include <QStringView>
#include <QTime>
#include <vector>

namespace archive {

class FastTimeParser {
public:
    FastTimeParser(const QLocale &locale, const QString &format);

    bool usable() const { return m_usable; }
    QTime parse(QStringView text) const;

private:
    enum class Kind { Hour, Minute, Second, AmPm, Literal };
    struct Step {
        Kind kind;
        int minDigits = 1;
        QString literal;
    };
    std::vector<Step> m_steps;
    QString m_am;
    QString m_pm;
    bool m_twelveHour = false;
    bool m_usable = false;
};

}  // namespace archive
