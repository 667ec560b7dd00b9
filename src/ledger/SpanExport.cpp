#include "ledger/SpanExport.h"

#include "audio/Capture.h"
#include "audio/FileDecoder.h"
#include "ledger/ExportOutput.h"
#include "ledger/Ledger.h"

#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <cstdlib>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace ledger {

namespace {

constexpr qint64 kBlockFrames = 16384;
// The longest a reader waits for the decoder without looking again (a lost wake-up's bound).
constexpr auto kDecoderWait = std::chrono::milliseconds(50);
// A file that begins this near to where the one before it ends continues it (see SpanExport.h).
constexpr qint64 kJoinToleranceMs = 2;

// num / den to the nearest whole number, halves away from zero; den > 0.
qint64 roundedDivision(qint64 num, qint64 den)
{
    return num >= 0 ? (num + den / 2) / den : -((-num + den / 2) / den);
}

qint64 framesOfMs(qint64 ms, int rate) { return roundedDivision(ms * rate, 1000); }

// A file placed on the export's frames: it covers output frames [begin, end), and output
// frame k is its frame k + offset.
struct Cover {
    const SourceFile *file;
    qint64 offset;
    qint64 begin;
    qint64 end;
};

std::vector<Cover> coversOf(std::vector<const SourceFile *> files, qint64 fromMs, int rate, qint64 total)
{
    std::stable_sort(files.begin(), files.end(),
                     [](const SourceFile *a, const SourceFile *b) { return a->startMs < b->startMs; });
    const qint64 joinTolerance = kJoinToleranceMs * rate / 1000;
    std::vector<Cover> covers;
    qint64 previousEnd = 0;  // the output frame after the previous file's last, unclipped
    for (std::size_t i = 0; i < files.size(); ++i) {
        const SourceFile *file = files[i];
        qint64 offset = framesOfMs(fromMs - file->startMs, rate);
        if (i > 0 && std::abs(-offset - previousEnd) <= joinTolerance)
            offset = -previousEnd;
        previousEnd = file->frames - offset;
        const qint64 begin = std::max<qint64>(0, -offset);
        const qint64 end = std::min(total, file->frames - offset);
        if (begin < end)
            covers.push_back({file, offset, begin, end});
    }
    return covers;
}

// The file that began last among those covering output frame k, or null.
const Cover *coverAt(const std::vector<Cover> &covers, qint64 k)
{
    const Cover *chosen = nullptr;
    for (const Cover &c : covers)
        if (c.begin <= k && k < c.end)
            chosen = &c;  // covers are by start
    return chosen;
}

void appendPiece(std::vector<ExportPiece> &pieces, const ExportPiece &piece)
{
    if (!pieces.empty()) {
        ExportPiece &last = pieces.back();
        if (last.path == piece.path && (piece.isSilence() || last.fileFrame + last.frames == piece.fileFrame)) {
            last.frames += piece.frames;
            return;
        }
    }
    pieces.push_back(piece);
}

// ---- running ----

// Counts the frames written and hands the fraction on, at most every 1/500 of the span.
class Progress {
public:
    Progress(const ExportCallbacks &callbacks, qint64 total) : m_callbacks(callbacks), m_total(total) {}
    void add(qint64 frames)
    {
        m_done += frames;
        if (m_callbacks.progress && (m_done - m_told >= m_total / 500 || m_done == m_total)) {
            m_told = m_done;
            m_callbacks.progress(double(m_done) / double(m_total));
        }
    }
    bool cancelled() const { return m_callbacks.cancel && m_callbacks.cancel->load(std::memory_order_relaxed); }

private:
    const ExportCallbacks &m_callbacks;
    qint64 m_total;
    qint64 m_done = 0;
    qint64 m_told = 0;
};

enum class Step { Done, Failed, Cancelled };

Step writeSilence(qint64 frames, ExportSink &sink, Progress &progress, QString *error)
{
    static const std::vector<char> zeros(std::size_t(kBlockFrames) * audio::kBytesPerFrame, 0);
    while (frames > 0) {
        if (progress.cancelled())
            return Step::Cancelled;
        const qint64 n = std::min(frames, kBlockFrames);
        if (!sink.write(zeros.data(), n * audio::kBytesPerFrame, error))
            return Step::Failed;
        progress.add(n);
        frames -= n;
    }
    return Step::Done;
}

// Decodes a piece's frames into the sink; *shortBy the frames the file did not give and
// *why the reason.
Step writeFromFile(const ExportPiece &piece, ExportSink &sink, Progress &progress, qint64 *shortBy, QString *why,
                   QString *error)
{
    // Declared before the decoder, whose thread calls onData until the decoder is gone.
    std::mutex mutex;
    std::condition_variable dataCame;
    bool data = false;
    QString openError;
    std::unique_ptr<audio::FileDecoder> decoder = audio::FileDecoder::open(piece.path, &openError);
    qint64 left = piece.frames;
    if (decoder) {
        decoder->setOnData([&] {
            {
                std::lock_guard<std::mutex> lock(mutex);
                data = true;
            }
            dataCame.notify_one();
        });
        if (piece.fileFrame > 0)
            decoder->seek(piece.fileFrame * audio::kBytesPerFrame);
        decoder->start();
        std::vector<char> block(std::size_t(kBlockFrames) * audio::kBytesPerFrame);
        while (left > 0 && !decoder->finished()) {
            if (progress.cancelled())
                return Step::Cancelled;
            const qint64 n = qint64(decoder->take(block.data(), std::size_t(std::min(left, kBlockFrames))
                                                                   * audio::kBytesPerFrame)) / audio::kBytesPerFrame;
            if (n == 0) {
                std::unique_lock<std::mutex> lock(mutex);
                dataCame.wait_for(lock, kDecoderWait, [&] { return data; });
                data = false;
                continue;
            }
            if (!sink.write(block.data(), n * audio::kBytesPerFrame, error))
                return Step::Failed;
            progress.add(n);
            left -= n;
        }
    }
    *shortBy = left;
    if (left > 0)
        *why = !decoder ? QStringLiteral("%1: %2").arg(piece.path, openError)
               : !decoder->failure().isEmpty() ? QStringLiteral("%1: %2").arg(piece.path, decoder->failure())
                                                : QStringLiteral("%1 ends %2 frames early").arg(piece.path).arg(left);
    return Step::Done;
}

}  // namespace

ExportPlan planExport(const std::vector<SourceFile> &files, qint64 fromMs, qint64 toMs)
{
    ExportPlan plan;
    plan.fromMs = fromMs;
    plan.toMs = toMs;
    if (toMs <= fromMs) {
        plan.error = QStringLiteral("the span ends before it begins");
        return plan;
    }
    std::vector<const SourceFile *> inSpan;
    for (const SourceFile &file : files) {
        if (file.frames <= 0 || file.sampleRate <= 0 || file.startMs >= toMs
            || file.startMs + file.frames * 1000 / file.sampleRate < fromMs)
            continue;
        if (!inSpan.empty() && file.sampleRate != inSpan.front()->sampleRate) {
            plan.error = QStringLiteral("the recordings of the span differ in sample rate (%1 Hz in %2, %3 Hz in %4): "
                                        "export a part of one rate")
                             .arg(inSpan.front()->sampleRate).arg(inSpan.front()->path)
                             .arg(file.sampleRate).arg(file.path);
            return plan;
        }
        inSpan.push_back(&file);
    }
    if (inSpan.empty()) {
        plan.error = QStringLiteral("there is no recording in the span");
        return plan;
    }
    plan.sampleRate = inSpan.front()->sampleRate;
    plan.totalFrames = std::max<qint64>(1, framesOfMs(toMs - fromMs, plan.sampleRate));
    const std::vector<Cover> covers = coversOf(inSpan, fromMs, plan.sampleRate, plan.totalFrames);

    // Between two neighbouring edges of the covers the same file is chosen throughout.
    std::vector<qint64> edges{0, plan.totalFrames};
    for (const Cover &c : covers) {
        edges.push_back(c.begin);
        edges.push_back(c.end);
    }
    std::sort(edges.begin(), edges.end());
    edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
    bool anyFile = false;
    for (std::size_t i = 0; i + 1 < edges.size(); ++i) {
        const qint64 begin = edges[i], frames = edges[i + 1] - begin;
        if (const Cover *c = coverAt(covers, begin)) {
            appendPiece(plan.pieces, {c->file->path, begin + c->offset, begin, frames});
            anyFile = true;
        } else {
            appendPiece(plan.pieces, {QString(), 0, begin, frames});
        }
    }
    if (!anyFile) {
        plan.pieces.clear();
        plan.error = QStringLiteral("there is no recording in the span");
    }
    return plan;
}

qint64 exportFrameMs(const ExportPlan &plan, qint64 frame)
{
    return plan.fromMs + roundedDivision(frame * 1000, plan.sampleRate);
}

std::vector<SourceFile> measureSources(const std::vector<FileEntry> &files, QStringList *problems)
{
    std::vector<SourceFile> sources;
    for (const FileEntry &entry : files) {
        QString error;
        const std::unique_ptr<audio::FileDecoder> decoder = audio::FileDecoder::open(entry.path, &error);
        if (!decoder) {
            problems->append(QStringLiteral("%1: %2").arg(entry.path, error));
            continue;
        }
        const qint64 decodes = decoder->lengthBytes() / audio::kBytesPerFrame;
        const bool given = entry.endMs > 0 && entry.frames > 0 && entry.sampleRate == decoder->sampleRate();
        const qint64 frames = !given ? decodes : decodes > 0 ? std::min(decodes, entry.frames) : entry.frames;
        sources.push_back({entry.path, entry.startMs, frames, decoder->sampleRate()});
    }
    return sources;
}

ExportResult runExport(const ExportPlan &plan, ExportSink &sink, const ExportCallbacks &callbacks)
{
    ExportResult result;
    if (!plan.ok()) {
        result.error = plan.error;
        sink.abandon();
        return result;
    }
    if (!sink.start(plan.sampleRate, plan.totalFrames, &result.error)) {
        sink.abandon();
        return result;
    }
    Progress progress(callbacks, plan.totalFrames);
    auto sayGap = [&](qint64 outFrame, qint64 frames, const QString &cause) {
        result.silentFrames += frames;
        if (callbacks.gap)
            callbacks.gap({exportFrameMs(plan, outFrame), exportFrameMs(plan, outFrame + frames), cause});
    };
    Step step = Step::Done;
    for (const ExportPiece &piece : plan.pieces) {
        if (piece.isSilence()) {
            sayGap(piece.outFrame, piece.frames, {});
            step = writeSilence(piece.frames, sink, progress, &result.error);
        } else {
            qint64 shortBy = 0;
            QString why;
            step = writeFromFile(piece, sink, progress, &shortBy, &why, &result.error);
            if (step == Step::Done && shortBy > 0) {
                sayGap(piece.outFrame + piece.frames - shortBy, shortBy, why);
                step = writeSilence(shortBy, sink, progress, &result.error);
            }
        }
        if (step != Step::Done)
            break;
    }
    result.cancelled = step == Step::Cancelled;
    if (step == Step::Done && !sink.finish(&result.error))
        step = Step::Failed;
    if (step != Step::Done) {
        sink.abandon();
        return result;
    }
    result.ok = true;
    result.frames = plan.totalFrames;
    result.sampleRate = plan.sampleRate;
    return result;
}

ExportResult exportSpan(Ledger &ledger, const ExportRequest &request, const ExportCallbacks &callbacks,
                        QStringList *notes)
{
    ExportResult refused;
    if (request.toMs <= request.fromMs) {
        refused.error = QStringLiteral("the span ends before it begins");
        return refused;
    }
    const std::unique_ptr<ExportSink> sink = makeExportSink(request.programFolder, request.outPath, &refused.error);
    if (!sink || !sink->create(&refused.error))
        return refused;
    if (!ledger.isUsable()) {
        refused.error = ledger.error();
        return refused;
    }
    // The export never takes the place of a recording.
    const QFileInfo out(request.outPath);
    if (ledger.file(out.absoluteFilePath()) || (out.exists() && ledger.file(out.canonicalFilePath()))) {
        refused.error = QStringLiteral("%1 is a recording of the archive").arg(request.outPath);
        return refused;
    }
    const std::vector<SourceFile> sources = measureSources(ledger.files(request.fromMs, request.toMs), notes);
    return runExport(planExport(sources, request.fromMs, request.toMs), *sink, callbacks);
}

}  // namespace ledger
