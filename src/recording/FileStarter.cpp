#include "recording/FileStarter.h"

#include "recording/EncoderCommand.h"
#include "recording/Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace recording {

// Level by level, since QDir::mkpath gives no reason.
QString FileStarter::makeFolders(const QString &folder)
{
    const QString clean = QDir::cleanPath(QDir(folder).absolutePath());
    qsizetype next = 0;
    while (next >= 0) {
        next = clean.indexOf(QLatin1Char('/'), next + 1);
        const QString level = next < 0 ? clean : clean.left(next);
        if (QFileInfo(level).isDir()) continue;
        if (::mkdir(QFile::encodeName(level).constData(), 0777) != 0 && errno != EEXIST)
            return QString::fromLocal8Bit(std::strerror(errno)).toLower();
        if (!QFileInfo(level).isDir()) return QStringLiteral("%1 is not a folder").arg(level);
    }
    return {};
}

StartedEncoder EncoderProcessStarter::startEncoder(const RecordingConfig &config, const QString &path,
                                                   const QStringList &environment)
{
    StartedEncoder started;
    const QStringList argv = encoderArguments(config.programFolder, config.codec.command, path);
    if (argv.isEmpty()) {
        started.why = QStringLiteral("the codec has no command");
        return started;
    }
    started.name = QFileInfo(argv.front()).fileName();
    started.feed = audio::EncoderFeed::start(argv, config.sampleRate, &started.why, environment);
    if (!started.feed)
        qCWarning(lcRecording).noquote() << QStringLiteral("encoder command: ") + argv.join(QLatin1Char(' '));
    return started;
}

FileStarter &encoderProcesses()
{
    static EncoderProcessStarter starter;
    return starter;
}

}  // namespace recording
