#pragma once
// What a recording starts from and what the archive keeps of each file it wrote.
#include "core/ProgramFiles.h"
#include "settings/CodecPreset.h"

#include <QDateTime>
#include <QString>
#include <QtGlobal>

namespace recording {

// Settings a recording starts with; later changes apply to the next start.
struct RecordingConfig {
    QString programFolder;        // ends in '/'; encoders are looked for in its Plugins/
    QString saveFolder;           // SaveFolder
    QString saveFilename;         // SaveFilename, the name template
    int sampleRate = core::limits::kDefaultSampleRate;  // SampleRate, Hz
    settings::CodecPreset codec;  // the current codec
    int preRollSeconds = 0;       // PreRollSeconds: a recording begins that long before its start
};

// What the archive keeps of a finished recording, and what the coverage ledger keeps besides.
struct FinishedRecording {
    double startTime = 0;      // day count, local time
    qint32 lengthSeconds = 0;  // captured length, truncated to whole seconds
    QString path;              // the whole path the encoder wrote
    QDateTime startedAt;       // when its first frame was captured, to the millisecond
    qint64 frames = 0;         // frames given to the encoder (what it was fed and kept)
    int sampleRate = 0;
};

}  // namespace recording
