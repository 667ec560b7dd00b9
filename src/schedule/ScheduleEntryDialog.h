#pragma once
// ScheduleEntryDialog: the modal dialog in which one schedule entry is created or changed.
//
//   ScheduleEntryDialog dialog(this, strings.lts1, strings.lts2, strings.lts3);
//   dialog.setEntry(isAdd ? ScheduleEntryDialog::newEntry(QDateTime::currentDateTime()) : current);
//   if (dialog.exec() == QDialog::Accepted) use(dialog.entry());
//
// OK closes only with a complete length: "h:mm" with minutes 0…59; otherwise the dialog
// stays open with the length field selected and says under it what is wrong. Fields the user leaves alone keep their
// exact stored values: a length of 59 999 ms or of 120 hours, which the "h:m" field cannot
// show, survives an edit of the time or the action.

#include "schedule/ScheduleEntry.h"

#include <QDialog>
#include <QTime>
#include <optional>
#include <vector>

class QButtonGroup;
class QComboBox;
class QDateTime;
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
    // The entry as the controls hold it; Length 0 when the length field is incomplete.
    ScheduleEntry entry() const;

    // A new entry: the next full minute after now, Record, no length.
    static ScheduleEntry newEntry(const QDateTime &now);

    // "h:mm" or "hh:mm" -> milliseconds; nothing for incomplete text or minutes above 59.
    static std::optional<qint32> parseLength(const QString &text);
    // Why parseLength refuses text, in words for the user; empty when it does not.
    static QString lengthProblem(const QString &text);
    // Milliseconds -> the length field's text in whole minutes ("24:00"), at most "99:59".
    static QString formatLength(qint32 ms);

    // Lengths of the presets of cbLength in minutes, 0 first (no length).
    static const std::vector<int> &presetMinutes();
    // The preset showing exactly ms, or -1.
    static int presetIndexFor(qint32 ms);

private:
    void cbLengthChange(int index);
    void edLenEdited();
    void Button1Click();

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
