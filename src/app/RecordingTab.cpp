#include "app/RecordingTab.h"

#include "app/ProgramFolder.h"
#include "app/Recorder.h"
#include "app/ViewParts.h"
#include "core/DayCount.h"
#include "core/TextLimits.h"
#include "core/ProgramFiles.h"
#include "schedule/ScheduleEntryDialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace app {

namespace {

const QString kIdleRemaining = QStringLiteral("? d ?:??:??");
const QString kIdleRecorded = QStringLiteral("0:00:00");

// The pictures of the two record buttons: a red disc and a dark square, drawn for plain and
// doubled desktops alike (the icon picks the one for the screen's pixel ratio).
QIcon recordButtonIcon(bool record)
{
    QIcon icon;
    for (const qreal ratio : {1.0, 2.0}) {
        QPixmap pm(QSize(16, 16) * ratio);
        pm.setDevicePixelRatio(ratio);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        if (record) {
            p.setBrush(QColor(0xD0, 0x10, 0x10));
            p.drawEllipse(QRectF(2, 2, 12, 12));
        } else {
            p.setBrush(QColor(0x30, 0x30, 0x30));
            p.drawRect(QRectF(3, 3, 10, 10));
        }
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}

QPushButton *recordingButton(const QString &objectName, bool record, const QString &tip, QWidget *parent)
{
    auto *button = new QPushButton(recordButtonIcon(record), QString(), parent);
    button->setObjectName(objectName);
    button->setToolTip(tip);
    button->setFixedSize(40, 24);
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

}  // namespace

RecordingTab::RecordingTab(Recorder &recorder, QWidget *parent) : QWidget(parent), m_recorder(recorder)
{
    setObjectName(QStringLiteral("TabSheet1"));
    auto *column = new QVBoxLayout(this);

    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(4);
    grid->addWidget(boldLabel(QStringLiteral("Label1"), QStringLiteral("Codec:"), this), 0, 0);
    m_codecLabel = valueLabel(QStringLiteral("Label3"), recorder.settings().codecName, this);
    grid->addWidget(m_codecLabel, 0, 1);

    grid->addWidget(boldLabel(QStringLiteral("Label6"), QStringLiteral("Record:"), this), 1, 0);
    auto *buttons = new QHBoxLayout;
    m_recordButton = recordingButton(QStringLiteral("BitBtn1"), true, QStringLiteral("Record (F5)"), this);
    m_stopButton = recordingButton(QStringLiteral("BitBtn2"), false, QStringLiteral("Stop (F8)"), this);
    buttons->addWidget(m_recordButton);
    buttons->addWidget(m_stopButton);
    buttons->addStretch();
    grid->addLayout(buttons, 1, 1);
    connect(m_recordButton, &QPushButton::clicked, &recorder, &Recorder::record);
    connect(m_stopButton, &QPushButton::clicked, &recorder, &Recorder::stop);

    grid->addWidget(boldLabel(QStringLiteral("Label4"), QStringLiteral("Remaining on HDD:"), this), 2, 0);
    m_remainingLabel = valueLabel(QStringLiteral("lbRemaining"), kIdleRemaining, this);
    grid->addWidget(m_remainingLabel, 2, 1);
    grid->addWidget(boldLabel(QStringLiteral("Label5"), QStringLiteral("Status:"), this), 3, 0);
    m_statusLabel = valueLabel(QStringLiteral("lbStatus"), QString(), this);
    grid->addWidget(m_statusLabel, 3, 1);
    grid->addWidget(boldLabel(QStringLiteral("Label8"), QStringLiteral("Recorded:"), this), 4, 0);
    m_recordedLabel = valueLabel(QStringLiteral("lbRecorded"), kIdleRecorded, this);
    grid->addWidget(m_recordedLabel, 4, 1);
    grid->setColumnStretch(1, 1);
    column->addLayout(grid);

    column->addWidget(boldLabel(QStringLiteral("Label2"), QStringLiteral("Schedule:"), this));
    auto *listRow = new QHBoxLayout;
    m_scheduleView = reportView(QStringLiteral("lvSchedule"), this);
    m_scheduleView->setModel(&recorder.scheduleModel());
    m_scheduleView->header()->resizeSection(0, 70);
    m_scheduleView->header()->resizeSection(1, 100);
    auto *menu = new QMenu(m_scheduleView);
    menu->setObjectName(QStringLiteral("pmSchedule"));
    QAction *add = menu->addAction(QStringLiteral("Add..."));
    add->setObjectName(QStringLiteral("Add1"));
    connect(add, &QAction::triggered, this, [this] { editEntry(true); });
    QAction *edit = menu->addAction(QStringLiteral("Edit..."));
    edit->setObjectName(QStringLiteral("Edit1"));
    connect(edit, &QAction::triggered, this, [this] { editEntry(false); });
    QAction *remove = menu->addAction(QStringLiteral("Delete"));
    remove->setObjectName(QStringLiteral("Delete2"));
    bindDeleteKey(remove, m_scheduleView);
    connect(remove, &QAction::triggered, this, &RecordingTab::deleteEntry);
    connect(m_scheduleView, &QWidget::customContextMenuRequested, this,
            [this, menu](const QPoint &at) { menu->popup(m_scheduleView->viewport()->mapToGlobal(at)); });
    connect(m_scheduleView, &QAbstractItemView::doubleClicked, this, [this] { editEntry(false); });
    listRow->addWidget(m_scheduleView, 1);
    listRow->addWidget(buildScheduleButtons());
    column->addLayout(listRow, 1);
}

QWidget *RecordingTab::buildScheduleButtons()
{
    auto *panel = new QWidget(this);
    auto *side = new QVBoxLayout(panel);
    side->setContentsMargins(0, 0, 0, 0);
    const auto add = [&](const char *name, const char *text, auto command) {
        auto *b = new QPushButton(QString::fromLatin1(text), panel);
        b->setObjectName(QString::fromLatin1(name));
        side->addWidget(b);
        connect(b, &QPushButton::clicked, this, command);
    };
    add("btnSave", "Save list...", [this] { saveList(); });
    add("btnLoad", "Load list...", [this] { loadList(); });
    add("btnClear", "Clear", [this] { m_recorder.clearSchedule(); });
    add("btnAdd", "Add...", [this] { editEntry(true); });
    add("btnEdit", "Edit...", [this] { editEntry(false); });
    add("btnDelete", "Delete", [this] { deleteEntry(); });
    side->addStretch();
    return panel;
}

void RecordingTab::showStatus()
{
    const RecorderStatus status = m_recorder.status();
    m_statusLabel->setText(status.text);
    QPalette pal = m_statusLabel->palette();
    pal.setColor(QPalette::WindowText, statusColour(status.kind));
    m_statusLabel->setPalette(pal);
    showProgress();
}

// Only when the settings are confirmed: a preset picked in a dialog that is then cancelled
// is used by the next recording, but the caption keeps the name confirmed last.
void RecordingTab::showCodec()
{
    m_codecLabel->setText(m_recorder.settings().codecName);
}

void RecordingTab::showProgress()
{
    const bool recording = m_recorder.isRecording();
    m_recordedLabel->setText(recording ? core::formatHms(m_recorder.elapsedSeconds()) : kIdleRecorded);
    m_remainingLabel->setText(recording ? m_recorder.remainingText() : kIdleRemaining);
}

void RecordingTab::saveList()
{
    QString path = QFileDialog::getSaveFileName(this, m_recorder.strings().saveListTitle,
                                                programPath(core::files::presetFolder()),
                                                schedule::scheduleFileFilter());
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".") + schedule::scheduleFileSuffix();
    (void)m_recorder.saveSchedule(path);
}

void RecordingTab::loadList()
{
    const QString path = QFileDialog::getOpenFileName(this, m_recorder.strings().loadListTitle,
                                                      programPath(core::files::presetFolder()),
                                                      schedule::scheduleFileFilter());
    QString error;
    if (!path.isEmpty() && !m_recorder.loadSchedule(path, &error))
        QMessageBox::warning(this, m_recorder.strings().loadListTitle, error);
}

void RecordingTab::editEntry(bool newEntry)
{
    const int row = selectedRow(m_scheduleView);
    const i18n::StringTable &strings = m_recorder.strings();
    if (!newEntry && row < 0) {
        QMessageBox::information(this, QStringLiteral("Vantrel"), strings.nothingSelected);
        return;
    }
    schedule::ScheduleEntryDialog dialog(this, strings.unitMinutes, strings.unitHour, strings.unitHours);
    dialog.setEntry(newEntry ? schedule::ScheduleEntryDialog::newEntry(QDateTime::currentDateTime())
                             : m_recorder.scheduleModel().list().entries().at(size_t(row)));
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (newEntry)
        m_scheduleView->setCurrentIndex(m_recorder.scheduleModel().index(m_recorder.addScheduleEntry(dialog.entry()), 0));
    else
        m_recorder.replaceScheduleEntry(row, dialog.entry());
}

void RecordingTab::deleteEntry()
{
    m_recorder.removeScheduleEntry(selectedRow(m_scheduleView));
}

}  // namespace app
