#pragma once
// vantrel.ini: every section, key and default in one place, and the rules for reading
// and writing them. Read when the recorder is made (and again on "reload"), written at its
// close. The file may be edited while the program runs (a station run over ssh): the close
// writes only the keys the program changed since it read or last wrote them, so that an
// edit of any other key stays as the user wrote it.

#include "core/Ini.h"
#include "core/ProgramFiles.h"
#include "meter/LevelPoll.h"

#include <QRect>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>

namespace app {

namespace keys {
inline const QString options = QStringLiteral("Options");
inline const QString levelMin = QStringLiteral("LevelMin");
inline const QString saveFolder = QStringLiteral("SaveFolder");
inline const QString saveFilename = QStringLiteral("SaveFilename");
inline const QString storeTime = QStringLiteral("StoreTime");
inline const QString lang = QStringLiteral("Lang");
inline const QString windowPos = QStringLiteral("WindowPos");
inline const QString state = QStringLiteral("State");
inline const QString x = QStringLiteral("X");
inline const QString y = QStringLiteral("Y");
inline const QString w = QStringLiteral("W");
inline const QString h = QStringLiteral("H");
inline const QString device = QStringLiteral("Device");
inline const QString recDev = QStringLiteral("RecDev");
inline const QString recSrc = QStringLiteral("RecSrc");
inline const QString sampleRate = QStringLiteral("SampleRate");
inline const QString playDev = QStringLiteral("PlayDev");
inline const QString encoder = QStringLiteral("Encoder");
inline const QString name = QStringLiteral("Name");
inline const QString cmd = QStringLiteral("Cmd");
inline const QString ext = QStringLiteral("Ext");
inline const QString columns = QStringLiteral("Columns");
inline const QString history = QStringLiteral("History");
inline const QString alarm = QStringLiteral("Alarm");
inline const QString silenceDb = QStringLiteral("SilenceDb");
inline const QString silenceSeconds = QStringLiteral("SilenceSeconds");
inline const QString splitMinutes = QStringLiteral("SplitMinutes");
inline const QString preRollSeconds = QStringLiteral("PreRollSeconds");
inline const QString diskHours = QStringLiteral("DiskHours");
inline const QString keepFreeMB = QStringLiteral("KeepFreeMB");
inline const QString minStoreDays = QStringLiteral("MinStoreDays");
inline const QString web = QStringLiteral("Web");
inline const QString listen = QStringLiteral("Listen");
inline const QString token = QStringLiteral("Token");
}  // namespace keys

constexpr int kHistorySlots = 16;
constexpr int kHistoryColumns = 6;

// Silence: a level below SilenceDb (dBFS) for SilenceSeconds; 0 seconds switches it off.
constexpr int kSilenceDbMin = -96;
constexpr int kSilenceDbMax = 0;
constexpr int kSilenceSecondsMax = 3600;

// SplitMinutes: a new file every N minutes of local time (0: never); PreRollSeconds: a
// recording reaches back that long (0: not at all).
constexpr int kSplitMinutesMax = 1440;
constexpr int kPreRollSecondsMax = 10;

// [Alarm] DiskHours: warn when less recording time than this is left on the save folder's
// file system (0: never). [Options] KeepFreeMB: remove the oldest recordings while less than
// this is free there (0: never). [Options] MinStoreDays: no recording younger than this is
// removed, by any rule or by hand (0: no minimum).
constexpr int kDiskHoursDefault = 24;
constexpr int kDiskHoursMax = 24 * 366;
constexpr int kMinStoreDaysMax = 36600;

enum class WindowState { NoPosition = -1, Normal = 0, Maximized = 1 };

struct Settings {
    int levelMin = meter::kDefaultBottomDb;
    QString saveFolder = defaultSaveFolder();
    QString saveFilename = QStringLiteral("%y-%m-%d_%t");
    int storeTime = core::limits::kStoreTimeDefaultDays;
    QString lang = QStringLiteral("En");

    int windowState = int(WindowState::NoPosition);
    // Stored bounds; a missing key keeps the window's current value.
    std::optional<int> x, y, w, h;

    int recDev = 0;
    int recSrc = 0;
    int sampleRate = core::limits::kDefaultSampleRate;
    int playDev = 1;

    QString codecName;
    QString codecCmd;
    QString codecExt;

    int silenceDb = -50;
    int silenceSeconds = 30;

    // Kept only in the file, by hand: writeSettings() leaves them as they stand.
    int splitMinutes = 0;
    int preRollSeconds = 0;
    int diskHours = kDiskHoursDefault;
    int keepFreeMB = 0;
    int minStoreDays = 0;
    QString webListen;  // host:port of the web page and API; empty: no web server
    QString webToken;   // empty: none asked for
    // "[Options] KeepFreeMB=-5 is not a whole number of 0 or more; 0 is used": the keys above
    // whose values were refused, for the recorder to log once.
    QStringList refusedKeys;

    // Archive list column widths from "History"; empty when the key is missing or malformed.
    std::optional<std::array<int, kHistoryColumns>> historyWidths;

    static QString defaultSaveFolder();  // ~/Recordings, the home folder expanded
};

// Reads every key; a missing key or a value that is not a whole 32-bit number ("1 year",
// "3000000000") gives the default.
// Mends values that would do harm: StoreTime is brought into 1…365, LevelMin 0 reads as -24,
// SilenceDb into -96…0, SilenceSeconds into 0…3600, SplitMinutes into 0…1440 and
// PreRollSeconds into 0…10. DiskHours, KeepFreeMB and MinStoreDays that are negative or
// not numbers take their defaults and are named in refusedKeys; values above the limits
// (a year of hours, 100 years of days) are brought down to them.
Settings readSettings(const core::Ini &ini);

// Window bounds at close. When maximised only State is written and the stored bounds stay.
struct WindowBounds {
    bool maximized = false;
    QRect normal;
};

// Writes every section whole, keys in table order, into the document (other lines kept).
void writeSettings(core::Ini &ini, const Settings &s, const WindowBounds &bounds,
                   const std::array<int, kHistoryColumns> &historyWidths);

// What the program holds of the file it read, as it would write it: the recorder's keys
// with the values read from `disk` (mended as readSettings mends them), and the window's
// keys (WindowPos, Columns) as they stand in `disk`, absent when absent there.
core::Ini settingsImage(const core::Ini &disk);

// Writes into `disk`, in place, every key of `now` whose value differs from `before` (the
// program changed it) or that `disk` lacks; every other key of `disk` stays as it is.
void writeChangedKeys(core::Ini &disk, const core::Ini &before, const core::Ini &now);

// "History": 16 signed 32-bit little-endian integers as 128 upper-case hex digits.
QString encodeHistory(const std::array<int, kHistoryColumns> &widths);
std::optional<std::array<int, kHistoryColumns>> decodeHistory(const QString &hex);

}  // namespace app
