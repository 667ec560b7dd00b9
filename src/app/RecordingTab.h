#pragma once
// The "Recording" tab: the codec, the Record and Stop buttons, the disk time left, the
// status and the elapsed time, and the schedule list with its commands. It shows the
// recorder's state and forwards commands to it.

#include <QWidget>

class QLabel;
class QPushButton;
class QTreeView;

namespace app {

class Recorder;

class RecordingTab : public QWidget {
    Q_OBJECT
public:
    RecordingTab(Recorder &recorder, QWidget *parent = nullptr);

    // The status line, from the recorder's status.
    void showStatus();
    // The codec's name, from the recorder's settings.
    void showCodec();
    // The elapsed time and the disk time left, once a second.
    void showProgress();

private:
    QWidget *buildScheduleButtons();
    void saveList();
    void loadList();
    void editEntry(bool newEntry);
    void deleteEntry();

    Recorder &m_recorder;
    QLabel *m_codecLabel = nullptr;
    QPushButton *m_recordButton = nullptr;
    QPushButton *m_stopButton = nullptr;
    QLabel *m_remainingLabel = nullptr;
    QLabel *m_statusLabel = nullptr;
    QLabel *m_recordedLabel = nullptr;
    QTreeView *m_scheduleView = nullptr;
};

}  // namespace app
