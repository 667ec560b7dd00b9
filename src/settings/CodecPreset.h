#pragma once
// Codec presets: which encoder runs, with which arguments, and the extension its files get.
//
// The preset file "Presets/Vantrel/Codecs.prs" is a plain sequence of fixed 366-byte
// records, no header and no count:
//
//   offset  size  field
//        0     1  name length, 0…100
//        1   100  name
//      101     1  command length, 0…255
//      102   255  command line (relative to the Plugins folder; "::s" = output path)
//      357     1  extension length, 0…8
//      358     8  extension without the dot
//
// Text is UTF-8; the limits count bytes, and text is cut to them without splitting a
// character. Bytes past a field's length carry no meaning (written as zeros). Older files
// whose text is not valid UTF-8 are read as Latin-1.

#include "core/ProgramFiles.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace settings {

constexpr int kPresetRecordBytes = 366;
constexpr int kPresetNameBytes = core::limits::kCodecNameBytes;
constexpr int kPresetCommandBytes = core::limits::kCodecCommandBytes;
constexpr int kPresetExtBytes = core::limits::kCodecExtBytes;
// The preset list holds at most this many; reading stops there.
constexpr int kMaxPresets = 101;

struct CodecPreset {
    QString name;
    QString command;
    QString ext;

    // The fields cut to their byte limits, as they are when put into a record.
    static CodecPreset make(const QString &name, const QString &command, const QString &ext);
    friend bool operator==(const CodecPreset &a, const CodecPreset &b)
    {
        return a.name == b.name && a.command == b.command && a.ext == b.ext;
    }
    friend bool operator!=(const CodecPreset &a, const CodecPreset &b) { return !(a == b); }
};

// One 366-byte record; over-long fields are cut.
QByteArray encodePreset(const CodecPreset &preset);
// Reads one record from kPresetRecordBytes bytes at data. A length byte above its field's
// limit is taken as the limit.
CodecPreset decodePreset(const char *data);

// size / 366 records, at most kMaxPresets; a partial record at the end is ignored.
QList<CodecPreset> decodePresetFile(const QByteArray &bytes);
QByteArray encodePresetFile(const QList<CodecPreset> &presets);

// "Presets/Vantrel/Codecs.prs" under the program folder (which ends in '/').
QString presetFilePath(const QString &programFolder);

// A missing file gives an empty list; so does an unreadable one, with a log line saying why.
QList<CodecPreset> readPresetFile(const QString &path);

}  // namespace settings
