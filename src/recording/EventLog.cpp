#include "recording/EventLog.h"

#include "core/TextLimits.h"
#include "recording/Logging.h"
#include "recording/RecordedLength.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <utility>

namespace recording {

namespace {

QString eventWord(SessionEventKind kind)
{
    switch (kind) {
    case SessionEventKind::Started: return QStringLiteral("started");
    case SessionEventKind::Stopped: return QStringLiteral("stopped");
    case SessionEventKind::FileChanged: return QStringLiteral("file-changed");
    case SessionEventKind::EncoderRestarted: return QStringLiteral("encoder-restarted");
    case SessionEventKind::EncoderGaveUp: return QStringLiteral("encoder-gave-up");
    case SessionEventKind::CaptureLost: return QStringLiteral("capture-lost");
    case SessionEventKind::CaptureRecovered: return QStringLiteral("capture-recovered");
    case SessionEventKind::AudioDropped: return QStringLiteral("dropped");
    case SessionEventKind::Failed: return QStringLiteral("failed");
    }
    return QStringLiteral("unknown");
}

QString oneLine(QString field)
{
    for (QChar &c : field) {
        if (c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            c = QLatin1Char(' ');
    }
    return field;
}

QString joined(const QString &first, const QString &second)
{
    if (first.isEmpty() || second.isEmpty())
        return first + second;
    return first + QStringLiteral("; ") + second;
}

}  // namespace

QString isoTimeWithOffset(const QDateTime &at, bool milliseconds)
{
    const int offset = at.offsetFromUtc();
    const int minutes = qAbs(offset) / 60;
    return at.toString(milliseconds ? QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz") : QStringLiteral("yyyy-MM-ddTHH:mm:ss"))
        + QStringLiteral("%1%2:%3")
              .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
              .arg(minutes / 60, 2, 10, QLatin1Char('0'))
              .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

EventLine eventLine(const SessionEvent &event, int sampleRate)
{
    EventLine line{event.at, eventWord(event.kind), event.file, event.details};
    if (event.kind == SessionEventKind::CaptureRecovered)
        line.details = joined(QStringLiteral("lost for %1").arg(core::formatHms(event.lostMs / 1000)), line.details);
    else if (event.kind == SessionEventKind::AudioDropped && event.droppedBytes > 0)
        // The cause is given where it is not the usual one.
        line.details = (sampleRate > 0 ? QStringLiteral("%1 s more dropped: ")
                                             .arg(capturedSeconds(event.droppedBytes, sampleRate), 0, 'f', 1)
                                       : QStringLiteral("%1 bytes more dropped: ").arg(event.droppedBytes))
            + (event.details.isEmpty() ? QStringLiteral("the encoder fell behind") : event.details);
    return line;
}

QString formatEventLine(const EventLine &line)
{
    return isoTimeWithOffset(line.at) + QLatin1Char('\t') + oneLine(line.event) + QLatin1Char('\t')
        + oneLine(line.file) + QLatin1Char('\t') + oneLine(line.details);
}

EventLog::EventLog(QString path, qint64 rotateBytes, int keptFiles)
    : m_path(std::move(path)), m_rotateBytes(rotateBytes), m_keptFiles(keptFiles)
{
}

bool EventLog::append(const EventLine &line)
{
    const QByteArray bytes = formatEventLine(line).toUtf8() + '\n';
    const QFileInfo info(m_path);
    if (info.exists() && info.size() > 0 && info.size() + bytes.size() > m_rotateBytes)
        rotate();
    QDir().mkpath(info.absolutePath());
    // Opened per line: events are seconds apart at the least, and a log moved or removed
    // meanwhile is simply started anew.
    QFile file(m_path);
    const bool written = file.open(QIODevice::WriteOnly | QIODevice::Append) && file.write(bytes) == bytes.size()
        && file.flush();
    if (written) {
        m_failureSaid = false;
        return true;
    }
    if (!m_failureSaid)
        qCWarning(lcRecording).noquote() << QStringLiteral("cannot write the event log %1: %2")
                                                .arg(m_path, file.errorString());
    m_failureSaid = true;
    return false;
}

void EventLog::rotate()
{
    const auto numbered = [this](int n) { return m_path + QLatin1Char('.') + QString::number(n); };
    QFile::remove(numbered(m_keptFiles));
    for (int n = m_keptFiles - 1; n >= 1; --n)
        QFile::rename(numbered(n), numbered(n + 1));
    if (m_keptFiles > 0)
        QFile::rename(m_path, numbered(1));
    else
        QFile::remove(m_path);
}

}  // namespace recording
