#pragma once
// Where the Help menu and the about box send the user: the help page of a language, the
// problem report mail and the about box's support mail. Pure functions; opening the result
// is the caller's business.

#include <QString>
#include <QUrl>

namespace i18n {

// The help page of `lang` under `languagesFolder` (the program folder's Lang/): vthelp.html
// in its language folder, else vthelp.chm there, else the same two of "En"; an empty URL
// when none exists. The language folder is found by name without regard to case, and only
// among the folders that exist, so a code such as "../x" never leaves `languagesFolder`.
QUrl helpPageUrl(const QString &languagesFolder, const QString &lang);

// mailto:<supportAddress>?subject=Vantrel (v.<version>), encoded so that a mail program
// shows exactly that subject whatever the version holds ('+', '&', blanks).
QUrl problemReportUrl(const QString &supportAddress, const QString &version);

// mailto:<supportAddress>?Subject=Vantrel
QUrl supportMailUrl(const QString &supportAddress);

}  // namespace i18n
