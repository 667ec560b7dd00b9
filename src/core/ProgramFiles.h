#pragma once
// The program folder's files and the limits and defaults that more than one module shares,
// in one place. Paths are relative to the program folder (app::programPath() makes them whole).

#include <QString>

namespace core::files {

inline QString settings() { return QStringLiteral("vantrel.ini"); }
inline QString systemOptions() { return QStringLiteral("system.ini"); }
inline QString instanceLock() { return QStringLiteral("vantrel.lock"); }
inline QString plugins() { return QStringLiteral("Plugins/"); }
inline QString languages() { return QStringLiteral("Lang"); }
inline QString presetFolder() { return QStringLiteral("Presets/Vantrel"); }
inline QString codecPresets() { return QStringLiteral("Presets/Vantrel/Codecs.prs"); }
inline QString defaultSchedule() { return QStringLiteral("Presets/Vantrel/Default.vts"); }
inline QString archiveIndex() { return QStringLiteral("Log/VantrelArchive.ini"); }
inline QString recordingJournal() { return QStringLiteral("Log/RecordingJournal.ini"); }
inline QString ledger() { return QStringLiteral("Log/ledger.sqlite"); }  // the coverage ledger
inline QString eventLog() { return QStringLiteral("Log/events.log"); }  // rotated to events.log.1 …

}  // namespace core::files

namespace core::limits {

// How long recordings are kept, in calendar days; a stored value outside is brought in.
constexpr int kStoreTimeMinDays = 1;
constexpr int kStoreTimeMaxDays = 365;
constexpr int kStoreTimeDefaultDays = 30;

// The sample rate of a recording when the settings name none, in Hz.
constexpr int kDefaultSampleRate = 44100;

// Byte limits of a codec's fields, in the settings file and the preset records alike.
constexpr int kCodecNameBytes = 100;
constexpr int kCodecCommandBytes = 255;
constexpr int kCodecExtBytes = 8;

}  // namespace core::limits
