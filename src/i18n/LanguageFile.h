#pragma once
// A language file, Lang/<code>/vtlang.ini: its sections and keys, and the built-in texts of
// section "Strings", in one place. Names match without regard to case.
//
// Sections of component texts name the components of a window by their object names and
// give each a caption or a tool tip (i18n/LanguageApply.h). Column sections title a list's
// columns by the keys "c0", "c1", … . Section "Strings" holds the texts the program puts
// into its windows itself (i18n/StringTable.h).

#include <QString>

namespace i18n::langfile {

inline QString fileName() { return QStringLiteral("vtlang.ini"); }

// The main window's component texts. They apply in this order, so that of two sections
// naming one component for the same kind of text the later wins.
inline const QString mainCaptions = QStringLiteral("Main.Captions");    // captions
inline const QString mainHints = QStringLiteral("Main.Hints");          // tool tips
inline const QString mainMenuHints = QStringLiteral("Main.MenuHints");  // tool tips
inline const QString mainMenuItems = QStringLiteral("Main.MenuItems");  // captions
// The settings dialog's component texts.
inline const QString settingsCaptions = QStringLiteral("Form.Settings");
inline const QString settingsHints = QStringLiteral("Form.Settings.Hints");
// The export dialog's component texts.
inline const QString exportCaptions = QStringLiteral("Form.Export");
inline const QString exportHints = QStringLiteral("Form.Export.Hints");

// Column titles of the schedule and the archive list.
inline const QString scheduleColumns = QStringLiteral("ScheduleList.Columns");
inline const QString historyColumns = QStringLiteral("HistoryList.Columns");
inline QString columnKey(int column) { return QStringLiteral("c%1").arg(column); }

inline const QString strings = QStringLiteral("Strings");

}  // namespace i18n::langfile

// Section "Strings", a key to a line: the StringTable field, the key, the built-in English
// text. %1, %2, … stand for what the program fills in (a path, a cause, a time); causes that
// come from elsewhere (an encoder's own message, a device name) stay as they are. The keys
// are those the language files have always used, whatever the fields are called.
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
    X(damagedFile, "_damagedFile", "damaged file")                                                 \
    X(diskLeft, "_diskLeft", "disk: %1 left")                                                      \
    X(diskFull, "_diskFull", "disk full")                                                          \
    X(webOff, "_webOff", "web server off: %1")                                                     \
    /* desktop notifications */                                                                   \
    X(recordingFailed, "_recordingFailed", "recording failed")                                     \
    X(encoderGaveUp, "_encoderGaveUp", "the encoder stopped for good")                             \
    X(silenceBelow, "_silenceBelow", "below %1 dBFS for %2 s")                                     \
    X(diskLow, "_diskLow", "%1 of recording time left on the disk of %2")                          \
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
    X(fileDamaged, "_fileDamaged", "%1 is damaged: %2")                                            \
    X(deleteKept, "_deleteKept", "%1 is not deleted: %2.")                                   \
    X(removeFailed, "_removeFailed", "Could not remove %1 to free disk space: %2; it is tried again later.") \
    X(spaceKept, "_spaceKept",                                                                     \
      "Less than %1 MB is free on the disk of %2, but no more recordings may be removed (%3 kept: %4); recording goes on until the disk is full.") \
    X(ledgerUnusable, "_ledgerUnusable",                                                           \
      "The coverage ledger %1 cannot be used (%2); recording goes on without it.")                 \
    X(ledgerRebuilt, "_ledgerRebuilt",                                                             \
      "The coverage ledger %1 was damaged (%2); it is kept as %3 and rebuilt from the archive and the event log.") \
    X(folderInUseBy, "_folderInUseBy", "%1 is already in use by Vantrel, process %2 on %3")        \
    X(folderInUse, "_folderInUse", "%1 is already in use by another Vantrel")                      \
    X(cannotLock, "_cannotLock", "cannot lock %1")                                                 \
    /* titles of file dialogs */                                                                  \
    X(saveListTitle, "_saveListTitle", "Save list...")                                             \
    X(loadListTitle, "_loadListTitle", "Load list...")                                             \
    X(chooseFolderTitle, "_chooseFolderTitle", "Folder")                                           \
    /* the export dialog: %1 and %2 times, %3 seconds, %4 a cause; %1 a file */                   \
    X(exportFileTitle, "_exportFileTitle", "Export to")                                            \
    X(exportGap, "_exportGap", "Silence from %1 to %2 (%3 s): no recording")                       \
    X(exportShort, "_exportShort", "Silence from %1 to %2 (%3 s): %4")                             \
    X(exportLeftOut, "_exportLeftOut", "Left out %1")                                              \
    X(exportDone, "_exportDone", "Exported %1 s to %2")                                            \
    X(exportFailed, "_exportFailed", "Export failed: %1")                                          \
    X(exportCancelled, "_exportCancelled", "Export cancelled; no file was written")
