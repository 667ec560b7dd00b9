#pragma once
// Texts the program puts into its windows itself; a language file replaces them.
#include <QString>

namespace i18n {

struct StringTable {
    QString action1 = QStringLiteral("Record");
    QString action2 = QStringLiteral("Stop");
    QString status1 = QStringLiteral("recording");
    QString status2 = QStringLiteral("stopped");
    QString lts1 = QStringLiteral("min");
    QString lts2 = QStringLiteral("hour");
    QString lts3 = QStringLiteral("hours");  // the plural of lts2
    QString message1 = QStringLiteral("Nothing is selected!");
};

}  // namespace i18n
