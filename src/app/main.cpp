// Program entry: the program folder, the command line, and a window that SIGTERM and
// SIGINT close like the user would (so a running recording is finished and archived).

#include "app/DeviceListing.h"
#include "app/InstanceLock.h"
#include "app/MainWindow.h"
#include "app/ProgramFolder.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QSocketNotifier>

#include <csignal>
#include <memory>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

bool hasDisplay()
{
    return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ||
           qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
}

// Signals reach the GUI thread through a socket pair; the handler only writes one byte.
void closeOnTerminationSignals(QWidget *window)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, window);
    QObject::connect(notifier, &QSocketNotifier::activated, window, [window] {
        char byte;
        [[maybe_unused]] ssize_t n = ::read(g_signalPipe[0], &byte, 1);
        window->close();
    });
    struct sigaction sa = {};
    sa.sa_handler = onTerminationSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
}

}  // namespace

int main(int argc, char *argv[])
{
    // The window needs a display; everything else (the folder lock, the device lists) does
    // not, so the application object is only as much as the run needs.
    std::unique_ptr<QCoreApplication> application;
    if (hasDisplay())
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
    parser.addOption(homeOption);
    parser.addOption(listDevicesOption);
    parser.process(*application);
    const QString home = parser.value(homeOption);
    app::setProgramFolder(home.isEmpty() ? QCoreApplication::applicationDirPath() : home);

    if (parser.isSet(listDevicesOption))
        return app::printDeviceLists(stdout);

    // One instance per program folder, decided before anything is read or written there.
    // Without a display the window cannot open anyway, but the message that the folder is
    // taken is the more useful one.
    QString lockFailure;
    const auto lock = app::InstanceLock::acquire(app::programFolder(), &lockFailure);
    if (!lock) {
        std::fprintf(stderr, "vantrel: %s\n", qPrintable(lockFailure));
        if (hasDisplay())
            QMessageBox::critical(nullptr, QStringLiteral("Vantrel"), lockFailure + QLatin1Char('.'));
        return 2;
    }

    if (!hasDisplay()) {
        std::fprintf(stderr, "vantrel: no display to open a window on (DISPLAY and WAYLAND_DISPLAY are unset); "
                             "start it from a desktop session or under xvfb-run.\n");
        return 1;
    }

    MainWindow window;
    closeOnTerminationSignals(&window);
    window.show();
    return QCoreApplication::exec();
}
