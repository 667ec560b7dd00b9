#pragma once
// Where an export goes: the file OUT, in the format its extension names. A .wav is written
// here (16-bit stereo PCM; sizes past 4 GB stay at their 32-bit maximum, as players expect);
// any other extension goes through the encoder of the first codec preset with that extension
// (.mp3 through lame, …), and .flac through the flac encoder even without a preset.
//
// Nothing half-made is left behind: the frames go to a hidden file beside OUT
// (".<name>.XXXXXX.<ext>", the extension kept for encoders that choose their format by it),
// which finish() renames to OUT, replacing a file of that name; abandon() and the
// destructor remove it unless finish() succeeded.
//
// One thread at a time; the encoder's own threads are EncoderFeed's business.

#include <QString>
#include <QtGlobal>

#include <cstdint>
#include <memory>
#include <vector>

namespace ledger {

class ExportSink {
public:
    virtual ~ExportSink();  // removes the hidden file unless finish() succeeded

    const QString &outPath() const { return m_outPath; }

    // Makes the hidden file beside OUT: the check that OUT can be written, before any
    // decoding. start() does it when it was not done.
    [[nodiscard]] bool create(QString *error);
    // Begins the file (the header, or the encoder) for frames at sampleRate.
    [[nodiscard]] virtual bool start(int sampleRate, qint64 totalFrames, QString *error) = 0;
    // Whole 16-bit stereo frames.
    [[nodiscard]] virtual bool write(const char *data, qint64 bytes, QString *error) = 0;
    // Completes the file and gives it its name.
    [[nodiscard]] virtual bool finish(QString *error) = 0;
    // Stops and removes what was written.
    virtual void abandon();

protected:
    explicit ExportSink(QString outPath) : m_outPath(std::move(outPath)) {}
    const QString &partialPath() const { return m_partialPath; }
    // Renames the hidden file to OUT.
    [[nodiscard]] bool publish(QString *error);
    void removePartial();

private:
    QString m_outPath;
    QString m_partialPath;
    bool m_published = false;

public:
    ExportSink(const ExportSink &) = delete;
    ExportSink &operator=(const ExportSink &) = delete;
};

// The header of a 16-bit stereo WAV file of totalFrames frames at sampleRate.
std::vector<std::uint8_t> exportWavHeader(int sampleRate, qint64 totalFrames);

// The sink for OUT's extension (case does not matter); null and *error for an extension
// that neither this module nor a preset of programFolder (ending in '/') can write.
std::unique_ptr<ExportSink> makeExportSink(const QString &programFolder, const QString &outPath, QString *error);

}  // namespace ledger
