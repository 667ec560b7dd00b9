// Size and duration of an audio file from its headers, cheap enough for once a second on
// the GUI thread and safe on a file an encoder is still writing.
//
// No decoder is ever opened (codec_whitelist "none"), and only the first 32 KiB are read for
// the format; Ogg also reads its last page. The duration comes, in this order, from the
// stream header (MP3 Xing/Info frame, Ogg last granule, WAV data size), from the WAV byte
// rate and the file size when the header says "unknown length", or from FFmpeg's estimate
// by bit rate (an MP3 whose Info frame is still blank while it is being written).

#include "audio/AudioBackend.h"

#include <QFile>

#include <cstring>
#include <memory>
#include <mutex>

#include <sys/stat.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

namespace audio {

namespace {

constexpr std::int64_t kStandardWavHeaderBytes = 44;

struct FormatCloser {
    void operator()(AVFormatContext *context) const { avformat_close_input(&context); }
};
using FormatContext = std::unique_ptr<AVFormatContext, FormatCloser>;

struct DictionaryFree {
    void operator()(AVDictionary *dictionary) const { av_dict_free(&dictionary); }
};

const AVStream *firstAudioStream(const AVFormatContext &format)
{
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        if (format.streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            return format.streams[i];
    }
    return nullptr;
}

double streamSeconds(const AVStream &stream)
{
    if (stream.duration == AV_NOPTS_VALUE || stream.duration < 0)
        return -1;
    return static_cast<double>(stream.duration) * av_q2d(stream.time_base);
}

}  // namespace

FileProbe probeFile(const QString &path)
{
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });

    FileProbe probe;
    const QByteArray local = QFile::encodeName(path);
    struct stat info {};
    if (local.isEmpty() || ::stat(local.constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return probe;

    AVDictionary *rawOptions = nullptr;
    av_dict_set(&rawOptions, "probesize", "32768", 0);
    av_dict_set(&rawOptions, "analyzeduration", "0", 0);
    av_dict_set(&rawOptions, "codec_whitelist", "none", 0);  // headers only, never decode
    av_dict_set(&rawOptions, "protocol_whitelist", "file", 0);
    std::unique_ptr<AVDictionary, DictionaryFree> options(rawOptions);

    // The "file:" prefix keeps a name with a colon from being taken for another protocol.
    const QByteArray url = QByteArrayLiteral("file:") + local;
    AVFormatContext *raw = nullptr;
    rawOptions = options.release();
    const int opened = avformat_open_input(&raw, url.constData(), nullptr, &rawOptions);
    options.reset(rawOptions);
    if (opened < 0)
        return probe;
    FormatContext format(raw);

    const AVStream *stream = firstAudioStream(*format);
    if (!stream)
        return probe;

    double seconds = streamSeconds(*stream);
    const bool wav = std::strcmp(format->iformat->name, "wav") == 0;
    if (seconds < 0 && wav && stream->codecpar->bit_rate > 0) {
        // Data size 0xFFFFFFFF: the file is still being written; its size tells the length.
        const std::int64_t dataBytes = info.st_size - kStandardWavHeaderBytes;
        seconds = dataBytes > 0
                      ? static_cast<double>(dataBytes) * 8.0 /
                            static_cast<double>(stream->codecpar->bit_rate)
                      : 0.0;
    }
    if (seconds < 0) {
        if (avformat_find_stream_info(format.get(), nullptr) >= 0 &&
            format->duration != AV_NOPTS_VALUE && format->duration > 0)
            seconds = static_cast<double>(format->duration) / AV_TIME_BASE;
        else
            seconds = 0;
    }

    probe.ok = true;
    probe.fileBytes = static_cast<std::int64_t>(info.st_size);
    probe.durationSeconds = seconds;
    return probe;
}

}  // namespace audio
