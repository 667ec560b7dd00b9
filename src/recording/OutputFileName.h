#pragma once
// Output file names of recordings: save folder + name template + extension, with the date
// and time codes of the template filled in from one reading of the local clock.

#include <QDateTime>
#include <QString>

#include <functional>

namespace recording {

// Joins folder (a '/' added unless it ends in '/' or '\') and template, then replaces,
// without regard to letter case and across the whole text (folder included), in this order:
//   %y  year, no leading zeros      %m  month, two digits
//   %d  day, two digits             %t  time "hh-mm-ss", 24-hour clock
// Each code is searched left to right through what the previous codes left; a value is
// never searched again for the same code. "." + ext follows when ext is not empty. Every
// '\' then becomes '/', so a backslash makes a subfolder, and a leading "~" (alone or
// before a '/') becomes the home folder. Nothing else is changed or checked.
QString makeOutputFileName(const QString &folder, const QString &tmpl, const QString &ext,
                           const QDateTime &now);

// path with a leading "~" (alone or before a '/') replaced by the home folder; else as it is.
QString expandHomeFolder(const QString &path);

// path itself when isTaken(path) is false; otherwise the first of "<stem>_2.<ext>",
// "<stem>_3.<ext>", … that is not taken, where stem is path without "." + ext (ext empty or
// not ending path: the suffix goes at the end). A recording never writes over a file that
// exists or that another encoder is still writing, so two starts in one second get two files.
QString firstFreeFileName(const QString &path, const QString &ext,
                          const std::function<bool(const QString &)> &isTaken);

}  // namespace recording
