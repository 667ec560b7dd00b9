#pragma once
// A span of time cut out of the recordings into one stream of 16-bit stereo frames.
//
// Time. Frame n of a file is heard at its start + n / rate; frame k of the export at
// FROM + k / rate. A file's frames are placed on the export's by the nearest whole frame
// of the difference of the two starts, so that each output frame is the file's frame of
// that moment, and the span holds round((TO - FROM) * rate) frames.
//
// Joins. A start is known to the millisecond, a frame lasts a fraction of one: a file that
// begins within 2 ms of where the one before it ends is taken as its continuation (the
// recorder's change of file, which hands the capture on at a frame) and placed right after
// its last frame, so that no frame is doubled or lost at the join.
//
// Overlaps. Where files overlap (a restarted encoder's file begins before the previous one
// ends), each moment is taken once, from the file that began last: the one before it was
// cut short by its encoder, and its last frames are the least sure.
//
// Gaps. Where no file covers a moment, the export holds silence and says so: every gap of
// the plan, and a file that decodes to fewer frames than it was planned with, is handed to
// the gap callback as it is reached.
//
// Threads. planExport is a pure function. measureSources and runExport read files and run
// on the caller's thread (a worker thread in the window, the main thread on the command
// line); runExport calls its callbacks on that thread and reads the cancel flag between blocks.

#include "ledger/LedgerEntry.h"

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <functional>
#include <vector>

namespace ledger {

class ExportSink;
class Ledger;

// A recording as the export sees it.
struct SourceFile {
    QString path;
    qint64 startMs = 0;
    qint64 frames = 0;  // the frames it holds
    int sampleRate = 0;
};

// A run of output frames: taken from a file from its frame `fileFrame` on, or silence
// (empty path).
struct ExportPiece {
    QString path;
    qint64 fileFrame = 0;
    qint64 outFrame = 0;
    qint64 frames = 0;
    bool isSilence() const { return path.isEmpty(); }
};

struct ExportGap {
    qint64 startMs = 0;
    qint64 endMs = 0;
    QString cause;  // empty: no recording; else why a file gave less than planned
};

struct ExportPlan {
    qint64 fromMs = 0;
    qint64 toMs = 0;
    int sampleRate = 0;
    qint64 totalFrames = 0;
    std::vector<ExportPiece> pieces;  // in order, together exactly totalFrames
    QString error;                    // why there is nothing to export; empty when there is
    bool ok() const { return error.isEmpty(); }
};

// The frames of [fromMs, toMs) from `files` (any order). Refuses an empty or reversed span,
// a span no file covers and files of differing rates.
ExportPlan planExport(const std::vector<SourceFile> &files, qint64 fromMs, qint64 toMs);

// The moment (ms since the epoch) of output frame `frame`.
qint64 exportFrameMs(const ExportPlan &plan, qint64 frame);

// The ledger's files as sources: the frames and rate each decodes to, at most the frames
// the ledger says its encoder was given (a file still open: what it holds so far). A file
// that cannot be opened is left out with a line in *problems.
std::vector<SourceFile> measureSources(const std::vector<FileEntry> &files, QStringList *problems);

struct ExportCallbacks {
    std::function<void(double)> progress;         // 0…1, a few hundred times at most
    std::function<void(const ExportGap &)> gap;   // each gap, in order
    const std::atomic<bool> *cancel = nullptr;    // set: the export stops and leaves no file
};

struct ExportResult {
    bool ok = false;
    bool cancelled = false;
    QString error;          // the cause when not ok (and not cancelled)
    qint64 frames = 0;      // written
    qint64 silentFrames = 0;
    int sampleRate = 0;
};

// Decodes the plan's pieces in order into `sink`, which it finishes (ok) or abandons.
ExportResult runExport(const ExportPlan &plan, ExportSink &sink, const ExportCallbacks &callbacks);

struct ExportRequest {
    QString programFolder;  // ends in '/'; its codec presets serve extensions other than .wav
    qint64 fromMs = 0;
    qint64 toMs = 0;
    QString outPath;
};

// The whole export, in the order that refuses bad input before any decoding: OUT's format,
// that OUT can be written and is no recording the ledger knows, the ledger's files of the
// span, the plan, then the frames. Files that cannot be read are left out, each with a
// line in *notes. Reads the ledger and the recordings and changes neither.
ExportResult exportSpan(Ledger &ledger, const ExportRequest &request, const ExportCallbacks &callbacks,
                        QStringList *notes);

}  // namespace ledger
