#include "settings/CodecPreset.h"

#include "settings/Logging.h"

#include "core/ProgramFiles.h"
#include "core/TextLimits.h"

#include <QFile>
#include <QStringDecoder>

namespace settings {

namespace {

constexpr int kNameOffset = 0;
constexpr int kCommandOffset = 1 + kPresetNameBytes;
constexpr int kExtOffset = kCommandOffset + 1 + kPresetCommandBytes;
static_assert(kExtOffset + 1 + kPresetExtBytes == kPresetRecordBytes);

void putField(QByteArray &record, int offset, const QString &text, int maxBytes)
{
    const QByteArray utf8 = core::cutUtf8(text.toUtf8(), maxBytes);
    record[offset] = char(uchar(utf8.size()));
    std::copy(utf8.begin(), utf8.end(), record.begin() + offset + 1);
}

QString getField(const char *data, int offset, int maxBytes)
{
    const int length = qMin(int(uchar(data[offset])), maxBytes);
    const QByteArray bytes(data + offset + 1, length);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

}  // namespace

CodecPreset CodecPreset::make(const QString &name, const QString &command, const QString &ext)
{
    return {core::cutToBytes(name, kPresetNameBytes),
            core::cutToBytes(command, kPresetCommandBytes),
            core::cutToBytes(ext, kPresetExtBytes)};
}

QByteArray encodePreset(const CodecPreset &preset)
{
    QByteArray record(kPresetRecordBytes, '\0');
    putField(record, kNameOffset, preset.name, kPresetNameBytes);
    putField(record, kCommandOffset, preset.command, kPresetCommandBytes);
    putField(record, kExtOffset, preset.ext, kPresetExtBytes);
    return record;
}

CodecPreset decodePreset(const char *data)
{
    return {getField(data, kNameOffset, kPresetNameBytes),
            getField(data, kCommandOffset, kPresetCommandBytes),
            getField(data, kExtOffset, kPresetExtBytes)};
}

QList<CodecPreset> decodePresetFile(const QByteArray &bytes)
{
    const qsizetype count = qMin<qsizetype>(bytes.size() / kPresetRecordBytes, kMaxPresets);
    QList<CodecPreset> presets;
    presets.reserve(count);
    for (qsizetype i = 0; i < count; ++i)
        presets.append(decodePreset(bytes.constData() + i * kPresetRecordBytes));
    return presets;
}

QByteArray encodePresetFile(const QList<CodecPreset> &presets)
{
    QByteArray bytes;
    bytes.reserve(presets.size() * kPresetRecordBytes);
    for (const CodecPreset &preset : presets) bytes += encodePreset(preset);
    return bytes;
}

QString presetFilePath(const QString &programFolder)
{
    return programFolder + core::files::codecPresets();
}

QList<CodecPreset> readPresetFile(const QString &path)
{
    QFile file(path);
    if (!file.exists())
        return {};  // no presets yet: the first save makes the file
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcSettings).noquote() << QStringLiteral("cannot read the codec presets %1: %2").arg(path, file.errorString());
        return {};
    }
    // Never more than the list can hold, whatever the file's size.
    return decodePresetFile(file.read(qint64(kMaxPresets) * kPresetRecordBytes));
}

}  // namespace settings
