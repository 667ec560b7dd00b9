// Program entry: the program folder, the command line, and the front-end (the window, or
// none with --headless) that SIGTERM and SIGINT close like the user would (so a running
// recording is finished and archived), or a command to a running instance. SIGHUP reloads
// the files of a headless instance, as services do, and closes a window.

#include "app/DesktopNotifier.h"
#include "app/DeviceListing.h"
#include "app/HeadlessRunner.h"
#include "app/InstanceLock.h"
#include "app/MainWindow.h"
#include "app/ProgramFolder.h"
#include "app/RemoteCommands.h"
#include "app/SettingsFile.h"
#include "core/Ini.h"
#include "core/ProgramFiles.h"
#include "ledger/LedgerCommands.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QSocketNotifier>

#include <csignal>
#include <functional>
#include <memory>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A second start asks the first to show its window; both answers together stay within 1 s.
constexpr int kShowWindowMs = 700;
constexpr int kNotifyMs = 250;

int g_signalPipe[2] = {-1, -1};

// The byte written is the signal's number, so that the main thread can tell them apart.
void onSignal(int signal)
{
    const char byte = char(signal);
    [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

bool hasDisplay()
{
    return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ||
           qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
}

// The runs that never open a window, whatever the display: they make no QApplication.
bool runsWithoutWindow(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--headless" || arg == "--command" || arg.startsWith("--command=") || arg == "--verify"
            || arg == "--coverage" || arg == "--export" || arg == "--hold" || arg == "--holds" || arg == "--release"
            || arg.startsWith("--release="))
            return true;
    }
    return false;
}

// Signals reach the main thread through a socket pair; the handler only writes one byte.
// SIGTERM and SIGINT close; SIGHUP reloads when `reload` is given (a service), else closes
// (the terminal went away).
void handleSignals(QObject *frontEnd, const std::function<void()> &close, const std::function<void()> &reload = {})
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, frontEnd);
    QObject::connect(notifier, &QSocketNotifier::activated, frontEnd, [notifier, close, reload] {
        char byte = 0;
        [[maybe_unused]] ssize_t n = ::read(g_signalPipe[0], &byte, 1);
        if (byte == SIGHUP && reload) {
            reload();
            return;
        }
        notifier->setEnabled(false);  // a second signal while closing changes nothing
        close();
    });
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
}

// The texts of the language the settings name, for what is said before the front-end runs.
i18n::StringTable startupTexts()
{
    const app::Settings settings = app::readSettings(core::Ini::load(app::programPath(core::files::settings())));
    return i18n::readStringTable(i18n::languageFileOf(app::programPath(core::files::languages()), settings.lang), {});
}

}  // namespace

int main(int argc, char *argv[])
{
    // The window needs a display; everything else (the folder lock, the device lists) does
    // not, so the application object is only as much as the run needs.
    std::unique_ptr<QCoreApplication> application;
    const bool windowed = hasDisplay() && !runsWithoutWindow(argc, argv);
    if (windowed)
        application = std::make_unique<QApplication>(argc, argv);
    else
        application = std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Vantrel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VANTREL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Vantrel, an audio logger."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption homeOption(
        QStringLiteral("home"), QStringLiteral("Use <dir> as the program folder instead of the program's own."),
        QStringLiteral("dir"));
    const QCommandLineOption listDevicesOption(
        QStringLiteral("list-devices"),
        QStringLiteral("Print the numbered playback devices, recording devices and inputs of the recording "
                       "device, then exit."));
    const QCommandLineOption headlessOption(
        QStringLiteral("headless"),
        QStringLiteral("Run without a window: the schedule, recordings and archive as usual, status lines on "
                       "standard error. SIGTERM and SIGINT close it; SIGHUP reloads its files (as --command reload)."));
    const QCommandLineOption commandOption(
        QStringLiteral("command"),
        QStringLiteral("Send <command> (record, stop, status, reload: read the settings, schedule and presets "
                       "again, or show: bring the window to the front) to the Vantrel running on the program "
                       "folder, print its answer and exit (3: none runs)."),
        QStringLiteral("command"));
    const QCommandLineOption verifyOption(
        QStringLiteral("verify"),
        QStringLiteral("Check the recorded files of FROM to TO (all without them) against their checksums and "
                       "lengths; print each damaged or missing file and exit 1 when there is any."));
    const QCommandLineOption coverageOption(
        QStringLiteral("coverage"),
        QStringLiteral("Print, per day of DAY or FROM to TO (today without them), the time asked for, recorded, "
                       "lost, silent and damaged, and each lost or silent span."));
    const QCommandLineOption exportOption(
        QStringLiteral("export"),
        QStringLiteral("Cut FROM to TO out of the recordings into OUT (.wav, .flac or a preset's extension); "
                       "gaps become silence and are said."));
    const QCommandLineOption holdOption(
        QStringLiteral("hold"),
        QStringLiteral("Put FROM to TO on hold: no recording that overlaps it is removed (by the store time, for "
                       "free space or by Delete) until it is released. Prints the hold's ID."));
    const QCommandLineOption reasonOption(QStringLiteral("reason"), QStringLiteral("Why the span is held (--hold)."),
                                          QStringLiteral("text"));
    const QCommandLineOption holdsOption(
        QStringLiteral("holds"), QStringLiteral("List the holds: ID, span, when made and why."));
    const QCommandLineOption releaseOption(QStringLiteral("release"),
                                           QStringLiteral("End hold ID; its recordings age as the others do."),
                                           QStringLiteral("ID"));
    parser.addOption(homeOption);
    parser.addOption(listDevicesOption);
    parser.addOption(headlessOption);
    parser.addOption(commandOption);
    parser.addOption(verifyOption);
    parser.addOption(coverageOption);
    parser.addOption(exportOption);
    parser.addOption(holdOption);
    parser.addOption(reasonOption);
    parser.addOption(holdsOption);
    parser.addOption(releaseOption);
    parser.addPositionalArgument(
        QStringLiteral("times"),
        QStringLiteral("Local times such as 2026-12-09T10:58:00 (or a day, 2026-12-09, for --coverage), and OUT "
                       "for --export; FROM TO for --hold."),
        QStringLiteral("[FROM [TO [OUT]]]"));
    // A malformed command line (an option without its value) is said as every other refusal is.
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "vantrel: %s\n", qPrintable(parser.errorText()));
        return 1;
    }
    parser.process(*application);
    const QString home = parser.value(homeOption);
    const bool readsLedger = parser.isSet(verifyOption) || parser.isSet(coverageOption) || parser.isSet(exportOption)
                             || parser.isSet(holdOption) || parser.isSet(holdsOption) || parser.isSet(releaseOption);
    const bool runsOnFolder = !parser.isSet(listDevicesOption) && !parser.isSet(commandOption) && !readsLedger;
    QString folderFailure;
    if (!app::chooseProgramFolder(home, QCoreApplication::applicationDirPath(), runsOnFolder, &folderFailure)) {
        std::fprintf(stderr, "vantrel: %s\n", qPrintable(folderFailure));
        if (windowed)
            QMessageBox::critical(nullptr, QStringLiteral("Vantrel"), folderFailure + QLatin1Char('.'));
        return 1;
    }

    if (parser.isSet(listDevicesOption))
        return app::printDeviceLists(stdout);
    // A client of the running instance: it takes no lock and reads no file of the folder.
    if (parser.isSet(commandOption))
        return app::runRemoteCommand(parser.value(commandOption), app::programFolder());
    // The ledger's readers run beside a running instance, as its clients do.
    const QStringList times = parser.positionalArguments();
    if (parser.isSet(verifyOption)) return ledger::runVerify(app::programFolder(), times, stdout, stderr);
    if (parser.isSet(coverageOption)) return ledger::runCoverage(app::programFolder(), times, stdout, stderr);
    if (parser.isSet(exportOption)) return ledger::runExport(app::programFolder(), times, stdout, stderr);
    if (parser.isSet(reasonOption) && !parser.isSet(holdOption)) {
        std::fprintf(stderr, "vantrel: --reason goes with --hold\n");
        return 1;
    }
    if (parser.isSet(holdOption)) {
        const std::optional<QString> reason =
            parser.isSet(reasonOption) ? std::optional<QString>(parser.value(reasonOption)) : std::nullopt;
        return ledger::runHold(app::programFolder(), times, reason, stdout, stderr);
    }
    if (parser.isSet(holdsOption)) return ledger::runHolds(app::programFolder(), times, stdout, stderr);
    if (parser.isSet(releaseOption))
        return ledger::runRelease(app::programFolder(), QStringList{parser.value(releaseOption)} + times, stdout,
                                  stderr);

    // One instance per program folder, decided before anything is read or written there.
    // Without a display the window cannot open anyway, but the message that the folder is
    // taken is the more useful one.
    QString lockFailure;
    const auto lock = app::InstanceLock::acquire(app::programFolder(), &lockFailure, startupTexts());
    if (!lock) {
        // A second start never waits: the window of the first comes to the front, or, when
        // the first runs without one (or does not answer at once), the user is told who
        // holds the folder.
        if (windowed && app::askToShowWindow(app::programFolder(), kShowWindowMs))
            return 0;
        std::fprintf(stderr, "vantrel: %s\n", qPrintable(lockFailure));
        app::DesktopNotifier::notifyBeforeExit(QStringLiteral("Vantrel"), lockFailure + QLatin1Char('.'),
                                               kNotifyMs);
        return 2;
    }

    if (parser.isSet(headlessOption)) {
        app::HeadlessRunner runner;
        handleSignals(
            &runner,
            [&runner] {
                runner.close();
                QCoreApplication::quit();
            },
            [&runner] { runner.reload(); });
        return QCoreApplication::exec();
    }

    if (!hasDisplay()) {
        std::fprintf(stderr, "vantrel: no display to open a window on (DISPLAY and WAYLAND_DISPLAY are unset); "
                             "start it from a desktop session or under xvfb-run, or run it with --headless.\n");
        return 1;
    }

    MainWindow window;
    handleSignals(&window, [&window] { window.close(); });
    window.show();
    return QCoreApplication::exec();
}
