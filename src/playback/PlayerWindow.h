#pragma once
// The mini player: a small modal window that plays one recording through the engine and
// shows its title, the elapsed time and length, and a seek bar. Opening it starts playback;
// closing it, whichever way, stops playback and frees the stream. It only shows the engine's
// state (polled every 100 ms) and forwards the buttons, the seek bar and Space (pause and
// continue) to it. Main thread only.

#include <QDialog>
#include <QImage>
#include <QString>

class QFrame;
class QLabel;
class QTimer;
class QToolButton;

namespace playback {

class AudioEngine;
class SeekBar;

// The seek bar's pictures in the program folder.
inline QString seekStripFile() { return QStringLiteral("Images/seek-strip.png"); }
inline QString seekKnobFile() { return QStringLiteral("Images/seek-knob.png"); }

struct SeekBarPictures {
    QImage strip;
    QImage knob;
};

// Reads both pictures from `programFolder` (ending in '/'). A missing or unreadable one is
// logged and left null: the bar then works without it.
SeekBarPictures loadSeekBarPictures(const QString &programFolder);

class PlayerWindow : public QDialog {
    Q_OBJECT
public:
    // `engine` must outlive the window.
    PlayerWindow(AudioEngine &engine, const QString &fileName, const SeekBarPictures &pictures,
                 QWidget *parent = nullptr);
    ~PlayerWindow() override;

    // Starts the file from its beginning; the window does this itself when it is shown.
    void play();
    // The 100 ms refresh; public so tests can step it.
    void refresh();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    // The parts of the window, made once by the constructor.
    void makeTitle();
    void makeTimeDisplay();
    void makeSeekBar(const SeekBarPictures &pictures);
    void makeButtons();
    void showEngineFailures();

    void pauseOrResume();
    void toggleByKey();
    // Sets the time display, widened over the title when the text needs it.
    void showTime(const QString &text);
    void seekToBar();

    AudioEngine &m_engine;
    QString m_fileName;
    // While the user holds a button on the seek bar, the bar follows the mouse, not the
    // engine.
    bool m_followEngine = true;
    QFrame *m_titleFrame = nullptr;
    QLabel *m_title = nullptr;
    QLabel *m_time = nullptr;
    SeekBar *m_seekBar = nullptr;
    QToolButton *m_playButton = nullptr;
    QToolButton *m_stopButton = nullptr;
    QToolButton *m_pauseButton = nullptr;
    QTimer *m_refreshTimer = nullptr;
};

}  // namespace playback
