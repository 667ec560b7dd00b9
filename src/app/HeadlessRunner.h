#pragma once
// The front-end without a window (`vantrel --headless`): the same Recorder on the same
// program folder, with its schedule, recordings, archive, retention sweep and files, for a
// machine without a display. What the window shows goes to standard error instead, one
// timestamped line per change (a recording started or stopped, a failure, a recovery), and
// commands come from `vantrel --command` through the CommandServer, or from SIGHUP (reload).
//
// Threads: everything here runs on the main thread.

#include <QObject>
#include <QString>

#include <memory>

namespace app {

class CommandServer;
class Recorder;

class HeadlessRunner : public QObject {
    Q_OBJECT
public:
    // Opens the recorder of app::programFolder() and starts it.
    HeadlessRunner();
    ~HeadlessRunner() override;

    // As the window's close: the running recording is finished and archived and every file
    // written; the window's layout in the settings file stays as it was.
    void close();
    // SIGHUP: the settings, the default schedule and the presets read again ("reload").
    void reload();

private:
    void reportStatus();

    std::unique_ptr<Recorder> m_recorder;
    std::unique_ptr<CommandServer> m_commands;  // goes before the recorder it calls
    QString m_file;     // the file being recorded as last reported; empty when none
    QString m_failure;  // the failure last reported; empty when none
};

}  // namespace app
