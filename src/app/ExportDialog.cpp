#include "app/ExportDialog.h"

#include "ledger/ExportJob.h"

#include <QDateTimeEdit>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

namespace app {

namespace {

constexpr int kProgressSteps = 1000;
constexpr int kPollMs = 100;
constexpr int kMaxRollSeconds = 3600;

// Milliseconds only where there are any.
QString timeText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(ms % 1000 != 0 ? QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")
                                                                      : QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// "30", "1.75", "0.021": no trailing zeros.
QString secondsText(double seconds)
{
    static const QRegularExpression trailingZeros(QStringLiteral("\\.?0+$"));
    return QString::number(seconds, 'f', 3).remove(trailingZeros);
}

QLabel *fieldLabel(const QString &objectName, const QString &text, QWidget *buddy, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(objectName);
    label->setBuddy(buddy);
    return label;
}

QDateTimeEdit *timeField(const QString &objectName, const QDateTime &value, QWidget *parent)
{
    auto *edit = new QDateTimeEdit(value, parent);
    edit->setObjectName(objectName);
    edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    edit->setCalendarPopup(true);
    return edit;
}

QSpinBox *secondsField(const QString &objectName, QWidget *parent)
{
    auto *spin = new QSpinBox(parent);
    spin->setObjectName(objectName);
    spin->setRange(0, kMaxRollSeconds);
    spin->setSuffix(QStringLiteral(" s"));
    return spin;
}

QPushButton *button(const QString &objectName, const QString &text, QWidget *parent)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(objectName);
    return b;
}

}  // namespace

QString exportFileName(const QDateTime &from, const QDateTime &to)
{
    const QString endFormat = from.date() == to.date() ? QStringLiteral("HH-mm-ss") : QStringLiteral("yyyy-MM-dd_HH-mm-ss");
    return from.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss")) + QLatin1Char('_') + to.toString(endFormat)
           + QStringLiteral(".wav");
}

ExportDialog::ExportDialog(ledger::Ledger &ledger, const QString &programFolder, const i18n::StringTable &texts,
                           const QDateTime &from, const QDateTime &to, const QString &folder, QWidget *parent)
    : QDialog(parent), m_ledger(ledger), m_programFolder(programFolder), m_texts(texts)
{
    setObjectName(QStringLiteral("frmExport"));
    setWindowTitle(QStringLiteral("Export span"));
    buildFields(from, to, folder);
    buildButtons();
    m_poll = new QTimer(this);
    m_poll->setInterval(kPollMs);
    connect(m_poll, &QTimer::timeout, this, &ExportDialog::showProgress);
    setRunning(false);
}

ExportDialog::~ExportDialog() = default;  // a running job is cancelled and waited for

void ExportDialog::buildFields(const QDateTime &from, const QDateTime &to, const QString &folder)
{
    m_from = timeField(QStringLiteral("edFrom"), from, this);
    m_to = timeField(QStringLiteral("edTo"), to, this);
    m_preRoll = secondsField(QStringLiteral("edPreRoll"), this);
    m_postRoll = secondsField(QStringLiteral("edPostRoll"), this);
    m_file = new QLineEdit(QDir(folder).filePath(exportFileName(from, to)), this);
    m_file->setObjectName(QStringLiteral("edFile"));
    m_file->setMinimumWidth(fontMetrics().averageCharWidth() * 72);
    m_chooseFile = button(QStringLiteral("btnFile"), QStringLiteral("..."), this);
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("pbExport"));
    m_progress->setRange(0, kProgressSteps);
    m_log = new QPlainTextEdit(this);
    m_log->setObjectName(QStringLiteral("lbExportLog"));
    m_log->setReadOnly(true);
    m_log->setFixedHeight(fontMetrics().lineSpacing() * 5 + 2 * m_log->frameWidth() + 8);

    auto *grid = new QGridLayout;
    grid->addWidget(fieldLabel(QStringLiteral("lblFrom"), QStringLiteral("From:"), m_from, this), 0, 0);
    grid->addWidget(m_from, 0, 1);
    grid->addWidget(fieldLabel(QStringLiteral("lblPreRoll"), QStringLiteral("Pre-roll:"), m_preRoll, this), 0, 2);
    grid->addWidget(m_preRoll, 0, 3);
    grid->addWidget(fieldLabel(QStringLiteral("lblTo"), QStringLiteral("To:"), m_to, this), 1, 0);
    grid->addWidget(m_to, 1, 1);
    grid->addWidget(fieldLabel(QStringLiteral("lblPostRoll"), QStringLiteral("Post-roll:"), m_postRoll, this), 1, 2);
    grid->addWidget(m_postRoll, 1, 3);
    grid->addWidget(fieldLabel(QStringLiteral("lblFile"), QStringLiteral("File:"), m_file, this), 2, 0);
    auto *fileRow = new QHBoxLayout;
    fileRow->addWidget(m_file, 1);
    fileRow->addWidget(m_chooseFile);
    grid->addLayout(fileRow, 2, 1, 1, 3);
    grid->setColumnStretch(1, 1);
    auto *column = new QVBoxLayout(this);
    column->addLayout(grid);
    column->addWidget(m_progress);
    column->addWidget(m_log);

    for (QDateTimeEdit *edit : {m_from, m_to})
        connect(edit, &QDateTimeEdit::dateTimeChanged, this, &ExportDialog::suggestFileName);
    for (QSpinBox *spin : {m_preRoll, m_postRoll})
        connect(spin, &QSpinBox::valueChanged, this, &ExportDialog::suggestFileName);
    connect(m_file, &QLineEdit::textEdited, this, [this] { m_fileChosen = true; });
    connect(m_chooseFile, &QPushButton::clicked, this, &ExportDialog::chooseFile);
}

void ExportDialog::buildButtons()
{
    m_export = button(QStringLiteral("btnExport"), QStringLiteral("Export"), this);
    m_export->setDefault(true);
    m_cancel = button(QStringLiteral("btnCancel"), QStringLiteral("Cancel"), this);
    m_close = button(QStringLiteral("btnClose"), QStringLiteral("Close"), this);
    auto *row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(m_export);
    row->addWidget(m_cancel);
    row->addWidget(m_close);
    static_cast<QVBoxLayout *>(layout())->addLayout(row);
    connect(m_export, &QPushButton::clicked, this, &ExportDialog::startExport);
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        if (m_job)
            m_job->cancel();
    });
    connect(m_close, &QPushButton::clicked, this, &ExportDialog::reject);
}

QDateTime ExportDialog::spanStart() const { return m_from->dateTime().addSecs(-m_preRoll->value()); }
QDateTime ExportDialog::spanEnd() const { return m_to->dateTime().addSecs(m_postRoll->value()); }

void ExportDialog::suggestFileName()
{
    if (m_fileChosen)
        return;
    const QString folder = QFileInfo(m_file->text()).absolutePath();
    m_file->setText(QDir(folder).filePath(exportFileName(spanStart(), spanEnd())));
}

void ExportDialog::chooseFile()
{
    const QString chosen = QFileDialog::getSaveFileName(
        this, m_texts.exportFileTitle, m_file->text(),
        QStringLiteral("Audio (*.wav *.flac *.mp3 *.ogg *.opus *.m4a);;* (*)"));
    if (chosen.isEmpty())
        return;
    m_file->setText(chosen);
    m_fileChosen = true;
}

void ExportDialog::startExport()
{
    m_log->clear();
    m_progress->setValue(0);
    const QString out = QFileInfo(m_file->text().trimmed()).absoluteFilePath();
    m_job = std::make_unique<ledger::ExportJob>(
        m_ledger, ledger::ExportRequest{m_programFolder, spanStart().toMSecsSinceEpoch(), spanEnd().toMSecsSinceEpoch(), out});
    setRunning(true);
    m_poll->start();
}

// Runs on the GUI thread from the timer: what the job has done since the last look.
void ExportDialog::showProgress()
{
    if (!m_job)
        return;
    m_progress->setValue(int(m_job->progress() * kProgressSteps));
    for (const ledger::ExportGap &gap : m_job->takeGaps())
        say(gapText(gap));
    if (!m_job->isDone())
        return;
    m_poll->stop();
    for (const QString &note : m_job->notes())
        say(m_texts.exportLeftOut.arg(note));
    const ledger::ExportResult &result = m_job->result();
    if (result.ok)
        say(m_texts.exportDone.arg(secondsText(double(result.frames) / result.sampleRate), m_file->text()));
    else if (result.cancelled)
        say(m_texts.exportCancelled);
    if (!result.ok)
        m_progress->setValue(0);
    else
        say(m_texts.exportFailed.arg(result.error));
    m_job.reset();
    setRunning(false);
}

void ExportDialog::say(const QString &line) { m_log->appendPlainText(line); }

QString ExportDialog::gapText(const ledger::ExportGap &gap) const
{
    const QString seconds = secondsText((gap.endMs - gap.startMs) / 1000.0);
    if (gap.cause.isEmpty())
        return m_texts.exportGap.arg(timeText(gap.startMs), timeText(gap.endMs), seconds);
    return m_texts.exportShort.arg(timeText(gap.startMs), timeText(gap.endMs), seconds, gap.cause);
}

void ExportDialog::setRunning(bool running)
{
    for (QWidget *w : std::initializer_list<QWidget *>{m_from, m_to, m_preRoll, m_postRoll, m_file, m_chooseFile, m_export})
        w->setEnabled(!running);
    m_cancel->setEnabled(running);
}

void ExportDialog::reject()
{
    if (m_job) {
        m_job->cancel();
        m_job.reset();  // waits for the thread, which stops at its next block
    }
    QDialog::reject();
}

}  // namespace app
