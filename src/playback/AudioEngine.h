#pragma once
// The playback engine: plays one audio file at a time on the playback device and reports its
// length, position and state. The mini player is its only driver.
//
// Positions and lengths are byte counts of the decoded 16-bit stereo output (four bytes a
// frame at the file's own sample rate); the millisecond forms are those byte counts converted
// to seconds, times 1000, truncated toward zero. The position is that of the sample being
// heard, the server's latency taken into account, so what the window shows matches the sound.
//
// Every public function runs on the thread that owns the engine (the GUI thread); decoding
// and feeding the server happen on threads of the audio boundary. State changes from the end
// watch (every 50 ms) are announced with stateChanged() and, once per track, ended().
//
// State table:
//   any               play(readable file)         -> Playing (Paused when startPaused)
//   any               play(unreadable file)       -> Stopped, lastError() set
//   Playing           pause()                     -> Paused
//   Paused or Ended   resume()                    -> Playing (Ended: resumes from the end,
//                                                    so it ends again at once)
//   Ended             pause()                     -> Paused
//   Playing           the stream has drained      -> Ended
//   any               stop()                      -> Stopped
// pause() and resume() without an open stream leave Stopped. Ended keeps the stream open;
// only stop(), play() and the destructor free it.

#include "core/ProgramFiles.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>

namespace audio {
class AudioBackend;
class PlaybackStream;
}  // namespace audio

namespace playback {

class AudioEngine : public QObject {
    Q_OBJECT
public:
    // The numeric codes are those stored and compared elsewhere; keep them.
    enum class State { Stopped = 1001, Playing = 1002, Paused = 1003, Ended = 1004 };
    Q_ENUM(State)

    // Why the last play() plays nothing; its numbers are the engine's error codes.
    enum class Error {
        None = 0,
        FileUnreadable = 1,  // missing, unreadable or no audio in it
        NoSoundServer = 2,   // a real device asked for, no server
        OutputFailed = 3,    // the server refused the stream
        LineInUnavailable = 500,
    };
    Q_ENUM(Error)

    static constexpr int kMinGainDb = -30;
    static constexpr int kMaxGainDb = 30;

    // The amplitude factor of a gain in dB, -30…30 (clamped): 10^(dB / 20), from a table
    // filled once, so the audio threads never convert decibels.
    static double gainFactor(int gainDb);

    // `backend` must outlive the engine; it provides the sound server connection.
    explicit AudioEngine(audio::AudioBackend &backend, QObject *parent = nullptr);
    // Stops at once: nothing more is heard once the destructor returns.
    ~AudioEngine() override;

    // Playback device as numbered by the boundary: 0 = "No sound" (decodes and advances in
    // real time, silently), 1 = the server's default sink, 2… = the server's sinks. A sink
    // that has gone away falls back to the default sink, as does -1 ("no selection"). Takes
    // effect at the next play().
    void setDevice(int playDevice);

    // Stops whatever plays, opens `fileName` and starts it at its beginning, or leaves it
    // paused there. The outcome is in state() and lastError(); nothing is shown to the user.
    // A file named "line.in" (any folder, any case) asks for the line input, which this
    // program does not have: Error::LineInUnavailable, nothing plays.
    void play(const QString &fileName, bool startPaused = false);
    void stop();
    void pause();
    void resume();

    State state() const { return m_state; }
    QString fileName() const { return m_fileName; }
    Error lastError() const { return m_lastError; }

    // Sample rate of the current file (core::limits::kDefaultSampleRate before the first play).
    int sampleRate() const { return m_sampleRate; }
    // Length of the current file; 0 while none is open. lengthBytes() is a multiple of 4.
    std::int64_t lengthBytes() const { return m_lengthBytes; }
    std::int32_t lengthMs() const;

    // The sample being heard; 0 while Stopped or Ended, and for the line input.
    std::int64_t positionBytes() const;
    std::int32_t positionMs() const;
    // Moves to exactly that sample (rounded down to a whole frame) and goes on in the same
    // state; beyond the end plays nothing more and ends. Nothing while no stream is open.
    void setPositionBytes(std::int64_t bytes);
    void setPositionMs(std::int32_t ms);

    // Gain of the gain stage, -30…+30 dB (clamped); takes effect at once.
    void setGainDb(int gainDb);
    // Volume 0…100 on the chosen curve (linear, or logarithmic: 100 = 0 dB, each step down
    // 0.6 dB, 0 = silent); multiplied with the gain into the one factor the gain stage applies.
    void setVolume(int percent);
    void setVolumeCurveLogarithmic(bool logarithmic);

    // The end watch, run every 50 ms by the engine's timer; public so tests can step it.
    void watchEnd();

signals:
    void stateChanged(playback::AudioEngine::State state);
    // Once per track, on the watch tick that finds the stream drained.
    void ended();
    // A failure while playing (the file became unreadable, the server went away): the text
    // says its cause in a few words. State goes to Ended.
    void playbackFailed(const QString &message);
    // A readable file that could not be played (no sound server, the server refused the
    // stream). An unreadable file plays nothing and is not reported. State stays Stopped.
    void playFailed(const QString &message);

private:
    void setState(State state);
    void applyGain();

    audio::AudioBackend &m_backend;
    std::unique_ptr<audio::PlaybackStream> m_stream;
    QTimer m_endWatch;
    int m_device = 1;
    QString m_fileName;
    bool m_isLineIn = false;
    State m_state = State::Stopped;
    Error m_lastError = Error::None;
    int m_sampleRate = core::limits::kDefaultSampleRate;
    std::int64_t m_lengthBytes = 0;
    int m_gainDb = 0;
    int m_volume = 100;
    bool m_volumeLogarithmic = false;
    bool m_notifiedEnd = false;
};

}  // namespace playback
