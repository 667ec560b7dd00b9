#include "audio/FileDecoder.h"

#include "audio/Capture.h"
#include "audio/Logging.h"
#include "core/ThreadName.h"

#include <algorithm>
#include <chrono>
#include <vector>

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
// The longest the decoder sleeps without looking at the consumer's state: the bound on a
// wake-up lost to a busy lock (see FileDecoder.h).
constexpr std::chrono::milliseconds kWakeCheck{20};
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
struct FrameFree {
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
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

// The file's length in frames: the stream's duration, the container's, or a scan of the
// time stamps at its end.
std::int64_t lengthFrames(const AVFormatContext &format, const AVStream &stream,
                          const QString &path, int sampleRate)
{
    const AVRational perFrame{1, sampleRate};
    if (stream.duration != AV_NOPTS_VALUE && stream.duration > 0)
        return av_rescale_q(stream.duration, stream.time_base, perFrame);
    if (format.duration != AV_NOPTS_VALUE && format.duration > 0)
        return av_rescale_q(format.duration, AVRational{1, AV_TIME_BASE}, perFrame);
    return scanLengthFrames(path, sampleRate);
}

}  // namespace

// The FFmpeg side: contexts set up by open(), then the decoder thread's alone.
struct FileDecoder::Impl {
    explicit Impl(FileDecoder &owner) : decoder(owner) {}
    ~Impl()
    {
        swr_free(&resampler);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
    }

    QString openCodec(const QString &path);
    QString openResampler();

    void run();
    void restartAt(std::int64_t targetFrame);
    void decodeNextPacket();
    void finishDecoding(int readResult);
    void receiveFrames();
    void convertAndDeliver();
    void deliver(const char *data, std::size_t bytes);

    FileDecoder &decoder;
    AVFormatContext *format = nullptr;
    AVCodecContext *codec = nullptr;
    SwrContext *resampler = nullptr;
    int streamIndex = -1;
    AVRational timeBase{1, 1};
    std::int64_t startPts = 0;

    std::unique_ptr<AVPacket, PacketFree> packet;
    std::unique_ptr<AVFrame, FrameFree> frame;
    std::vector<std::uint8_t> converted;
    std::uint64_t generation = 0;     // the one being decoded
    std::int64_t nextFrame = 0;       // output frame number of the next converted sample
    std::int64_t dropBefore = 0;      // output frames before this one are not delivered
    bool frameNumberUnknown = false;  // after a seek: taken from the next frame's time stamp
    bool reachedEnd = false;          // the codec was told the file has ended
};

FileDecoder::FileDecoder() : d(std::make_unique<Impl>(*this)) {}

FileDecoder::~FileDecoder()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit.store(true);
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

// Opens the container and the codec of its best audio stream; the failure, or empty.
QString FileDecoder::Impl::openCodec(const QString &path)
{
    int rc = avformat_open_input(&format, path.toUtf8().constData(), nullptr, nullptr);
    if (rc < 0)
        return QStringLiteral("cannot open the file (%1)").arg(ffmpegError(rc));
    rc = avformat_find_stream_info(format, nullptr);
    if (rc < 0)
        return QStringLiteral("cannot read the file (%1)").arg(ffmpegError(rc));
    const AVCodec *found = nullptr;
    streamIndex = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, &found, 0);
    if (streamIndex < 0 || !found)
        return QStringLiteral("no audio the player can decode in the file");
    const AVStream *stream = format->streams[streamIndex];
    codec = avcodec_alloc_context3(found);
    if (!codec || avcodec_parameters_to_context(codec, stream->codecpar) < 0 ||
        avcodec_open2(codec, found, nullptr) < 0)
        return QStringLiteral("cannot open the decoder for the file");
    if (codec->sample_rate <= 0 || codec->ch_layout.nb_channels <= 0)
        return QStringLiteral("the file gives no sample rate or channels");
    timeBase = stream->time_base;
    startPts = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
    return {};
}

// Sets up the conversion to 16-bit stereo at the codec's rate; the failure, or empty.
QString FileDecoder::Impl::openResampler()
{
    AVChannelLayout input;
    if (codec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&input, codec->ch_layout.nb_channels);
    else
        av_channel_layout_copy(&input, &codec->ch_layout);
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    const int rc = swr_alloc_set_opts2(&resampler, &stereo, AV_SAMPLE_FMT_S16, codec->sample_rate,
                                       &input, codec->sample_fmt, codec->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&input);
    if (rc < 0 || swr_init(resampler) < 0)
        return QStringLiteral("cannot convert the file's samples");
    return {};
}

std::unique_ptr<FileDecoder> FileDecoder::open(const QString &path, QString *error)
{
    // FFmpeg's notices about timestamps of trimmed padding are no fault of the file.
    if (av_log_get_level() > AV_LOG_ERROR)
        av_log_set_level(AV_LOG_ERROR);
    std::unique_ptr<FileDecoder> decoder(new FileDecoder);
    Impl &d = *decoder->d;
    QString failure = d.openCodec(path);
    if (failure.isEmpty())
        failure = d.openResampler();
    if (!failure.isEmpty()) {
        if (error)
            *error = failure;
        return nullptr;
    }
    decoder->m_sampleRate = d.codec->sample_rate;
    decoder->m_lengthBytes =
        lengthFrames(*d.format, *d.format->streams[d.streamIndex], path, decoder->m_sampleRate) *
        kBytesPerFrame;
    decoder->m_ring = std::make_unique<RingBuffer>(static_cast<std::size_t>(decoder->m_sampleRate) *
                                                   kBytesPerFrame * kBufferSeconds);
    return decoder;
}

void FileDecoder::start()
{
    m_thread = std::thread([this] {
        core::nameThisThread("vt-decoder");
        d->run();
    });
}

// ---- Consumer side: never locks, never waits ----

std::size_t FileDecoder::take(char *dst, std::size_t bytes)
{
    const std::size_t wanted = bytes / kBytesPerFrame * kBytesPerFrame;
    bool freedRoom = false;
    std::size_t n = takeFromAskedGeneration(dst, wanted, &freedRoom);
    if (n < wanted && !askedGenerationEnded()) {
        m_starved.store(true, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_seq_cst);
        // The decoder may have added bytes since the first look without seeing the flag.
        n += takeFromAskedGeneration(dst + n, wanted - n, &freedRoom);
    }
    if (freedRoom)
        wakeDecoder();
    return n;
}

std::size_t FileDecoder::takeFromAskedGeneration(char *dst, std::size_t bytes, bool *freedRoom)
{
    if (m_startedGeneration.load(std::memory_order_acquire) !=
        m_askedGeneration.load(std::memory_order_relaxed))
        return 0;
    // Bytes before the generation's start were decoded for an earlier position.
    const std::uint64_t start = m_generationStart.load(std::memory_order_relaxed);
    const std::uint64_t consumed = m_ring->consumedBytes();
    if (consumed < start) {
        m_ring->consume(static_cast<std::size_t>(start - consumed));
        *freedRoom = true;
    }
    const std::size_t n = m_ring->read(dst, bytes);
    if (n > 0)
        *freedRoom = true;
    return n;
}

bool FileDecoder::askedGenerationEnded() const
{
    return m_endedGeneration.load(std::memory_order_acquire) ==
           m_askedGeneration.load(std::memory_order_relaxed);
}

bool FileDecoder::finished() const
{
    if (!askedGenerationEnded())
        return false;
    // Ended implies started: the generation's bytes are those from its start to the last written.
    const std::uint64_t start = m_generationStart.load(std::memory_order_relaxed);
    return m_ring->producedBytes() <= std::max(m_ring->consumedBytes(), start);
}

QString FileDecoder::failure() const
{
    return askedGenerationEnded() ? m_failure : QString();
}

void FileDecoder::seek(std::int64_t bytes)
{
    // All that is queued before the new generation is asked was decoded for the old position.
    const std::size_t stale = m_ring->readable();
    m_seekFrame.store(std::max<std::int64_t>(0, bytes) / kBytesPerFrame, std::memory_order_relaxed);
    m_askedGeneration.store(m_askedGeneration.load(std::memory_order_relaxed) + 1,
                            std::memory_order_release);
    m_ring->consume(stale);
    wakeDecoder();
}

void FileDecoder::wakeDecoder()
{
    // The decoder holds the lock only to look at the state and to start waiting: a failed
    // try-lock means it is about to look anyway, or its timeout stands in for this wake-up.
    if (!m_mutex.try_lock())
        return;
    m_mutex.unlock();
    m_wake.notify_one();
}

// ---- Decoder thread ----

bool FileDecoder::waitForRoom(std::uint64_t generation)
{
    auto moot = [&] {
        return m_quit.load() || m_askedGeneration.load(std::memory_order_acquire) != generation;
    };
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!moot() && m_ring->writable() == 0)
        m_wake.wait_for(lock, kWakeCheck);
    return !moot();
}

void FileDecoder::waitForCommand(std::uint64_t generation)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_quit.load() && m_askedGeneration.load(std::memory_order_acquire) == generation)
        m_wake.wait_for(lock, kWakeCheck);
}

void FileDecoder::publishStart(std::uint64_t generation)
{
    m_generationStart.store(m_ring->producedBytes(), std::memory_order_relaxed);
    m_startedGeneration.store(generation, std::memory_order_release);
    // A consumer that came up short while the ring held only stale bytes takes again and
    // drops them, which makes room for this generation's.
    wakeConsumerIfStarved();
}

void FileDecoder::publishEnd(std::uint64_t generation, const QString &failure)
{
    if (m_askedGeneration.load(std::memory_order_acquire) != generation)
        return;  // a seek came first: this end is no longer the consumer's
    m_failure = failure;
    if (!failure.isEmpty())
        qCWarning(lcAudio).noquote() << failure;
    m_endedGeneration.store(generation, std::memory_order_release);
    // A consumer waiting for more learns there is none, so it can drain.
    wakeConsumerIfStarved();
}

void FileDecoder::wakeConsumerIfStarved()
{
    // Pairs with the fence in take(): either take() sees what was just published, or this
    // sees its flag.
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (m_starved.load(std::memory_order_relaxed) && m_starved.exchange(false) && m_onData)
        m_onData();
}

void FileDecoder::Impl::run()
{
    packet.reset(av_packet_alloc());
    frame.reset(av_frame_alloc());
    while (!decoder.m_quit.load()) {
        const std::uint64_t asked = decoder.m_askedGeneration.load(std::memory_order_acquire);
        if (asked != generation) {
            generation = asked;
            restartAt(decoder.m_seekFrame.load(std::memory_order_relaxed));
            decoder.publishStart(generation);
        } else if (reachedEnd) {
            decoder.waitForCommand(generation);
        } else {
            decodeNextPacket();
        }
    }
}

void FileDecoder::Impl::restartAt(std::int64_t targetFrame)
{
    const int sampleRate = decoder.m_sampleRate;
    const std::int64_t from =
        std::max<std::int64_t>(0, targetFrame - kSeekPrerollMs * sampleRate / 1000);
    const std::int64_t ts = av_rescale_q(from, AVRational{1, sampleRate}, timeBase) + startPts;
    int rc = av_seek_frame(format, streamIndex, ts, AVSEEK_FLAG_BACKWARD);
    if (rc < 0)
        rc = avformat_seek_file(format, streamIndex, INT64_MIN, ts, ts, 0);
    if (rc < 0) {
        // No seeking in this file: decode from its start and drop up to the target.
        qCWarning(lcAudio).noquote() << "seek failed, decoding from the start:" << ffmpegError(rc);
        av_seek_frame(format, streamIndex, startPts, AVSEEK_FLAG_BACKWARD);
        frameNumberUnknown = false;
        nextFrame = 0;
    } else {
        frameNumberUnknown = true;
    }
    avcodec_flush_buffers(codec);
    dropBefore = targetFrame;
    reachedEnd = false;
}

void FileDecoder::Impl::decodeNextPacket()
{
    const int rc = av_read_frame(format, packet.get());
    if (rc == AVERROR(EAGAIN))
        return;
    if (rc < 0) {
        finishDecoding(rc);
        return;
    }
    if (packet->stream_index == streamIndex && avcodec_send_packet(codec, packet.get()) == 0)
        receiveFrames();
    av_packet_unref(packet.get());
}

// The demuxer has no more packets: the codec gives what it still holds, then the end (and
// its cause, unless it is the file's end) is published.
void FileDecoder::Impl::finishDecoding(int readResult)
{
    avcodec_send_packet(codec, nullptr);
    receiveFrames();
    avcodec_flush_buffers(codec);
    reachedEnd = true;
    decoder.publishEnd(generation, readResult == AVERROR_EOF
                                       ? QString()
                                       : QStringLiteral("cannot read the file (%1)")
                                             .arg(ffmpegError(readResult)));
}

void FileDecoder::Impl::receiveFrames()
{
    while (avcodec_receive_frame(codec, frame.get()) == 0) {
        convertAndDeliver();
        av_frame_unref(frame.get());
    }
}

void FileDecoder::Impl::convertAndDeliver()
{
    if (frameNumberUnknown) {
        const std::int64_t pts = frame->best_effort_timestamp != AV_NOPTS_VALUE
                                     ? frame->best_effort_timestamp : frame->pts;
        nextFrame = pts != AV_NOPTS_VALUE
                        ? av_rescale_q(pts - startPts, timeBase, AVRational{1, decoder.m_sampleRate})
                        : dropBefore;
        frameNumberUnknown = false;
    }
    const int capacityFrames = swr_get_out_samples(resampler, frame->nb_samples);
    converted.resize(static_cast<std::size_t>(std::max(capacityFrames, 0)) * kBytesPerFrame);
    std::uint8_t *out = converted.data();
    const int got = swr_convert(resampler, &out, capacityFrames,
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
}

// Adds bytes, waiting for room, unless a seek made them stale.
void FileDecoder::Impl::deliver(const char *data, std::size_t bytes)
{
    RingBuffer &ring = *decoder.m_ring;
    while (bytes > 0 && decoder.waitForRoom(generation)) {
        const std::size_t n = std::min(bytes, ring.writable());
        ring.write(data, n);
        data += n;
        bytes -= n;
        decoder.wakeConsumerIfStarved();
    }
}

}  // namespace audio
