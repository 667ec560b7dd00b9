// Size and duration of an audio file from its headers, cheap enough for once a second on
// the GUI thread and safe on a file an encoder is still writing.
//
// No decoder is ever opened (codec_whitelist "none"), and only the first 32 KiB are read for
// the format; Ogg also reads its last page. The duration comes, in this order, from the
// stream header (MP3 Xing/Info frame, Ogg last granule, WAV data size), from the WAV byte
// rate and the file size when the header says "unknown length", or from FFmpeg's estimate
// by bit rate (an MP3 whose Info frame is still blank while it is being written).
//
// The file is read through a bounded reader: a container whose duration can only be had by
// walking the whole file (a fragmented MP4 lists one fragment a second, each to be read) is
// cut off after kMaxReadBytes and reported as readable with no duration, so the probe never
// costs more as the recording grows. The caller then measures the file some other way.

#include "audio/FileProbe.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
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

// What the header readers of every format we write need (MP3 and Ogg heads and tails, a
// WAV header) stays far below this; a walk through fragments goes past it within a minute.
constexpr int kMaxReadBytes = 1024 * 1024;
constexpr int kReadBufferBytes = 32 * 1024;

struct BoundedFile {
    int fd = -1;
    std::int64_t readBytes = 0;
    bool cutOff = false;  // a read was refused: the demuxer wanted more than the headers
};

int readBounded(void *opaque, std::uint8_t *buffer, int size)
{
    auto *file = static_cast<BoundedFile *>(opaque);
    const std::int64_t left = kMaxReadBytes - file->readBytes;
    if (left <= 0) {
        file->cutOff = true;
        return AVERROR_EOF;
    }
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::int64_t>(size, left));
    ssize_t got;
    do {
        got = ::read(file->fd, buffer, wanted);
    } while (got < 0 && errno == EINTR);
    if (got < 0)
        return AVERROR(errno);
    if (got == 0)
        return AVERROR_EOF;
    file->readBytes += got;
    return static_cast<int>(got);
}

std::int64_t seekBounded(void *opaque, std::int64_t offset, int whence)
{
    auto *file = static_cast<BoundedFile *>(opaque);
    if (whence == AVSEEK_SIZE) {
        struct stat info {};
        return ::fstat(file->fd, &info) == 0 ? static_cast<std::int64_t>(info.st_size)
                                             : AVERROR(errno);
    }
    const off_t at = ::lseek(file->fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : static_cast<std::int64_t>(at);
}

struct FileCloser {
    void operator()(BoundedFile *file) const
    {
        if (file->fd >= 0)
            ::close(file->fd);
        delete file;
    }
};

struct IoFree {
    void operator()(AVIOContext *io) const
    {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
};

// The container read through the bounded reader; format null when it cannot be opened. The
// format is declared last so that it is closed before the reader it reads through.
struct OpenedHeaders {
    std::unique_ptr<AVIOContext, IoFree> io;
    FormatContext format;
};

// Opens the container's headers: a probe of the first 32 KiB, never a decoder.
OpenedHeaders openHeaders(const QByteArray &localPath, BoundedFile &file)
{
    OpenedHeaders opened;
    AVDictionary *rawOptions = nullptr;
    av_dict_set(&rawOptions, "probesize", "32768", 0);
    av_dict_set(&rawOptions, "analyzeduration", "0", 0);
    av_dict_set(&rawOptions, "codec_whitelist", "none", 0);  // headers only, never decode
    av_dict_set(&rawOptions, "protocol_whitelist", "file", 0);
    std::unique_ptr<AVDictionary, DictionaryFree> options(rawOptions);

    auto *buffer = static_cast<unsigned char *>(av_malloc(kReadBufferBytes));
    if (!buffer)
        return opened;
    opened.io.reset(avio_alloc_context(buffer, kReadBufferBytes, 0, &file, readBounded, nullptr,
                                       seekBounded));
    if (!opened.io) {
        av_free(buffer);
        return opened;
    }
    AVFormatContext *raw = avformat_alloc_context();
    if (!raw)
        return opened;
    raw->pb = opened.io.get();
    raw->flags |= AVFMT_FLAG_CUSTOM_IO;
    // The name only hints at the format; the bytes come from the reader above, so a name
    // with a colon is never taken for a protocol.
    rawOptions = options.release();
    const int result = avformat_open_input(&raw, localPath.constData(), nullptr, &rawOptions);
    options.reset(rawOptions);
    if (result >= 0)  // raw is freed on failure
        opened.format.reset(raw);
    return opened;
}

// The duration the headers give: the stream's, a WAV's that is still being written from the
// file size, or FFmpeg's estimate; 0 when none tells.
double headerSeconds(AVFormatContext &format, const AVStream &stream, std::int64_t fileBytes)
{
    double seconds = streamSeconds(stream);
    const bool wav = std::strcmp(format.iformat->name, "wav") == 0;
    if (seconds < 0 && wav && stream.codecpar->bit_rate > 0) {
        // Data size 0xFFFFFFFF: the file is still being written; its size tells the length.
        const std::int64_t dataBytes = fileBytes - kStandardWavHeaderBytes;
        seconds = dataBytes > 0
                      ? static_cast<double>(dataBytes) * 8.0 /
                            static_cast<double>(stream.codecpar->bit_rate)
                      : 0.0;
    }
    if (seconds < 0) {
        if (avformat_find_stream_info(&format, nullptr) >= 0 &&
            format.duration != AV_NOPTS_VALUE && format.duration > 0)
            seconds = static_cast<double>(format.duration) / AV_TIME_BASE;
        else
            seconds = 0;
    }
    return seconds;
}

}  // namespace

FileProbe probeFile(const QString &path)
{
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });

    FileProbe probe;
    const QByteArray local = QFile::encodeName(path);
    if (local.isEmpty())
        return probe;
    std::unique_ptr<BoundedFile, FileCloser> file(new BoundedFile);
    file->fd = ::open(local.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat info {};
    if (file->fd < 0 || ::fstat(file->fd, &info) != 0 || !S_ISREG(info.st_mode))
        return probe;
    OpenedHeaders headers = openHeaders(local, *file);
    if (!headers.format)
        return probe;
    const AVStream *stream = firstAudioStream(*headers.format);
    if (!stream)
        return probe;
    double seconds = headerSeconds(*headers.format, *stream, static_cast<std::int64_t>(info.st_size));
    if (file->cutOff)
        seconds = 0;  // whatever was found covers only the part read
    probe.ok = true;
    probe.fileBytes = static_cast<std::int64_t>(info.st_size);
    probe.durationSeconds = seconds;
    return probe;
}

}  // namespace audio
