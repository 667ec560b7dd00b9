#pragma once
// The sound boundary of Vantrel: the only module that knows PulseAudio and FFmpeg. Its parts
// have headers of their own: Capture.h (what a recording takes from a server), Playback.h,
// EncoderFeed.h (encoder processes) and FileProbe.h; this one is the PulseAudio backend.
//
// Threads
// - The main (GUI) thread calls everything declared here unless a comment says otherwise.
// - AudioBackend runs one pa_threaded_mainloop. Capture stream callbacks run on
//   that mainloop thread. A capture callback only copies the block into preallocated memory
//   (the encoder feed's ring buffer, a history of recent blocks) and bumps atomic counters: no
//   allocation, no pipe or file I/O, no blocking lock. The main thread takes turns with it
//   through CaptureStream::runBetweenBlocks().
// - Each EncoderFeed owns a writer thread that moves bytes from its ring buffer into the
//   encoder's standard input, so a slow encoder never blocks capture. After stop() the writer
//   drains what is left, closes the pipe and reaps the child (no zombie).
// - Nothing here touches widgets; the GUI reads state (levels, counters, flags) from timers.
//
// Device numbering (settings keys PlayDev, RecDev, RecSrc use these numbers):
// - playback: 0 = "No sound" (decodes in real time, nothing heard), 1 (and -1, "no
//   selection") = "Default", 2… = sinks
// - recording: 0 (and -1, "no selection") = "Default", 1… = sources in server order
//   (monitors included); a number the server does not list records nothing
// - inputs: the ports of the chosen recording device in server order
// Without a reachable server the playback list is just "No sound" and the others are empty.

#include "audio/Capture.h"
#include "audio/Playback.h"

#include <QString>
#include <QStringList>

#include <memory>

namespace audio {

class AudioBackend : public CaptureBackend {
public:
    using BlockCallback = audio::BlockCallback;
    using CaptureSource = audio::CaptureSource;

    AudioBackend();
    ~AudioBackend() override;  // releases everything still open
    AudioBackend(const AudioBackend &) = delete;
    AudioBackend &operator=(const AudioBackend &) = delete;

    // Connects to the sound server (PULSE_SERVER or the session default) and remembers the
    // chosen devices. Never shows anything; false when no server is reachable. Until
    // release(), the device lists and startCapture() connect again when the server has gone
    // away since (or was not there at first).
    bool init(int playDevice, int recordDevice);
    void release();
    bool isConnected() const override;

    QStringList playbackDevices() const;
    QStringList recordingDevices() const;
    QStringList recordingInputs() const;  // of the current recording device
    QStringList recordingInputs(int device) const;  // of recording device number `device`
    bool selectInput(int index);           // makes that port of the current device active

    // The recording device that the next startCapture() and selectInput() use.
    void setRecordDevice(int device);
    int recordDevice() const override;

    // Capture (see CaptureBackend) on the PulseAudio server; blocks of ~40 ms arrive on the
    // mainloop thread.
    std::unique_ptr<CaptureStream> startCapture(int sampleRate, BlockCallback onBlock,
                                                QString *error = nullptr,
                                                CaptureSource *source = nullptr) override;
    std::unique_ptr<CaptureStream> startCaptureFrom(const CaptureSource &source, int sampleRate,
                                                    BlockCallback onBlock,
                                                    QString *error = nullptr) override;

    // Opens `path` for playback on playback device `playDevice` (0 = "No sound", 1 = the
    // default sink, 2… = sinks; a sink the server no longer lists falls back to the default,
    // and so does -1, "no selection", which older settings dialogs stored for such a sink).
    // The stream starts paused at byte 0. Null (and *failure) when the file cannot be
    // decoded, no server is reachable or the server refuses the stream.
    std::unique_ptr<PlaybackStream> openPlayback(const QString &path, int playDevice,
                                                 PlaybackFailure *failure = nullptr);

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};

}  // namespace audio
