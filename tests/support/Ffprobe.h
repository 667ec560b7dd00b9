#pragma once
// The duration of a media file as ffprobe reads it, the way a user would check a file.
#include <QProcess>
#include <QString>

namespace testsupport {

// Seconds, or -1 when ffprobe cannot read the file.
inline double ffprobeDuration(const QString &path)
{
    QProcess p;
    p.start(QStringLiteral("ffprobe"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                                        QStringLiteral("format=duration"), QStringLiteral("-of"),
                                        QStringLiteral("csv=p=0"), path});
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return -1;
    bool ok = false;
    const double seconds = p.readAllStandardOutput().trimmed().toDouble(&ok);
    return ok ? seconds : -1;
}

}  // namespace testsupport
