#include "schedule/ScheduleEntryDialog.h"

#include "core/DayCount.h"
#include "core/WindowFont.h"

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
#include <QTimeEdit>
#include <QVBoxLayout>

#include <algorithm>

namespace schedule {

ScheduleEntryDialog::ScheduleEntryDialog(QWidget *parent, const QString &minuteWord, const QString &hourWord,
                       const QString &hoursWord)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmScEdit"));
    setWindowTitle(QStringLiteral("Schedule"));
    setFont(QFont(core::look::windowFontFamily(), core::look::kWindowFontPoints));

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(6);
    layout->addLayout(makeTimeAndLengthRows(minuteWord, hourWord, hoursWord));
    layout->addWidget(makeActionGroup());
    layout->addStretch(1);
    layout->addLayout(makeButtonRow());

    setEntry(ScheduleEntry{});
    const QSize hint = sizeHint();
    setFixedSize(std::max(hint.width(), 219), std::max(hint.height(), 172));
}

QGridLayout *ScheduleEntryDialog::makeTimeAndLengthRows(const QString &minuteWord, const QString &hourWord,
                                                        const QString &hoursWord)
{
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
    for (int minutes : lengthPresetMinutes())
        m_lengthPresets->addItem(lengthPresetText(minutes, minuteWord, hourWord, hoursWord));
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
    m_lengthProblem->setText(entryLengthProblem(QStringLiteral(":")));
    QSizePolicy keepSpace = m_lengthProblem->sizePolicy();
    keepSpace.setRetainSizeWhenHidden(true);
    m_lengthProblem->setSizePolicy(keepSpace);
    m_lengthProblem->hide();
    connect(m_lengthPresets, &QComboBox::currentIndexChanged, this, &ScheduleEntryDialog::applyLengthPreset);
    connect(m_length, &QLineEdit::textEdited, this, &ScheduleEntryDialog::lengthTextEdited);

    auto *grid = new QGridLayout;
    grid->addWidget(timeLabel, 0, 0);
    grid->addWidget(m_time, 0, 1, 1, 3, Qt::AlignLeft);
    grid->addWidget(lengthLabel, 1, 0);
    grid->addWidget(m_lengthPresets, 1, 1);
    grid->addWidget(m_length, 1, 2);
    grid->addWidget(unitLabel, 1, 3);
    grid->addWidget(m_lengthProblem, 2, 0, 1, 4);
    grid->setColumnStretch(1, 1);
    return grid;
}

QGroupBox *ScheduleEntryDialog::makeActionGroup()
{
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
    return group;
}

QHBoxLayout *ScheduleEntryDialog::makeButtonRow()
{
    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("Button1"));
    ok->setDefault(true);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("Button2"));
    connect(ok, &QPushButton::clicked, this, &ScheduleEntryDialog::acceptIfLengthComplete);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    return buttons;
}

void ScheduleEntryDialog::setEntry(const ScheduleEntry &entry)
{
    m_original = entry;
    m_lengthTouched = false;
    m_lengthProblem->hide();
    m_time->setTime(core::timeOfDay(entry.time));
    m_originalTime = m_time->time();

    m_length->setText(formatEntryLength(std::max<qint32>(entry.lengthMs, 0)));
    const QSignalBlocker block(m_lengthPresets);
    m_lengthPresets->setCurrentIndex(lengthPresetIndexFor(std::max<qint32>(entry.lengthMs, 0)));
    (entry.action == ActionStop ? m_stop : m_start)->setChecked(true);
}

ScheduleEntry ScheduleEntryDialog::entry() const
{
    ScheduleEntry e = m_original;
    if (m_time->time() != m_originalTime) e.time = core::timeOfDayFraction(m_time->time());
    if (m_lengthTouched) e.lengthMs = parseEntryLength(m_length->text()).value_or(0);
    e.action = m_action->checkedId() == ActionStop ? ActionStop : ActionRecord;
    return e;
}

void ScheduleEntryDialog::applyLengthPreset(int index)
{
    const auto &presets = lengthPresetMinutes();
    if (index < 0 || index >= int(presets.size())) return;
    m_length->setText(formatEntryLength(presets[size_t(index)] * 60000));
    m_lengthTouched = true;
    m_lengthProblem->hide();
}

void ScheduleEntryDialog::lengthTextEdited()
{
    m_lengthTouched = true;
    m_lengthProblem->hide();
    const std::optional<qint32> ms = parseEntryLength(m_length->text());
    const QSignalBlocker block(m_lengthPresets);
    m_lengthPresets->setCurrentIndex(ms ? lengthPresetIndexFor(*ms) : -1);
}

void ScheduleEntryDialog::acceptIfLengthComplete()
{
    if (m_lengthTouched && !parseEntryLength(m_length->text())) {
        m_lengthProblem->setText(entryLengthProblem(m_length->text()));
        m_lengthProblem->show();
        m_length->setFocus();
        m_length->selectAll();
        return;
    }
    accept();
}

}  // namespace schedule
