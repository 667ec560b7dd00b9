#pragma once
// Texts the program puts into its windows itself; a language file replaces them from its
// section "Strings".
#include <QString>
#include <QStringList>

namespace core { class Ini; }

namespace i18n {

// Every key of section "Strings", one line each: field, key, built-in English text. %1, %2, …
// stand for what the program fills in (a path, a cause, a time); causes that come from
// elsewhere (an encoder's own message, a device name) stay as they are. The keys are those
// the language files have always used, however the fields are named.
#define VT_STRING_TABLE(X)                                                                         \
    /* the schedule's action column */                                                             \
    X(actionRecord, "_action1", "Record")                                                          \
    X(actionStop, "_action2", "Stop")                                                              \
    /* the status line when there is nothing more to say */                                        \
    X(statusRecording, "_status1", "recording")                                                    \
    X(statusStopped, "_status2", "stopped")                                                        \
    /* unit words of the schedule dialog's length presets: "15 min", "1 hour", "2 hours" */        \
    X(unitMinutes, "_lts1", "min")                                                                 \
    X(unitHour, "_lts2", "hour")                                                                   \
    X(unitHours, "_lts3", "hours")                                                                 \
    /* Edit in the schedule with no entry selected */                                              \
    X(nothingSelected, "Message1", "Nothing is selected!")                                         \
    /* the locale of Qt's own texts (file dialogs, shortcut names): "de"; none for English */      \
    X(qtLocale, "_qtLocale", "")                                                                   \
    /* the status line and the status bar */                                                      \
    X(captureFailed, "_captureFailed", "capture failed")                                           \
    X(encoderFailed, "_encoderFailed", "encoder failed")                                           \
    X(encoderStopped, "_encoderStopped", "encoder stopped")                                        \
    X(captureLost, "_captureLost", "capture lost")                                                 \
    X(retrying, "_retrying", "retrying")                                                           \
    X(cannotWrite, "_cannotWrite", "cannot write")                                                 \
    X(fileRemoved, "_fileRemoved", "file removed")                                                 \
    X(silence, "_silence", "silence")                                                              \
    X(encoderRestarted, "_encoderRestarted", "encoder restarted")                                  \
    X(droppedSeconds, "_droppedSeconds", "dropped %1 s")                                           \
    X(audioDropped, "_audioDropped", "audio dropped")                                              \
    /* desktop notifications */                                                                   \
    X(recordingFailed, "_recordingFailed", "recording failed")                                     \
    X(encoderGaveUp, "_encoderGaveUp", "the encoder stopped for good")                             \
    X(silenceBelow, "_silenceBelow", "below %1 dBFS for %2 s")                                     \
    /* notices in boxes */                                                                        \
    X(saveFailedCaption, "_saveFailedCaption", "Error!")                                           \
    X(saveFailed, "_saveFailed", "Cannot save!")                                                   \
    X(unableToWrite, "_unableToWrite", "Unable to write to %1")                                    \
    X(trashFailed, "_trashFailed", "Could not move %1 to the trash; it stays on disk.")            \
    X(scheduleUnreadable, "_scheduleUnreadable", "Unable to read %1: %2")                          \
    X(scheduleEmpty, "_scheduleEmpty", "%1 holds no schedule entries.")                            \
    X(defaultScheduleUnreadable, "_defaultScheduleUnreadable", "Cannot read %1 (%2); it is kept as it is") \
    X(defaultScheduleDamaged, "_defaultScheduleDamaged",                                           \
      "%1 holds damaged records, which are left out; the file is kept as %2 before the schedule is written") \
    X(recordingAdopted, "_recordingAdopted",                                                       \
      "%1 was left unfinished by the last run; it is in the archive now.")                         \
    X(folderInUseBy, "_folderInUseBy", "%1 is already in use by Vantrel, process %2 on %3")        \
    X(folderInUse, "_folderInUse", "%1 is already in use by another Vantrel")                      \
    X(cannotLock, "_cannotLock", "cannot lock %1")                                                 \
    /* titles of file dialogs */                                                                  \
    X(saveListTitle, "_saveListTitle", "Save list...")                                             \
    X(loadListTitle, "_loadListTitle", "Load list...")                                             \
    X(chooseFolderTitle, "_chooseFolderTitle", "Folder")

struct StringTable {
#define VT_STRING_FIELD(field, key, english) QString field = QStringLiteral(english);
    VT_STRING_TABLE(VT_STRING_FIELD)
#undef VT_STRING_FIELD
};

// The keys of section "Strings", for checks that a language file has them all.
QStringList stringTableKeys();

// The string table from section "Strings". A missing key gives the built-in English text, so
// a file without "_action1" brings back "Record" after another language; "Message1"
// (nothingSelected) alone keeps its current text.
StringTable readStringTable(const core::Ini &languageFile, const StringTable &current);

// The language file of `code` in `languagesFolder` (see languageFolder()); an empty document
// when the language has no folder.
core::Ini languageFileOf(const QString &languagesFolder, const QString &code);

}  // namespace i18n
