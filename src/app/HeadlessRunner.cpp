#include "app/HeadlessRunner.h"

#include "app/Logging.h"
#include "app/ProgramFolder.h"
#include "app/Recorder.h"
#include "app/RemoteCommands.h"

#include <QRegularExpression>

namespace app {

HeadlessRunner::HeadlessRunner()
{
    // Standard error is the only place a user looks: every line the program logs (the
    // recorder's failures with their causes, recoveries) gets the time it happened.
    qSetMessagePattern(QStringLiteral("%{time yyyy-MM-dd hh:mm:ss} %{if-category}%{category}: %{endif}"
                                      "%{if-warning}warning: %{endif}%{if-critical}error: %{endif}%{message}"));
    m_recorder = std::make_unique<Recorder>();
    connect(m_recorder.get(), &Recorder::statusChanged, this, &HeadlessRunner::reportStatus);
    // failureRaised needs no line of its own: the recorder logs each failure and notice with
    // its cause as it raises it, those of the start-up included.
    m_recorder->listenForNotices();

    m_commands = std::make_unique<CommandServer>(*m_recorder);
    QString error;
    const bool listening = m_commands->listen(programFolder(), &error);
    qCInfo(lcApp).noquote() << "running without a window on" << programFolder()
                            << (listening ? QStringLiteral("(commands: %1)").arg(m_commands->socketPath()) : QString());
    if (!listening)
        qCWarning(lcApp).noquote() << error;
    m_recorder->start();
}

HeadlessRunner::~HeadlessRunner() = default;

void HeadlessRunner::close()
{
    m_commands.reset();  // no command may start a recording while the close waits
    m_recorder->close();
    qCInfo(lcApp).noquote() << "closed";
}

void HeadlessRunner::reload()
{
    QString error;
    if (!m_recorder->isClosed())
        (void)m_recorder->reloadFiles(&error);  // a failure is logged with its cause
}

void HeadlessRunner::reportStatus()
{
    const QString file = m_recorder->isRecording() ? m_recorder->currentFile() : QString();
    if (file != m_file) {
        if (!m_file.isEmpty())
            qCInfo(lcApp).noquote() << "recording stopped:" << m_file;
        if (!file.isEmpty())
            qCInfo(lcApp).noquote() << "recording started:" << file;
        m_file = file;
    }
    // Anything but the plain "recording" or "stopped" is trouble: a failed start, an
    // encoder that ended, audio lost during a recording that goes on.
    const RecorderStatus status = m_recorder->status();
    const i18n::StringTable &words = m_recorder->strings();
    const bool plain = status.text == words.statusRecording || status.text == words.statusStopped;
    const QString failure = plain ? QString() : status.text;
    // A running time in the text ("silence 0:01:05", "disk: 5:12 left") changes as it runs:
    // one line for the condition, not one a second or a minute.
    static const QRegularExpression runningTime(QStringLiteral("\\d+:\\d\\d(:\\d\\d)?"));
    if (QString(failure).remove(runningTime) == QString(m_failure).remove(runningTime))
        return;
    if (!failure.isEmpty())
        qCWarning(lcApp).noquote() << "status:" << failure;
    else
        qCInfo(lcApp).noquote() << "status:" << status.text;  // the trouble is over
    m_failure = failure;
}

}  // namespace app
