#pragma once
// ScheduleEntryDialog: the modal dialog in which one schedule entry is created or changed.
//
//   ScheduleEntryDialog dialog(this, strings.unitMinutes, strings.unitHour, strings.unitHours);
//   dialog.setEntry(isAdd ? ScheduleEntryDialog::newEntry(QDateTime::currentDateTime()) : current);
//   if (dialog.exec() == QDialog::Accepted) use(dialog.entry());
//
// OK closes only with a complete length (schedule/EntryLength.h); otherwise the dialog
// stays open with the length field selected and says under it what is wrong. Fields the
// user leaves alone keep their exact stored values: a length of 59 999 ms or of 120 hours,
// which the "h:mm" field cannot show, survives an edit of the time or the action.

#include "schedule/EntryLength.h"
#include "schedule/ScheduleEntry.h"

#include <QDialog>
#include <QTime>

class QButtonGroup;
class QComboBox;
class QDateTime;
class QGridLayout;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QRadioButton;
class QTimeEdit;

namespace schedule {

class ScheduleEntryDialog : public QDialog {
    Q_OBJECT
public:
    // minuteWord, hourWord, hoursWord: the string table's unit words for the length
    // presets ("15 min", "1 hour", "2 hours").
    explicit ScheduleEntryDialog(QWidget *parent = nullptr,
                        const QString &minuteWord = QStringLiteral("min"),
                        const QString &hourWord = QStringLiteral("hour"),
                        const QString &hoursWord = QStringLiteral("hours"));

    void setEntry(const ScheduleEntry &entry);
    // The entry as the controls hold it; lengthMs 0 when the length field is incomplete.
    ScheduleEntry entry() const;

    // A new entry: the next full minute after now, Record, no length.
    static ScheduleEntry newEntry(const QDateTime &now) { return newEntryAfter(now); }

private:
    // The parts of the window, top to bottom; each makes its controls and connects them.
    QGridLayout *makeTimeAndLengthRows(const QString &minuteWord, const QString &hourWord, const QString &hoursWord);
    QGroupBox *makeActionGroup();
    QHBoxLayout *makeButtonRow();

    void applyLengthPreset(int index);
    void lengthTextEdited();
    void acceptIfLengthComplete();

    QTimeEdit *m_time = nullptr;
    QComboBox *m_lengthPresets = nullptr;
    QLineEdit *m_length = nullptr;
    QLabel *m_lengthProblem = nullptr;
    QRadioButton *m_start = nullptr;
    QRadioButton *m_stop = nullptr;
    QButtonGroup *m_action = nullptr;

    ScheduleEntry m_original;
    QTime m_originalTime;        // m_original's time as the time control holds it
    bool m_lengthTouched = false;
};

}  // namespace schedule
