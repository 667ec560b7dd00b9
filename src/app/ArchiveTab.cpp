#include "app/ArchiveTab.h"

#include "app/CoverageView.h"
#include "app/ExportDialog.h"
#include "app/ProgramFolder.h"
#include "app/Recorder.h"
#include "app/ViewParts.h"
#include "archive/Archive.h"
#include "core/ProgramFiles.h"
#include "i18n/LanguageApply.h"
#include "i18n/LanguageFile.h"
#include "playback/AudioEngine.h"
#include "playback/PlayerWindow.h"

#include <QFileInfo>
#include <QHeaderView>
#include <QMenu>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

namespace app {

ArchiveTab::ArchiveTab(Recorder &recorder, QWidget *parent) : QWidget(parent), m_recorder(recorder)
{
    setObjectName(QStringLiteral("TabSheet2"));
    auto *column = new QVBoxLayout(this);
    m_historyView = reportView(QStringLiteral("lvHistory"), this);
    archive::HistoryModel &model = recorder.archive().model();
    m_historyView->setModel(&model);
    const int widths[] = {45, 45, 35, 45, 60};
    for (int i = 0; i < 5; ++i)
        m_historyView->header()->resizeSection(i, widths[i]);
    // The path takes the rest of the width whatever width was stored; where it does not fit,
    // its middle gives way, since paths differ at their ends.
    m_historyView->header()->setSectionResizeMode(archive::ColFile, QHeaderView::Stretch);
    m_historyView->setTextElideMode(Qt::ElideMiddle);
    // Files deleted or moved outside the program turn grey without a look at every file.
    auto *fileCheck = new QTimer(this);
    fileCheck->setInterval(30000);
    connect(fileCheck, &QTimer::timeout, &model, &archive::HistoryModel::refreshFileStates);
    fileCheck->start();
    column->addWidget(m_historyView);
    column->addWidget(new CoverageView(recorder.ledger(), this));
    column->addWidget(coverageLegend(this));

    auto *menu = new QMenu(m_historyView);
    menu->setObjectName(QStringLiteral("pmHsLst"));
    QAction *playAction = menu->addAction(QStringLiteral("Play"));
    playAction->setObjectName(QStringLiteral("Play1"));
    QFont bold = playAction->font();
    bold.setBold(true);
    playAction->setFont(bold);
    menu->setDefaultAction(playAction);
    connect(playAction, &QAction::triggered, this, &ArchiveTab::play);
    QAction *exportAction = menu->addAction(QStringLiteral("Export span..."));
    exportAction->setObjectName(QStringLiteral("ExportSpan1"));
    connect(exportAction, &QAction::triggered, this, &ArchiveTab::openExportDialog);
    menu->addSeparator();
    QAction *remove = menu->addAction(QStringLiteral("Delete"));
    remove->setObjectName(QStringLiteral("Delete1"));
    connect(remove, &QAction::triggered, this, &ArchiveTab::deleteSelected);
    bindDeleteKey(remove, m_historyView);
    connect(m_historyView, &QWidget::customContextMenuRequested, this,
            [this, menu](const QPoint &at) { menu->popup(m_historyView->viewport()->mapToGlobal(at)); });
    connect(m_historyView, &QAbstractItemView::doubleClicked, this, &ArchiveTab::play);

    m_engine = new playback::AudioEngine(recorder.audio(), this);
    m_engine->setVolumeCurveLogarithmic(recorder.systemOptions().volumeCurveLogarithmic);
}

std::array<int, kHistoryColumns> ArchiveTab::columnWidths() const
{
    std::array<int, kHistoryColumns> widths{};
    for (int i = 0; i < kHistoryColumns; ++i)
        widths[size_t(i)] = m_historyView->header()->sectionSize(i);
    return widths;
}

void ArchiveTab::setColumnWidths(const std::array<int, kHistoryColumns> &widths)
{
    for (int i = 0; i < kHistoryColumns; ++i)
        m_historyView->header()->resizeSection(i, widths[size_t(i)]);
}

void ArchiveTab::play()
{
    const int row = selectedRow(m_historyView);
    if (row < 0)
        return;
    const QString path = m_recorder.archive().model().records()[size_t(row)].path;
    m_engine->setDevice(m_recorder.settings().playDev);  // as the settings say now
    playback::PlayerWindow player(*m_engine, path, playback::loadSeekBarPictures(programFolder()), window());
    player.exec();
}

// From and To are the selected recording's span (the last hour without one); the file goes
// beside the recording. The dialog is translated at each opening, as the settings dialog is.
void ArchiveTab::openExportDialog()
{
    const int row = selectedRow(m_historyView);
    QDateTime to = QDateTime::currentDateTime(), from = to.addSecs(-3600);
    QString folder = m_recorder.settings().saveFolder;
    if (row >= 0) {
        const archive::ArchiveRecord &record = m_recorder.archive().model().records()[size_t(row)];
        if (record.start > 0 && record.lengthSeconds >= 0) {
            from = core::fromDayCount(record.start);
            to = from.addSecs(record.lengthSeconds);
        }
        folder = QFileInfo(record.path).absolutePath();
    }
    ExportDialog dialog(m_recorder.ledger(), programFolder(), m_recorder.strings(), from, to, folder, window());
    const core::Ini languageFile =
        i18n::languageFileOf(programPath(core::files::languages()), m_recorder.settings().lang);
    i18n::applyLanguageSection(&dialog, languageFile, i18n::langfile::exportCaptions, i18n::TextKind::Caption);
    i18n::applyLanguageSection(&dialog, languageFile, i18n::langfile::exportHints, i18n::TextKind::Hint);
    dialog.exec();
}

void ArchiveTab::deleteSelected()
{
    const int row = selectedRow(m_historyView);
    if (row >= 0)
        m_recorder.deleteRecord(row);
}

}  // namespace app
