// The recorder's side of the web server: it starts the server when [Web] Listen asks for
// one, and publishes what the server shows (the status every second, the archive when it
// changed or was loaded, the page's texts with the language). The server reads only that.

#include "app/Logging.h"
#include "app/ProgramFolder.h"
#include "app/Recorder.h"
#include "archive/Archive.h"
#include "core/DayCount.h"
#include "core/ProgramFiles.h"
#include "core/TextLimits.h"
#include "i18n/StringTable.h"
#include "recording/RecordingSession.h"
#include "recording/RecordingWatch.h"
#include "web/WebServer.h"

#include <QDir>
#include <QFileInfo>

namespace app {

namespace {

constexpr char kWebNotice[] = "web";  // the notice of a server that cannot run

const char *statusKindWord(StatusKind kind)
{
    switch (kind) {
    case StatusKind::Recording: return "recording";
    case StatusKind::Warning: return "warning";
    case StatusKind::Failed: return "failed";
    case StatusKind::Stopped: break;
    }
    return "stopped";
}

}  // namespace

// Said once, with its cause, in the status line, a notice and the log; the recording is not
// touched by anything the web server does or fails to do.
void Recorder::startWeb()
{
    m_webFailureWords.clear();
    if (m_settings.webListen.isEmpty())
        return;
    QString error;
    QString words;
    const std::optional<web::ListenAddress> address = web::parseListen(m_settings.webListen, &error);
    if (!address) {
        words = QStringLiteral("[Web] Listen is no host:port");
    } else if (error = web::listenRefusal(*address, m_settings.webToken); !error.isEmpty()) {
        words = QStringLiteral("not a local address, and no [Web] Token");
    } else {
        m_web = std::make_unique<web::WebServer>(web::WebContext{&m_webBoard, m_ledger.get(), m_settings.webToken});
        publishWebStrings();
        publishWebArchive();
        publishWebStatus();
        if (m_web->start(*address, &error, &words)) {
            qCInfo(lcApp).noquote() << QStringLiteral("web page and API on http://%1/").arg(web::hostAndPort(*address, m_web->port()));
            return;
        }
        m_web.reset();
    }
    m_webFailureWords = words;
    raise(QLatin1String(kWebNotice), QString(), error);
    emit statusChanged();
}

void Recorder::stopWeb()
{
    m_web.reset();
}

// New [Web] keys (a reload): the server starts again on them, and a failure of the old ones
// may be said again.
void Recorder::restartWeb()
{
    stopWeb();
    healed(QLatin1String(kWebNotice));
    startWeb();
    emit statusChanged();
}

void Recorder::publishWebStatus()
{
    if (!m_web)
        return;
    web::StatusSnapshot s;
    s.station = QDir(programFolder()).dirName();
    s.recording = m_session->isRecording();
    const RecorderStatus shown = status();
    s.status = shown.text;
    s.statusKind = QLatin1String(statusKindWord(shown.kind));
    if (shown.kind == StatusKind::Failed)
        s.failure = shown.text;
    s.file = s.recording ? m_session->currentFile() : QString();
    s.elapsedSeconds = s.recording ? m_session->elapsedSeconds() : 0;
    const std::uint32_t word = m_session->level();
    if (word != audio::kNoLevel)
        s.levelDbfs = std::array<double, 2>{recording::peakToDbfs(word & 0xFFFFu), recording::peakToDbfs(word >> 16)};
    // As the disk watch last measured it (every few seconds, warning or not).
    if (const qint64 seconds = m_diskWatch.secondsLeft(); seconds >= 0) {
        s.diskFreeSeconds = seconds;
        s.diskLeft = seconds >= 86400 ? QStringLiteral("%1 d %2").arg(seconds / 86400).arg(core::formatHms(seconds % 86400))
                                      : core::formatHms(seconds);
    }
    const QDateTime now = QDateTime::currentDateTime();
    const std::vector<QDateTime> next = m_planner.upcoming(now, 8LL * 24 * 3600 * 1000, m_scheduleModel.list(), true);
    if (!next.empty())
        s.nextEntry = next.front();
    s.silence = m_watch.isSilent();
    s.captureLost = m_webCounts.captureLost;
    s.encoderRestarts = m_webCounts.encoderRestarts;
    s.droppedSeconds = m_webCounts.droppedSeconds;
    m_webBoard.publishStatus(std::move(s));
}

void Recorder::publishWebArchive()
{
    if (!m_web)
        return;
    std::vector<web::ArchiveItem> items;
    const archive::ArchiveList &records = m_archive->records();
    items.reserve(records.size());
    for (auto it = records.rbegin(); it != records.rend(); ++it) {
        const QDateTime start = it->start > 0 ? core::fromDayCount(it->start) : QDateTime();
        items.push_back({web::recordingId(it->path), start, it->lengthSeconds, it->path});
    }
    std::stable_sort(items.begin(), items.end(), [](const web::ArchiveItem &a, const web::ArchiveItem &b) {
        return a.start > b.start;
    });
    m_webBoard.publishArchive(std::move(items));
    m_webArchiveGeneration = m_archive->generation();
}

void Recorder::publishWebStrings()
{
    QMap<QString, QString> strings;
    const core::Ini language = i18n::languageFileOf(programPath(core::files::languages()), m_settings.lang);
    for (const core::Ini::Section &section : language.parseAll())
        if (section.name.compare(QLatin1String("Web"), Qt::CaseInsensitive) == 0)
            for (const core::Ini::Entry &entry : section.entries)
                strings.insert(entry.key, entry.value);
    m_webBoard.publishStrings(std::move(strings));
}

// What the metrics count since the start: every loss of the capture, restarted encoder and
// second of audio dropped.
void Recorder::countForWeb(const recording::SessionEvent &event)
{
    using Kind = recording::SessionEventKind;
    if (event.kind == Kind::CaptureLost)
        ++m_webCounts.captureLost;
    else if (event.kind == Kind::EncoderRestarted)
        ++m_webCounts.encoderRestarts;
    else if (event.kind == Kind::AudioDropped && m_session->sampleRate() > 0)
        m_webCounts.droppedSeconds += double(event.droppedBytes) / (double(m_session->sampleRate()) * audio::kBytesPerFrame);
}

// Once a second, from the watch.
void Recorder::refreshWeb()
{
    if (!m_web)
        return;
    if (m_archive->generation() != m_webArchiveGeneration)
        publishWebArchive();
    publishWebStatus();
}

}  // namespace app
