#pragma once
// The archive index file, "Log/VantrelArchive.ini" in the program folder: one section per
// record, named Item0, Item1, ... in list order and numbered afresh at every write, each
// with the keys DateTime, Filename and Length in that order:
//
//   [Item0]
//   DateTime=07/12/2026 20:44:37
//   Filename=/home/ann/Recordings/2026-12-07 20-44-37.mp3
//   Length=3725
//
// DateTime is described in RegionalDateTime.h; Length is signed decimal seconds. Text is
// UTF-8 with LF line endings (CRLF files are read as well), sections set off by a blank line.
// A reader takes every section in file order whatever its name; a missing or unreadable
// value gives 0 or the empty path and the record still loads.

#include "archive/ArchiveRecord.h"

#include <QByteArray>
#include <QLatin1String>
#include <QLocale>
#include <QString>

namespace archive {

inline constexpr QLatin1String kIndexRelativePath("Log/VantrelArchive.ini");
inline constexpr QLatin1String kSectionPrefix("Item");
inline constexpr QLatin1String kKeyDateTime("DateTime");
inline constexpr QLatin1String kKeyFilename("Filename");
inline constexpr QLatin1String kKeyLength("Length");

// programDir ends in '/' or not; the result is programDir + "Log/VantrelArchive.ini".
QString archiveIndexPath(const QString &programDir);

ArchiveList parseArchiveIndex(const QByteArray &text, const QLocale &locale = QLocale::system());
QByteArray writeArchiveIndex(const ArchiveList &records, const QLocale &locale = QLocale::system());

}  // namespace archive
