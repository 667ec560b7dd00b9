#include "schedule/ScheduleEntryDialog.h"

#include "core/DayCount.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDateTime>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTimeEdit>
#include <QVBoxLayout>

#include <algorithm>

namespace schedule {

namespace {

constexpr int kMsPerMinute = 60000;
// Largest length the "h:m" field can show.
constexpr int kMaxFieldMinutes = 99 * 60 + 59;

}  // namespace

int ScheduleEntryDialog::presetIndexFor(qint32 ms)
{
    const auto &presets = presetMinutes();
    for (size_t i = 0; i < presets.size(); ++i) {
        if (qint64(presets[i]) * kMsPerMinute == ms) return int(i);
    }
    return -1;
}

const std::vector<int> &ScheduleEntryDialog::presetMinutes()
{
    static const std::vector<int> minutes{0, 15, 30, 60, 120, 180, 360, 720, 1440};
    return minutes;
}

std::optional<qint32> ScheduleEntryDialog::parseLength(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^\\s*(\\d{1,2})\\s*:(\\d{2})$"));
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch()) return std::nullopt;
    const int hours = m.captured(1).toInt();
    const int minutes = m.captured(2).toInt();
    if (minutes > 59) return std::nullopt;
    return qint32((hours * 60 + minutes) * kMsPerMinute);
}

QString ScheduleEntryDialog::lengthProblem(const QString &text)
{
    if (parseLength(text)) return {};
    static const QRegularExpression minutes(QStringLiteral(":(\\d{2})$"));
    const QRegularExpressionMatch m = minutes.match(text);
    if (m.hasMatch() && m.captured(1).toInt() > 59)
        return QStringLiteral("Minutes go from 00 to 59.");
    return QStringLiteral("Enter the length as hours:minutes.");
}

QString ScheduleEntryDialog::formatLength(qint32 ms)
{
    const int minutes = std::clamp(ms / kMsPerMinute, 0, kMaxFieldMinutes);
    return QStringLiteral("%1:%2")
        .arg(minutes / 60, 2, 10, QLatin1Char('0'))
        .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

ScheduleEntry ScheduleEntryDialog::newEntry(const QDateTime &now)
{
    const QTime t = now.time();
    const int nextMinute = (t.hour() * 60 + t.minute() + 1) % (24 * 60);
    ScheduleEntry e;
    e.Time = core::timeOfDayFraction(QTime(nextMinute / 60, nextMinute % 60));
    e.Length = 0;
    e.Action = ActionRecord;
    return e;
}

ScheduleEntryDialog::ScheduleEntryDialog(QWidget *parent, const QString &minuteWord, const QString &hourWord,
                       const QString &hoursWord)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmScEdit"));
    setWindowTitle(QStringLiteral("Schedule"));
    QFont f(QStringLiteral("Tahoma"));
    f.setPointSize(8);
    setFont(f);

    auto *timeLabel = new QLabel(QStringLiteral("Time:"), this);
    timeLabel->setObjectName(QStringLiteral("Label1"));
    m_time = new QTimeEdit(this);
    m_time->setObjectName(QStringLiteral("_time"));
    m_time->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    timeLabel->setBuddy(m_time);

    auto *lengthLabel = new QLabel(QStringLiteral("Length:"), this);
    lengthLabel->setObjectName(QStringLiteral("Label2"));
    m_lengthPresets = new QComboBox(this);
    m_lengthPresets->setObjectName(QStringLiteral("cbLength"));
    m_lengthPresets->setEditable(false);
    for (int minutes : presetMinutes()) {
        if (minutes == 0)
            m_lengthPresets->addItem(QStringLiteral("--:--"));
        else if (minutes < 60)
            m_lengthPresets->addItem(QStringLiteral("%1 %2").arg(minutes).arg(minuteWord));
        else
            m_lengthPresets->addItem(QStringLiteral("%1 %2").arg(minutes / 60).arg(
                minutes == 60 ? hourWord : hoursWord));
    }
    m_length = new QLineEdit(this);
    m_length->setObjectName(QStringLiteral("edLen"));
    // One or two digits of hours, a colon, two digits of minutes.
    m_length->setInputMask(QStringLiteral("09:99;_"));
    m_length->setText(QStringLiteral("00:00"));
    m_length->setFixedWidth(m_length->fontMetrics().horizontalAdvance(QStringLiteral("00:00")) + 14);
    auto *unitLabel = new QLabel(QStringLiteral("(h:m)"), this);
    unitLabel->setObjectName(QStringLiteral("Label3"));
    lengthLabel->setBuddy(m_lengthPresets);
    m_lengthProblem = new QLabel(this);
    m_lengthProblem->setObjectName(QStringLiteral("lbLengthProblem"));
    m_lengthProblem->setStyleSheet(QStringLiteral("color: #c00000"));
    // Hidden until needed, in a row of its own that is sized for the longer message.
    m_lengthProblem->setText(lengthProblem(QStringLiteral(":")));
    QSizePolicy keepSpace = m_lengthProblem->sizePolicy();
    keepSpace.setRetainSizeWhenHidden(true);
    m_lengthProblem->setSizePolicy(keepSpace);
    m_lengthProblem->hide();

    auto *grid = new QGridLayout;
    grid->addWidget(timeLabel, 0, 0);
    grid->addWidget(m_time, 0, 1, 1, 3, Qt::AlignLeft);
    grid->addWidget(lengthLabel, 1, 0);
    grid->addWidget(m_lengthPresets, 1, 1);
    grid->addWidget(m_length, 1, 2);
    grid->addWidget(unitLabel, 1, 3);
    grid->addWidget(m_lengthProblem, 2, 0, 1, 4);
    grid->setColumnStretch(1, 1);

    auto *group = new QGroupBox(QStringLiteral(" Action: "), this);
    group->setObjectName(QStringLiteral("GroupBox1"));
    m_start = new QRadioButton(QStringLiteral("Start recording"), group);
    m_start->setObjectName(QStringLiteral("rbStart"));
    m_stop = new QRadioButton(QStringLiteral("Stop recording"), group);
    m_stop->setObjectName(QStringLiteral("rbStop"));
    m_action = new QButtonGroup(this);
    m_action->addButton(m_start, ActionRecord);
    m_action->addButton(m_stop, ActionStop);
    auto *groupLayout = new QVBoxLayout(group);
    groupLayout->setContentsMargins(8, 4, 8, 4);
    groupLayout->setSpacing(2);
    groupLayout->addWidget(m_start);
    groupLayout->addWidget(m_stop);

    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("Button1"));
    ok->setDefault(true);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("Button2"));
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(6);
    layout->addLayout(grid);
    layout->addWidget(group);
    layout->addStretch(1);
    layout->addLayout(buttons);

    connect(m_lengthPresets, &QComboBox::currentIndexChanged, this, &ScheduleEntryDialog::cbLengthChange);
    connect(m_length, &QLineEdit::textEdited, this, &ScheduleEntryDialog::edLenEdited);
    connect(ok, &QPushButton::clicked, this, &ScheduleEntryDialog::Button1Click);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    setEntry(ScheduleEntry{});
    const QSize hint = sizeHint();
    setFixedSize(std::max(hint.width(), 219), std::max(hint.height(), 172));
}

void ScheduleEntryDialog::setEntry(const ScheduleEntry &entry)
{
    m_original = entry;
    m_lengthTouched = false;
    m_lengthProblem->hide();
    m_time->setTime(core::timeOfDay(entry.Time));
    m_originalTime = m_time->time();

    m_length->setText(formatLength(std::max<qint32>(entry.Length, 0)));
    const QSignalBlocker block(m_lengthPresets);
    m_lengthPresets->setCurrentIndex(presetIndexFor(std::max<qint32>(entry.Length, 0)));
    (entry.Action == ActionStop ? m_stop : m_start)->setChecked(true);
}

ScheduleEntry ScheduleEntryDialog::entry() const
{
    ScheduleEntry e = m_original;
    if (m_time->time() != m_originalTime) e.Time = core::timeOfDayFraction(m_time->time());
    if (m_lengthTouched) e.Length = parseLength(m_length->text()).value_or(0);
    e.Action = m_action->checkedId() == ActionStop ? ActionStop : ActionRecord;
    return e;
}

void ScheduleEntryDialog::cbLengthChange(int index)
{
    const auto &presets = presetMinutes();
    if (index < 0 || index >= int(presets.size())) return;
    m_length->setText(formatLength(presets[size_t(index)] * kMsPerMinute));
    m_lengthTouched = true;
    m_lengthProblem->hide();
}

void ScheduleEntryDialog::edLenEdited()
{
    m_lengthTouched = true;
    m_lengthProblem->hide();
    const std::optional<qint32> ms = parseLength(m_length->text());
    const QSignalBlocker block(m_lengthPresets);
    m_lengthPresets->setCurrentIndex(ms ? presetIndexFor(*ms) : -1);
}

void ScheduleEntryDialog::Button1Click()
{
    if (m_lengthTouched && !parseLength(m_length->text())) {
        m_lengthProblem->setText(lengthProblem(m_length->text()));
        m_lengthProblem->show();
        m_length->setFocus();
        m_length->selectAll();
        return;
    }
    accept();
}

}  // namespace schedule
