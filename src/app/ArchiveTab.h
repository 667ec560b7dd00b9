#pragma once
// The "Archive" tab: the list of finished recordings, with Play, Export span and Delete, and
// the coverage of the last 30 days under it.

#include "app/SettingsFile.h"

#include <QWidget>

#include <array>

class QTreeView;

namespace playback {
class AudioEngine;
}

namespace app {

class Recorder;

class ArchiveTab : public QWidget {
    Q_OBJECT
public:
    ArchiveTab(Recorder &recorder, QWidget *parent = nullptr);

    std::array<int, kHistoryColumns> columnWidths() const;
    void setColumnWidths(const std::array<int, kHistoryColumns> &widths);

private:
    void play();
    void openExportDialog();
    void deleteSelected();

    Recorder &m_recorder;
    QTreeView *m_historyView = nullptr;
    // The program's one playback engine, on the playback device of the settings read at start.
    playback::AudioEngine *m_engine = nullptr;
};

}  // namespace app
