#include "audio/FileDecoder.h"

#include "audio/Capture.h"
#include "audio/Logging.h"
#include "core/ThreadName.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libswresample/swresample.h>
}

namespace audio {

namespace {

constexpr int kBufferSeconds = 2;
// Decoding starts this far before a seek target: lossy frames lean on the ones before them
// (the MP3 bit reservoir, overlapping transforms), so the first frames after a key point
// are not yet the true signal. What precedes the target is dropped.
constexpr std::int64_t kSeekPrerollMs = 200;

QString ffmpegError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

// How much of a file's end the length scan reads first.
constexpr std::int64_t kTailScanBytes = 256 * 1024;

struct FormatCloser {
    void operator()(AVFormatContext *format) const { avformat_close_input(&format); }
};
struct PacketFree {
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};

// The end of the stream's last packet, in its time base, reading from where `format` stands;
// AV_NOPTS_VALUE when no packet carries a time stamp.
std::int64_t lastPacketEnd(AVFormatContext &format, int streamIndex)
{
    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    std::int64_t end = AV_NOPTS_VALUE;
    while (packet && av_read_frame(&format, packet.get()) >= 0) {
        const std::int64_t stamp = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (packet->stream_index == streamIndex && stamp != AV_NOPTS_VALUE)
            end = std::max(end, stamp + std::max<std::int64_t>(packet->duration, 0));
        av_packet_unref(packet.get());
    }
    return end;
}

// The length in frames of a file whose header gives none: a FLAC whose encoder never came
// back to write its total (a crash, or written to a pipe), a stream cut off. Found from the
// time stamps of the last packets, which the demuxer reads without decoding: first in the
// file's last 256 KB, where FLAC frames, Ogg pages and most containers carry them, and from
// the start when those carry none. On a context of its own, so that the decoder's stays at
// the start. 0 when nothing tells.
std::int64_t scanLengthFrames(const QString &path, int sampleRate)
{
    AVFormatContext *opened = nullptr;
    if (avformat_open_input(&opened, path.toUtf8().constData(), nullptr, nullptr) < 0)
        return 0;
    std::unique_ptr<AVFormatContext, FormatCloser> format(opened);
    if (avformat_find_stream_info(format.get(), nullptr) < 0)
        return 0;
    const int streamIndex = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (streamIndex < 0)
        return 0;
    const AVStream *stream = format->streams[streamIndex];
    std::int64_t end = AV_NOPTS_VALUE;
    const std::int64_t size = format->pb ? avio_size(format->pb) : -1;
    if (size > kTailScanBytes
        && av_seek_frame(format.get(), -1, size - kTailScanBytes, AVSEEK_FLAG_BYTE) >= 0)
        end = lastPacketEnd(*format, streamIndex);
    if (end == AV_NOPTS_VALUE && av_seek_frame(format.get(), -1, 0, AVSEEK_FLAG_BYTE) >= 0)
        end = lastPacketEnd(*format, streamIndex);
    if (end == AV_NOPTS_VALUE)
        return 0;
    const std::int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
    return std::max<std::int64_t>(0, av_rescale_q(end - start, stream->time_base, AVRational{1, sampleRate}));
}

}  // namespace

struct FileDecoder::Impl {
    AVFormatContext *format = nullptr;
    AVCodecContext *codec = nullptr;
    SwrContext *resampler = nullptr;
    int streamIndex = -1;
    AVRational timeBase{1, 1};
    std::int64_t startPts = 0;

    ~Impl()
    {
        swr_free(&resampler);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
    }
};

FileDecoder::FileDecoder() : d(std::make_unique<Impl>()) {}

FileDecoder::~FileDecoder()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

std::unique_ptr<FileDecoder> FileDecoder::open(const QString &path, QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return nullptr;
    };
    // FFmpeg's notices about timestamps of trimmed padding are no fault of the file.
    if (av_log_get_level() > AV_LOG_ERROR)
        av_log_set_level(AV_LOG_ERROR);
    std::unique_ptr<FileDecoder> decoder(new FileDecoder);
    Impl &d = *decoder->d;
    int rc = avformat_open_input(&d.format, path.toUtf8().constData(), nullptr, nullptr);
    if (rc < 0)
        return fail(QStringLiteral("cannot open the file (%1)").arg(ffmpegError(rc)));
    rc = avformat_find_stream_info(d.format, nullptr);
    if (rc < 0)
        return fail(QStringLiteral("cannot read the file (%1)").arg(ffmpegError(rc)));
    const AVCodec *codec = nullptr;
    d.streamIndex = av_find_best_stream(d.format, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (d.streamIndex < 0 || !codec)
        return fail(QStringLiteral("no audio the player can decode in the file"));
    AVStream *stream = d.format->streams[d.streamIndex];
    d.codec = avcodec_alloc_context3(codec);
    if (!d.codec || avcodec_parameters_to_context(d.codec, stream->codecpar) < 0 ||
        avcodec_open2(d.codec, codec, nullptr) < 0)
        return fail(QStringLiteral("cannot open the decoder for the file"));
    if (d.codec->sample_rate <= 0 || d.codec->ch_layout.nb_channels <= 0)
        return fail(QStringLiteral("the file gives no sample rate or channels"));
    decoder->m_sampleRate = d.codec->sample_rate;
    d.timeBase = stream->time_base;
    d.startPts = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;

    AVChannelLayout input;
    if (d.codec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&input, d.codec->ch_layout.nb_channels);
    else
        av_channel_layout_copy(&input, &d.codec->ch_layout);
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    rc = swr_alloc_set_opts2(&d.resampler, &stereo, AV_SAMPLE_FMT_S16, decoder->m_sampleRate,
                             &input, d.codec->sample_fmt, decoder->m_sampleRate, 0, nullptr);
    av_channel_layout_uninit(&input);
    if (rc < 0 || swr_init(d.resampler) < 0)
        return fail(QStringLiteral("cannot convert the file's samples"));

    std::int64_t frames = 0;
    const AVRational perFrame{1, decoder->m_sampleRate};
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        frames = av_rescale_q(stream->duration, stream->time_base, perFrame);
    else if (d.format->duration != AV_NOPTS_VALUE && d.format->duration > 0)
        frames = av_rescale_q(d.format->duration, AVRational{1, AV_TIME_BASE}, perFrame);
    else
        frames = scanLengthFrames(path, decoder->m_sampleRate);
    decoder->m_lengthBytes = frames * kBytesPerFrame;
    decoder->m_buffer.resize(static_cast<std::size_t>(decoder->m_sampleRate) * kBytesPerFrame *
                             kBufferSeconds);
    return decoder;
}

void FileDecoder::start()
{
    m_thread = std::thread([this] {
        core::nameThisThread("vt-decoder");
        run();
    });
}

std::size_t FileDecoder::take(char *dst, std::size_t bytes)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const std::size_t wanted = bytes / kBytesPerFrame * kBytesPerFrame;
    const std::size_t n = std::min(wanted, m_filled);
    const std::size_t capacity = m_buffer.size();
    const std::size_t first = std::min(n, capacity - m_readAt);
    std::memcpy(dst, m_buffer.data() + m_readAt, first);
    std::memcpy(dst + first, m_buffer.data(), n - first);
    m_readAt = (m_readAt + n) % capacity;
    m_filled -= n;
    if (n < wanted && !m_decodedAll)
        m_starved = true;
    lock.unlock();
    if (n > 0)
        m_wake.notify_all();
    return n;
}

bool FileDecoder::finished() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_decodedAll && m_filled == 0 && m_seekTarget < 0;
}

QString FileDecoder::failure() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_failure;
}

void FileDecoder::seek(std::int64_t bytes)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_generation;
        m_seekTarget = std::max<std::int64_t>(0, bytes) / kBytesPerFrame;
        m_readAt = 0;
        m_filled = 0;
        m_decodedAll = false;
        m_failure.clear();
    }
    m_wake.notify_all();
}

void FileDecoder::run()
{
    Impl &impl = *d;
    AVPacket *packet = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    std::vector<std::uint8_t> converted;
    const AVRational perFrame{1, m_sampleRate};
    std::int64_t nextFrame = 0;   // output frame number of the next converted sample
    std::int64_t dropBefore = 0;  // output frames before this one are not delivered
    bool frameNumberUnknown = false;  // after a seek: taken from the next frame's time stamp
    bool flushed = false;             // the decoder was told the file has ended
    std::uint64_t generation = 0;

    // Adds bytes unless a seek made them stale; waits while the buffer is full.
    auto deliver = [&](const char *data, std::size_t bytes) {
        while (bytes > 0) {
            bool wakeConsumer = false;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_wake.wait(lock, [&] {
                    return m_quit || m_generation != generation || m_filled < m_buffer.size();
                });
                if (m_quit || m_generation != generation)
                    return;
                const std::size_t capacity = m_buffer.size();
                const std::size_t writeAt = (m_readAt + m_filled) % capacity;
                const std::size_t n = std::min({bytes, capacity - m_filled, capacity - writeAt});
                std::memcpy(m_buffer.data() + writeAt, data, n);
                m_filled += n;
                data += n;
                bytes -= n;
                wakeConsumer = m_starved;
                m_starved = false;
            }
            if (wakeConsumer && m_onData)
                m_onData();
        }
    };

    auto convertAndDeliver = [&] {
        if (frameNumberUnknown) {
            const std::int64_t pts = frame->best_effort_timestamp != AV_NOPTS_VALUE
                                         ? frame->best_effort_timestamp : frame->pts;
            nextFrame = pts != AV_NOPTS_VALUE ? av_rescale_q(pts - impl.startPts, impl.timeBase, perFrame)
                                              : dropBefore;
            frameNumberUnknown = false;
        }
        const int capacityFrames = swr_get_out_samples(impl.resampler, frame->nb_samples);
        converted.resize(static_cast<std::size_t>(std::max(capacityFrames, 0)) * kBytesPerFrame);
        std::uint8_t *out = converted.data();
        const int got = swr_convert(impl.resampler, &out, capacityFrames,
                                    const_cast<const std::uint8_t **>(frame->extended_data),
                                    frame->nb_samples);
        if (got <= 0)
            return;
        const std::int64_t first = nextFrame;
        nextFrame += got;
        if (nextFrame <= dropBefore)
            return;
        const std::int64_t skip = std::max<std::int64_t>(0, dropBefore - first);
        deliver(reinterpret_cast<const char *>(converted.data()) + skip * kBytesPerFrame,
                static_cast<std::size_t>(got - skip) * kBytesPerFrame);
    };

    auto receiveFrames = [&] {
        while (avcodec_receive_frame(impl.codec, frame) == 0) {
            convertAndDeliver();
            av_frame_unref(frame);
        }
    };

    for (;;) {
        std::int64_t seekTarget = -1;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [&] { return m_quit || m_seekTarget >= 0 || !m_decodedAll; });
            if (m_quit)
                break;
            if (m_seekTarget >= 0) {
                seekTarget = m_seekTarget;
                m_seekTarget = -1;
            }
            generation = m_generation;
        }
        if (seekTarget >= 0) {
            const std::int64_t from = std::max<std::int64_t>(
                0, seekTarget - kSeekPrerollMs * m_sampleRate / 1000);
            const std::int64_t ts = av_rescale_q(from, perFrame, impl.timeBase) + impl.startPts;
            int rc = av_seek_frame(impl.format, impl.streamIndex, ts, AVSEEK_FLAG_BACKWARD);
            if (rc < 0)
                rc = avformat_seek_file(impl.format, impl.streamIndex, INT64_MIN, ts, ts, 0);
            if (rc < 0) {
                // No seeking in this file: decode from its start and drop up to the target.
                qCWarning(lcAudio).noquote() << "seek failed, decoding from the start:"
                                             << ffmpegError(rc);
                av_seek_frame(impl.format, impl.streamIndex, impl.startPts, AVSEEK_FLAG_BACKWARD);
                frameNumberUnknown = false;
                nextFrame = 0;
            } else {
                frameNumberUnknown = true;
            }
            avcodec_flush_buffers(impl.codec);
            dropBefore = seekTarget;
            flushed = false;
            continue;
        }
        if (flushed)
            continue;
        const int rc = av_read_frame(impl.format, packet);
        if (rc == AVERROR(EAGAIN))
            continue;
        if (rc < 0) {
            avcodec_send_packet(impl.codec, nullptr);
            receiveFrames();
            avcodec_flush_buffers(impl.codec);
            flushed = true;
            bool wakeConsumer = false;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (m_generation == generation) {
                    m_decodedAll = true;
                    if (rc != AVERROR_EOF) {
                        m_failure =
                            QStringLiteral("cannot read the file (%1)").arg(ffmpegError(rc));
                        qCWarning(lcAudio).noquote() << m_failure;
                    }
                    // A consumer waiting for more learns there is none, so it can drain.
                    wakeConsumer = m_starved;
                    m_starved = false;
                }
            }
            m_wake.notify_all();
            if (wakeConsumer && m_onData)
                m_onData();
            continue;
        }
        if (packet->stream_index == impl.streamIndex && avcodec_send_packet(impl.codec, packet) == 0)
            receiveFrames();
        av_packet_unref(packet);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
}

}  // namespace audio
