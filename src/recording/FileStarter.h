#pragma once
// What a recording asks of the system to begin a file: its folders and its encoder. The
// recording's own starter makes folders on disk and starts the encoder process of the codec;
// a test hands back a feed of its own instead.
#include "audio/EncoderFeed.h"
#include "recording/RecordingConfig.h"

#include <QString>
#include <QStringList>

#include <memory>

namespace recording {

// An encoder started to write a file, or why it was not.
struct StartedEncoder {
    std::unique_ptr<audio::EncoderFeed> feed;  // null: it did not start
    QString name;                              // the program's file name ("lame"), for messages
    QString why;                               // why it did not start
};

class FileStarter {
public:
    virtual ~FileStarter() = default;
    // Creates every missing folder of `folder`; returns why one could not be made
    // ("permission denied", "/srv/rec is not a folder"), empty on success.
    virtual QString makeFolders(const QString &folder);
    // Starts the encoder of config.codec writing `path` at config.sampleRate, with
    // `environment` ("NAME=value": the file's start for the own WAV writer) added to its own.
    virtual StartedEncoder startEncoder(const RecordingConfig &config, const QString &path,
                                        const QStringList &environment) = 0;
};

// Starts the codec's command line from the program folder's Plugins/ as a process.
class EncoderProcessStarter : public FileStarter {
public:
    StartedEncoder startEncoder(const RecordingConfig &config, const QString &path,
                                const QStringList &environment) override;
};

// The program's one EncoderProcessStarter.
FileStarter &encoderProcesses();

}  // namespace recording
