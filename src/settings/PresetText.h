#pragma once
// The readable form of a preset list, from which the build makes the shipped preset file:
//
//   # comment
//   name    = MP3 128 kbit/s
//   command = lame --quiet -b 128 - ::s
//   ext     = mp3
//
// Each preset begins with its "name" line; "command" and "ext" follow (ext may be left
// out for an empty extension). Blanks around keys and values are dropped; blank lines and
// lines starting with '#' are ignored. Text is UTF-8.

#include "settings/CodecPreset.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace settings {

// Returns the presets in file order; on a malformed line, or a field over its byte limit,
// returns an empty list and sets *error ("line N: …"), so a typo never ships a cut preset.
QList<CodecPreset> parsePresetText(const QByteArray &text, QString *error);

}  // namespace settings
