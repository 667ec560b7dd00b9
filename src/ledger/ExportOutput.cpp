#include "ledger/ExportOutput.h"

#include "audio/Capture.h"
#include "audio/EncoderFeed.h"
#include "audio/WavHeader.h"
#include "recording/EncoderCommand.h"
#include "settings/CodecPreset.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include <unistd.h>

namespace ledger {

namespace {

// The flac encoder's command when no preset names .flac: the shipped preset's.
const QString kFlacCommand = QStringLiteral("flac --silent --ignore-chunk-sizes -f -o ::s -");
// An encoder is fed at most this far ahead of what it has read: EncoderFeed drops what its
// buffer (8 s) cannot take, and the export runs far faster than real time.
constexpr int kEncoderLeadSeconds = 2;
// After its input ends, an encoder has this long to finish its file.
constexpr auto kEncoderFinishLimit = std::chrono::seconds(60);

QString extensionOf(const QString &path) { return QFileInfo(path).suffix().toLower(); }

// ---- .wav, written here ----

class WavSink final : public ExportSink {
public:
    explicit WavSink(QString outPath) : ExportSink(std::move(outPath)) {}

    bool start(int sampleRate, qint64 totalFrames, QString *error) override
    {
        if (partialPath().isEmpty() && !create(error))
            return false;
        m_file.setFileName(partialPath());
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return failed(error);
        const std::vector<std::uint8_t> header = exportWavHeader(sampleRate, totalFrames);
        return write(reinterpret_cast<const char *>(header.data()), qint64(header.size()), error);
    }

    bool write(const char *data, qint64 bytes, QString *error) override
    {
        return m_file.write(data, bytes) == bytes || failed(error);
    }

    bool finish(QString *error) override
    {
        if (!m_file.flush() || ::fsync(m_file.handle()) != 0)
            return failed(error);
        m_file.close();
        return publish(error);
    }

    void abandon() override
    {
        m_file.close();
        ExportSink::abandon();
    }

private:
    bool failed(QString *error)
    {
        *error = QStringLiteral("cannot write %1: %2").arg(outPath(), m_file.errorString());
        return false;
    }

    QFile m_file;
};

// ---- any other extension, through an encoder ----

class EncoderSink final : public ExportSink {
public:
    EncoderSink(QString outPath, QStringList argv) : ExportSink(std::move(outPath)), m_argv(std::move(argv)) {}
    ~EncoderSink() override { stopEncoder(); }

    bool start(int sampleRate, qint64, QString *error) override
    {
        if (partialPath().isEmpty() && !create(error))
            return false;
        m_leadBytes = std::uint64_t(sampleRate) * audio::kBytesPerFrame * kEncoderLeadSeconds;
        QString why;
        QStringList argv = m_argv;
        for (QString &arg : argv)
            arg.replace(QStringLiteral("::s"), partialPath(), Qt::CaseSensitive);
        m_feed = audio::EncoderFeed::start(argv, sampleRate, &why);
        if (!m_feed)
            *error = QStringLiteral("cannot start the encoder for %1: %2").arg(outPath(), why);
        return m_feed != nullptr;
    }

    bool write(const char *data, qint64 bytes, QString *error) override
    {
        while (m_feed->isAlive() && m_pushed - m_feed->deliveredBytes() > m_leadBytes)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (!m_feed->isAlive())
            return encoderFailed(error);
        m_feed->push(data, std::size_t(bytes));
        m_pushed += std::uint64_t(bytes);
        return true;
    }

    bool finish(QString *error) override
    {
        m_feed->stop();
        const auto limit = std::chrono::steady_clock::now() + kEncoderFinishLimit;
        while (m_feed->isAlive() && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (m_feed->isAlive()) {
            *error = QStringLiteral("the encoder for %1 did not finish within a minute").arg(outPath());
            return false;
        }
        if (m_feed->endDescription() != QLatin1String("exited with status 0") || m_feed->droppedBytes() > 0
            || m_feed->deliveredBytes() != m_pushed)
            return encoderFailed(error);
        m_feed.reset();
        return publish(error);
    }

    void abandon() override
    {
        stopEncoder();
        ExportSink::abandon();
    }

private:
    // The encoder's own last words say most; its way of ending says the rest.
    bool encoderFailed(QString *error)
    {
        const QString said = m_feed->errorTail().trimmed().section(QLatin1Char('\n'), -1);
        QString how = m_feed->isAlive() ? QStringLiteral("stopped reading its input") : m_feed->endDescription();
        if (m_feed->droppedBytes() > 0)
            how = QStringLiteral("lost %1 bytes of its input").arg(m_feed->droppedBytes());
        *error = QStringLiteral("the encoder for %1 %2%3")
                     .arg(outPath(), how, said.isEmpty() ? QString() : QStringLiteral(": ") + said);
        return false;
    }

    // Closes the encoder's input and waits for it, so that it no longer writes the file
    // about to be removed.
    void stopEncoder()
    {
        if (!m_feed)
            return;
        m_feed->stop();
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (m_feed->isAlive() && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        m_feed.reset();
    }

    QStringList m_argv;  // "::s" stands for the file
    std::unique_ptr<audio::EncoderFeed> m_feed;
    std::uint64_t m_pushed = 0;
    std::uint64_t m_leadBytes = 0;
};

// The encoder of the first preset whose extension is `ext` ("::s" left in); for flac
// without one, the shipped command with the flac of the Plugins folder or, failing that,
// of the PATH. Empty when there is none.
QStringList encoderFor(const QString &programFolder, const QString &ext)
{
    const QString keep = QStringLiteral("::s");
    for (const settings::CodecPreset &preset : settings::readPresetFile(settings::presetFilePath(programFolder)))
        if (preset.ext.compare(ext, Qt::CaseInsensitive) == 0 && !preset.command.trimmed().isEmpty())
            return recording::encoderArguments(programFolder, preset.command, keep);
    if (ext != QLatin1String("flac"))
        return {};
    QStringList argv = recording::encoderArguments(programFolder, kFlacCommand, keep);
    if (QFileInfo(argv.first()).isExecutable())
        return argv;
    argv.first() = QStandardPaths::findExecutable(QStringLiteral("flac"));
    return argv.first().isEmpty() ? QStringList() : argv;
}

}  // namespace

ExportSink::~ExportSink()
{
    if (!m_published)
        removePartial();
}

bool ExportSink::create(QString *error)
{
    const QFileInfo out(m_outPath);
    if (out.isDir()) {
        *error = QStringLiteral("%1 is a folder").arg(m_outPath);
        return false;
    }
    QTemporaryFile partial(out.absolutePath() + QStringLiteral("/.%1.XXXXXX.%2").arg(out.completeBaseName(), out.suffix()));
    partial.setAutoRemove(false);
    if (!partial.open()) {
        *error = QStringLiteral("cannot write %1: %2").arg(m_outPath, partial.errorString());
        return false;
    }
    m_partialPath = partial.fileName();
    // The hidden file is made for the owner alone; the export is a file like any other.
    partial.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                           | QFileDevice::ReadOther);
    return true;
}

void ExportSink::abandon() { removePartial(); }

bool ExportSink::publish(QString *error)
{
    // rename(2) replaces a file of that name in one step, as QFile::rename does not.
    if (std::rename(QFile::encodeName(m_partialPath).constData(), QFile::encodeName(m_outPath).constData()) != 0) {
        *error = QStringLiteral("cannot name the export %1: %2").arg(m_outPath, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    m_published = true;
    return true;
}

void ExportSink::removePartial()
{
    if (!m_partialPath.isEmpty() && !m_published)
        QFile::remove(m_partialPath);
}

std::unique_ptr<ExportSink> makeExportSink(const QString &programFolder, const QString &outPath, QString *error)
{
    if (QFileInfo(outPath).isDir()) {
        *error = QStringLiteral("%1 is a folder").arg(outPath);
        return nullptr;
    }
    const QString ext = extensionOf(outPath);
    if (ext == QLatin1String("wav"))
        return std::make_unique<WavSink>(outPath);
    const QStringList argv = ext.isEmpty() ? QStringList() : encoderFor(programFolder, ext);
    if (argv.isEmpty()) {
        *error = ext.isEmpty() ? QStringLiteral("%1 has no extension to choose the format by (.wav, .flac, …)").arg(outPath)
                               : QStringLiteral("no encoder writes .%1 files: export to .wav, .flac or the extension "
                                                "of a codec preset").arg(ext);
        return nullptr;
    }
    return std::make_unique<EncoderSink>(outPath, argv);
}

std::vector<std::uint8_t> exportWavHeader(int sampleRate, qint64 totalFrames)
{
    const auto streaming = wav::streamingWavHeader(sampleRate);
    std::vector<std::uint8_t> header(streaming.begin(), streaming.end());
    const wav::Layout layout = wav::layoutOf(header);
    const auto dataBytes = std::uint64_t(totalFrames) * audio::kBytesPerFrame;
    wav::putLe32(header.data() + 4, wav::riffSize(layout, dataBytes));
    wav::putLe32(header.data() + layout.dataSizeOffset, wav::dataSize(dataBytes));
    return header;
}

}  // namespace ledger
