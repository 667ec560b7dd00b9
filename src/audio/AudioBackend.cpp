#include "audio/AudioBackend.h"

#include "audio/DeviceLists.h"
#include "audio/FileDecoder.h"
#include "audio/Logging.h"
#include "audio/PlaybackOutputs.h"
#include "audio/PulseCapture.h"
#include "audio/PulseConnection.h"

#include <algorithm>

namespace audio {

namespace {
constexpr int kConnectTimeoutMs = 3000;
constexpr int kStreamTimeoutMs = 3000;

bool isCaptureRate(int sampleRate, QString *error)
{
    if (sampleRate >= kMinSampleRate && sampleRate <= kMaxSampleRate)
        return true;
    if (error)
        *error = QStringLiteral("sample rate %1 Hz is outside %2…%3 Hz")
                     .arg(sampleRate).arg(kMinSampleRate).arg(kMaxSampleRate);
    return false;
}
}  // namespace

struct AudioBackend::Impl {
    std::shared_ptr<PulseConnection> connection;
    bool initialised = false;  // between init() and release()
    int playDevice = 1;
    int recordDevice = 0;

    // The live connection, made again when the server went away (a restart, a crash) or was
    // not there at init(): an unattended program must not stay deaf until it is restarted.
    // Streams on a dead connection keep it alive until they are released.
    PulseConnection *ready(QString *error = nullptr)
    {
        if (connection && connection->isReady())
            return connection.get();
        if (!initialised) {
            if (error)
                *error = QStringLiteral("no sound server");
            return nullptr;
        }
        if (connection) {
            connection->stopAll();
            connection.reset();
        }
        QString reason;
        connection = PulseConnection::connect(kConnectTimeoutMs, &reason);
        if (!connection && error)
            *error = QStringLiteral("no sound server (%1)").arg(reason);
        return connection.get();
    }
};

AudioBackend::AudioBackend() : d(std::make_unique<Impl>()) {}

AudioBackend::~AudioBackend()
{
    release();
}

bool AudioBackend::init(int playDevice, int recordDevice)
{
    release();
    d->playDevice = playDevice;
    d->recordDevice = recordDevice;
    d->initialised = true;
    QString why;
    if (d->ready(&why))
        return true;
    qCWarning(lcAudio).noquote() << why;
    return false;
}

void AudioBackend::release()
{
    d->initialised = false;
    if (!d->connection)
        return;
    d->connection->stopAll();
    d->connection.reset();  // streams still held elsewhere keep the mainloop alive
}

bool AudioBackend::isConnected() const
{
    return d->connection && d->connection->isReady();
}

QStringList AudioBackend::playbackDevices() const
{
    QStringList devices{QStringLiteral("No sound")};
    if (PulseConnection *c = d->ready()) {
        devices << QStringLiteral("Default");
        devices << sinkDescriptions(*c);
    }
    return devices;
}

QStringList AudioBackend::recordingDevices() const
{
    PulseConnection *c = d->ready();
    if (!c)
        return {};
    QStringList devices{QStringLiteral("Default")};
    for (const SourceEntry &source : listSources(*c))
        devices << source.description;
    return devices;
}

QStringList AudioBackend::recordingInputs() const
{
    return recordingInputs(d->recordDevice);
}

QStringList AudioBackend::recordingInputs(int device) const
{
    PulseConnection *c = d->ready();
    if (!c)
        return {};
    QStringList inputs;
    for (const PortEntry &port : recordingSource(*c, device).ports)
        inputs << port.description;
    return inputs;
}

void AudioBackend::setRecordDevice(int device)
{
    d->recordDevice = device;
}

int AudioBackend::recordDevice() const
{
    return d->recordDevice;
}

bool AudioBackend::selectInput(int index)
{
    PulseConnection *c = d->ready();
    if (!c || index < 0)
        return false;
    const SourceEntry source = recordingSource(*c, d->recordDevice);
    if (static_cast<std::size_t>(index) >= source.ports.size())
        return false;
    return setSourcePort(*c, source.name, source.ports[static_cast<std::size_t>(index)].name);
}

std::unique_ptr<CaptureStream> AudioBackend::startCapture(int sampleRate, BlockCallback onBlock,
                                                          QString *error, CaptureSource *chosen)
{
    if (chosen)
        *chosen = {};
    if (!isCaptureRate(sampleRate, error))
        return nullptr;
    PulseConnection *c = d->ready(error);
    if (!c)
        return nullptr;
    // Device 0 (and -1, "no selection") record from the default source. A chosen device
    // the server does not list is a failure: recording another one unasked would go unseen.
    std::string source;
    if (d->recordDevice >= 1) {
        const std::vector<SourceEntry> sources = listSources(*c);
        if (static_cast<std::size_t>(d->recordDevice) > sources.size()) {
            if (error)
                *error = QStringLiteral("recording device %1 not found").arg(d->recordDevice);
            return nullptr;
        }
        const SourceEntry &entry = sources[static_cast<std::size_t>(d->recordDevice) - 1];
        source = entry.name;
        if (chosen)
            *chosen = {QString::fromStdString(entry.name), entry.description};
    }
    return PulseCapture::start(d->connection, source, sampleRate, std::move(onBlock),
                               kStreamTimeoutMs, error);
}

std::unique_ptr<CaptureStream> AudioBackend::startCaptureFrom(const CaptureSource &source, int sampleRate,
                                                              BlockCallback onBlock, QString *error)
{
    if (!isCaptureRate(sampleRate, error))
        return nullptr;
    PulseConnection *c = d->ready(error);
    if (!c)
        return nullptr;
    const std::string name = source.name.toStdString();
    if (!name.empty()) {
        const std::vector<SourceEntry> sources = listSources(*c);
        const bool listed = std::any_of(sources.begin(), sources.end(),
                                        [&name](const SourceEntry &entry) { return entry.name == name; });
        if (!listed) {
            if (error)
                *error = QStringLiteral("recording device \u201c%1\u201d not found")
                             .arg(source.description.isEmpty() ? source.name : source.description);
            return nullptr;
        }
    }
    return PulseCapture::start(d->connection, name, sampleRate, std::move(onBlock),
                               kStreamTimeoutMs, error);
}

std::unique_ptr<PlaybackStream> AudioBackend::openPlayback(const QString &path, int playDevice,
                                                          PlaybackFailure *failure)
{
    PlaybackFailure ignored;
    PlaybackFailure &result = failure ? *failure : ignored;
    result = {};
    std::unique_ptr<FileDecoder> decoder = FileDecoder::open(path, &result.text);
    if (!decoder) {
        result.cause = PlaybackFailure::Cause::FileUnreadable;
        return nullptr;
    }
    if (playDevice == 0)
        return std::make_unique<SilentPlayback>(std::move(decoder));
    PulseConnection *c = d->ready(&result.text);
    if (!c) {
        result.cause = PlaybackFailure::Cause::NoSoundServer;
        return nullptr;
    }
    std::string sink;  // empty: the server's default sink
    if (playDevice >= 2) {
        const std::vector<std::string> sinks = sinkNames(*c);
        if (static_cast<std::size_t>(playDevice - 2) < sinks.size())
            sink = sinks[static_cast<std::size_t>(playDevice - 2)];
        else
            qCWarning(lcAudio) << "playback device" << playDevice
                               << "is not there any more; playing on the default device";
    }
    return PulsePlayback::open(d->connection, sink, std::move(decoder), &result);
}

}  // namespace audio
