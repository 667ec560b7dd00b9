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
    bool listDevices = false;
    QString home;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == QLatin1String("--list-devices")) {
            listDevices = true;
        } else if (arg == QLatin1String("--home") && i + 1 < argc) {
            home = QString::fromLocal8Bit(argv[++i]);
        } else if (arg.startsWith(QLatin1String("--home="))) {
            home = arg.mid(7);
        } else if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            std::printf("Usage: vantrel [--home DIR] [--list-devices]\n"
                        "  --home DIR       use DIR as the program folder instead of the program's own\n"
                        "  --list-devices   print the numbered playback devices, recording devices and\n"
                        "                   inputs of the recording device, then exit\n");
            return 0;
        } else if (arg == QLatin1String("--version")) {
            std::printf("Vantrel %s\n", VANTREL_VERSION);
            return 0;
        }
    }

    if (listDevices) {
        QCoreApplication core(argc, argv);
        app::setProgramFolder(home.isEmpty() ? QCoreApplication::applicationDirPath() : home);
        return app::printDeviceLists(stdout);
    }

    // One instance per program folder, decided before anything is read or written there.
    // Without a display the window cannot open anyway, but the message that the folder is
    // taken is the more useful one.
    std::unique_ptr<QCoreApplication> application;
    if (hasDisplay())
        application = std::make_unique<QApplication>(argc, argv);
    else
        application = std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Vantrel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VANTREL_VERSION));
    app::setProgramFolder(home.isEmpty() ? QCoreApplication::applicationDirPath() : home);

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
