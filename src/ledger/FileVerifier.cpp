#include "ledger/FileVerifier.h"

#include "audio/Capture.h"
#include "audio/FileDecoder.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace ledger {

namespace {

using Verdict = VerifyResult::Verdict;

constexpr qint64 kReadBytes = 1 << 20;
constexpr std::size_t kTakeBytes = 64 * 1024;
// The longest the check sleeps without looking at the decoder and the cancel flag.
constexpr std::chrono::milliseconds kDecodeWait{20};

bool cancelled(const std::atomic<bool> *cancel)
{
    return cancel && cancel->load(std::memory_order_relaxed);
}

struct Hashed {
    QString sha256;  // empty when cancelled or unreadable
    QString error;
};

Hashed hashFile(const QString &path, const std::atomic<bool> *cancel)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {{}, file.errorString()};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    std::vector<char> buffer(static_cast<std::size_t>(kReadBytes));
    qint64 n = 0;
    while ((n = file.read(buffer.data(), kReadBytes)) > 0) {
        if (cancelled(cancel))
            return {};
        hash.addData(QByteArrayView(buffer.data(), n));
    }
    if (n < 0)
        return {{}, file.errorString()};
    return {QString::fromLatin1(hash.result().toHex()), {}};
}

struct Decoded {
    qint64 frames = 0;
    int rate = 0;
    QString failure;  // empty when the whole file decoded
    bool cancelled = false;
};

// Decodes the whole file with the player's decoder and counts its frames.
Decoded decodeFile(const QString &path, const std::atomic<bool> *cancel)
{
    Decoded result;
    auto decoder = audio::FileDecoder::open(path, &result.failure);
    if (!decoder)
        return result;
    result.rate = decoder->sampleRate();
    std::mutex mutex;
    std::condition_variable more;
    bool hasMore = false;
    decoder->setOnData([&] {
        std::lock_guard<std::mutex> lock(mutex);
        hasMore = true;
        more.notify_one();
    });
    decoder->start();
    std::vector<char> buffer(kTakeBytes);
    while (!decoder->finished()) {
        if (cancelled(cancel)) {
            result.cancelled = true;
            return result;  // the decoder's destructor stops its thread at once
        }
        const std::size_t n = decoder->take(buffer.data(), buffer.size());
        result.frames += static_cast<qint64>(n / audio::kBytesPerFrame);
        if (n < buffer.size()) {
            std::unique_lock<std::mutex> lock(mutex);
            more.wait_for(lock, kDecodeWait, [&] { return hasMore; });
            hasMore = false;
        }
    }
    result.failure = decoder->failure();
    return result;
}

QString lengthReason(const FileEntry &file, const Decoded &decoded)
{
    if (file.sampleRate <= 0)
        return {};
    const double fedSeconds = double(file.frames) / file.sampleRate;
    const double decodedSeconds = double(decoded.frames) / decoded.rate;
    const double slackSeconds = double(slackFrames(file.path, decoded.rate) + 1) / decoded.rate;
    if (std::abs(decodedSeconds - fedSeconds) <= slackSeconds)
        return {};
    return QStringLiteral("decodes to %1 of %2 recorded")
        .arg(lengthText(decodedSeconds), lengthText(fedSeconds));
}

QString joined(const QString &first, const QString &second)
{
    if (first.isEmpty())
        return second;
    return second.isEmpty() ? first : first + QStringLiteral("; ") + second;
}

}  // namespace

Verification VerifyResult::verification() const
{
    switch (verdict) {
    case Verdict::Ok: return Verification::Ok;
    case Verdict::Damaged:
    case Verdict::Missing: return Verification::Damaged;
    case Verdict::Cancelled: break;
    }
    return Verification::Unverified;
}

qint64 slackFrames(const QString &path, int decodedRate)
{
    const QString ext = QFileInfo(path).suffix().toLower();
    if (ext == QLatin1String("wav"))
        return 1;
    if (ext == QLatin1String("mp3") || ext == QLatin1String("mp2"))
        return 1152;
    if (ext == QLatin1String("opus"))
        return 960 * qint64(decodedRate) / 48000;
    // A Vorbis long block; oggenc pads a file shorter than one to it.
    if (ext == QLatin1String("ogg") || ext == QLatin1String("oga"))
        return 2048;
    if (ext == QLatin1String("flac"))
        return 4608;
    // AAC: 1024 frames of priming and the padding of the last frame, which a fragmented MP4
    // keeps for want of an edit list.
    if (ext == QLatin1String("m4a") || ext == QLatin1String("aac") || ext == QLatin1String("mp4"))
        return 2048;
    return 8192;
}

QString lengthText(double seconds)
{
    const qint64 tenths = qint64(std::llround(std::max(0.0, seconds) * 10));
    return QStringLiteral("%1:%2:%3.%4")
        .arg(tenths / 36000, 2, 10, QLatin1Char('0'))
        .arg(tenths / 600 % 60, 2, 10, QLatin1Char('0'))
        .arg(tenths / 10 % 60, 2, 10, QLatin1Char('0'))
        .arg(tenths % 10);
}

VerifyResult verifyFile(const FileEntry &file, const std::atomic<bool> *cancel)
{
    VerifyResult result;
    result.path = file.path;
    if (!QFileInfo(file.path).isFile()) {
        result.verdict = Verdict::Missing;
        result.reason = QStringLiteral("missing");
        return result;
    }
    if (QFileInfo(file.path).size() == 0 && file.frames > 0) {
        result.verdict = Verdict::Damaged;
        result.reason = QStringLiteral("empty");
        return result;
    }
    const Hashed hashed = hashFile(file.path, cancel);
    if (cancelled(cancel))
        return result;
    if (!hashed.error.isEmpty()) {
        result.verdict = Verdict::Damaged;
        result.reason = QStringLiteral("cannot be read: %1").arg(hashed.error);
        return result;
    }
    result.sha256 = hashed.sha256;
    const Decoded decoded = decodeFile(file.path, cancel);
    if (decoded.cancelled)
        return result;
    result.decodedFrames = decoded.frames;
    result.decodedRate = decoded.rate;

    QString changed;
    if (!file.sha256.isEmpty() && file.sha256.compare(hashed.sha256, Qt::CaseInsensitive) != 0)
        changed = QStringLiteral("changed since it was recorded (checksum differs)");
    const QString decoding = !decoded.failure.isEmpty()
                                 ? QStringLiteral("cannot be decoded: %1").arg(decoded.failure)
                                 : lengthReason(file, decoded);
    result.reason = joined(changed, decoding);
    result.verdict = result.reason.isEmpty() ? Verdict::Ok : Verdict::Damaged;
    return result;
}

}  // namespace ledger
