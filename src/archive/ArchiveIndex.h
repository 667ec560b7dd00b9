#pragma once
// The archive index file, "Log/VantrelArchive.ini" in the program folder: one section per
// record, named Item0, Item1, ... in list order and numbered afresh at every write, each
// with the keys DateTime, Filename and Length in that order, after one comment line that
// names the locale whose regional form the dates are written in:
//
//   ; Locale=en_GB
//
//   [Item0]
//   DateTime=07/12/2026 20:44:37
//   Filename=/home/ann/Recordings/2026-12-07 20-44-37.mp3
//   Length=3725
//
// DateTime is described in RegionalDateTime.h; Length is signed decimal seconds. A reader
// reads the dates with the locale the comment names, so that a date alone ("02/03/2026")
// keeps its day and month after the computer's locale changed; a file without the comment
// (or naming a locale unknown here) is read with the current locale, and a date that the
// named locale cannot read is tried with the current one. A date text that cannot be read
// at all is kept and written back unchanged.
//
// Text is UTF-8 with LF line endings (CRLF and CR files are read as well), sections set off
// by a blank line. Paths are bytes: one that is not valid UTF-8 is written back exactly as
// read, and paths are never cut. A reader takes every section in file order whatever its
// name, key names compared without regard to case, the first of duplicate keys winning; a
// missing or unreadable value gives 0 or the empty path and the record still loads. Other
// INI readers see the same records: the locale line is a comment to them.

#include "archive/ArchiveRecord.h"

#include <QByteArray>
#include <QLatin1String>
#include <QLocale>
#include <QString>

namespace archive {

inline constexpr QLatin1String kSectionPrefix("Item");
inline constexpr QLatin1String kKeyDateTime("DateTime");
inline constexpr QLatin1String kKeyFilename("Filename");
inline constexpr QLatin1String kKeyLength("Length");
inline constexpr QLatin1String kLocaleComment("; Locale=");

// programDir ends in '/' or not; the result is programDir + "Log/VantrelArchive.ini".
QString archiveIndexPath(const QString &programDir);

// The locale the regional dates are written in: the one that gives the computer's date and
// time formats (LC_ALL, LC_TIME, LANG), made from its name so that naming it in the index
// names exactly these formats. QLocale::system() can be named after another category.
QLocale regionalDateLocale();

// `locale` is the current one: it reads files without a locale line and dates the named
// locale cannot read.
ArchiveList parseArchiveIndex(const QByteArray &text, const QLocale &locale = regionalDateLocale());
QByteArray writeArchiveIndex(const ArchiveList &records, const QLocale &locale = regionalDateLocale());

}  // namespace archive
