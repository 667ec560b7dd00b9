#include "playback/AudioEngine.h"

#include "audio/AudioBackend.h"

#include <QFileInfo>
#include <QLoggingCategory>

#include <algorithm>
#include <array>
#include <cmath>

Q_LOGGING_CATEGORY(lcPlayback, "vantrel.playback")

namespace playback {

namespace {

constexpr int kEndWatchMs = 50;

const std::array<double, 61> &gainTable()
{
    static const std::array<double, 61> table = [] {
        std::array<double, 61> t{};
        for (int i = 0; i <= 60; ++i)
            t[static_cast<std::size_t>(i)] = std::pow(10.0, (i - 30) / 20.0);
        return t;
    }();
    return table;
}

std::int32_t bytesToMs(std::int64_t bytes, int sampleRate)
{
    if (bytes <= 0 || sampleRate <= 0)
        return 0;
    const std::int64_t ms = bytes / audio::kBytesPerFrame * 1000 / sampleRate;
    return static_cast<std::int32_t>(std::min<std::int64_t>(ms, INT32_MAX));
}

// The lastError() of a failure to open a file for playback.
AudioEngine::Error engineError(audio::PlaybackFailure::Cause cause)
{
    using Cause = audio::PlaybackFailure::Cause;
    switch (cause) {
    case Cause::FileUnreadable:
        return AudioEngine::Error::FileUnreadable;
    case Cause::NoSoundServer:
        return AudioEngine::Error::NoSoundServer;
    case Cause::None:  // no stream and no cause: the output failed
    case Cause::OutputRefused:
        break;
    }
    return AudioEngine::Error::OutputFailed;
}

}  // namespace

double AudioEngine::gainFactor(int gainDb)
{
    return gainTable()[static_cast<std::size_t>(std::clamp(gainDb, kMinGainDb, kMaxGainDb) + 30)];
}

AudioEngine::AudioEngine(audio::AudioBackend &backend, QObject *parent)
    : QObject(parent), m_backend(backend)
{
    gainTable();  // filled here, never on an audio thread
    m_endWatch.setInterval(kEndWatchMs);
    connect(&m_endWatch, &QTimer::timeout, this, &AudioEngine::watchEnd);
    m_endWatch.start();
}

AudioEngine::~AudioEngine()
{
    m_endWatch.stop();
    m_stream.reset();  // the stream's destructor silences it at once
}

void AudioEngine::setDevice(int playDevice)
{
    m_device = playDevice;
}

void AudioEngine::play(const QString &fileName, bool startPaused)
{
    stop();
    m_fileName = fileName;
    m_isLineIn = QFileInfo(fileName).fileName().toLower() == QLatin1String("line.in");
    m_lengthBytes = 0;
    m_notifiedEnd = false;
    if (m_isLineIn) {
        m_lastError = Error::LineInUnavailable;
        qCWarning(lcPlayback).noquote() << "cannot play the line input: not available";
        return;
    }
    audio::PlaybackFailure failure;
    m_stream = m_backend.openPlayback(fileName, m_device, &failure);
    if (!m_stream) {
        m_lastError = engineError(failure.cause);
        qCWarning(lcPlayback).noquote() << "cannot play" << fileName << ":" << failure.text;
        if (failure.cause != audio::PlaybackFailure::Cause::FileUnreadable)
            emit playFailed(failure.text);
        return;
    }
    m_sampleRate = m_stream->sampleRate();
    m_lengthBytes = m_stream->lengthBytes();
    applyGain();
    if (!startPaused)
        m_stream->start();
    m_lastError = Error::None;
    setState(startPaused ? State::Paused : State::Playing);
}

void AudioEngine::stop()
{
    m_stream.reset();
    setState(State::Stopped);
}

void AudioEngine::pause()
{
    if (m_stream)
        m_stream->pause();
    setState(m_stream ? State::Paused : State::Stopped);
}

void AudioEngine::resume()
{
    if (m_stream)
        m_stream->start();
    setState(m_stream ? State::Playing : State::Stopped);
}

std::int32_t AudioEngine::lengthMs() const
{
    return bytesToMs(m_lengthBytes, m_sampleRate);
}

std::int64_t AudioEngine::positionBytes() const
{
    if (m_isLineIn || !m_stream || m_state == State::Stopped || m_state == State::Ended)
        return 0;
    return std::max<std::int64_t>(0, m_stream->positionBytes());
}

std::int32_t AudioEngine::positionMs() const
{
    return bytesToMs(positionBytes(), m_sampleRate);
}

void AudioEngine::setPositionBytes(std::int64_t bytes)
{
    if (m_isLineIn || !m_stream)
        return;
    m_stream->seek(std::max<std::int64_t>(0, bytes) / audio::kBytesPerFrame
                   * audio::kBytesPerFrame);
}

void AudioEngine::setPositionMs(std::int32_t ms)
{
    setPositionBytes(static_cast<std::int64_t>(std::max(ms, 0)) * m_sampleRate / 1000
                     * audio::kBytesPerFrame);
}

void AudioEngine::setGainDb(int gainDb)
{
    m_gainDb = std::clamp(gainDb, kMinGainDb, kMaxGainDb);
    applyGain();
}

void AudioEngine::setVolume(int percent)
{
    m_volume = std::clamp(percent, 0, 100);
    applyGain();
}

void AudioEngine::setVolumeCurveLogarithmic(bool logarithmic)
{
    m_volumeLogarithmic = logarithmic;
    applyGain();
}

void AudioEngine::applyGain()
{
    if (!m_stream)
        return;
    double volume = m_volume / 100.0;
    if (m_volumeLogarithmic)
        volume = m_volume == 0 ? 0.0 : std::pow(10.0, (m_volume - 100) * 0.6 / 20.0);
    m_stream->setGainFactor(static_cast<float>(gainFactor(m_gainDb) * volume));
}

void AudioEngine::watchEnd()
{
    if (m_state != State::Playing || !m_stream)
        return;
    // The end is the drain completing, not the position reaching the container's length:
    // that length is an estimate for some formats, and stopping at it would cut the tail.
    if (!m_stream->hasEnded())
        return;
    const QString failure = m_stream->failure();
    setState(State::Ended);
    if (!failure.isEmpty()) {
        qCWarning(lcPlayback).noquote() << "playback of" << m_fileName << "failed:" << failure;
        emit playbackFailed(failure);
    }
    if (!m_notifiedEnd) {
        m_notifiedEnd = true;
        emit ended();
    }
}

void AudioEngine::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged(state);
}

}  // namespace playback
