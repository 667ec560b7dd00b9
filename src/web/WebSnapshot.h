#pragma once
// What the web server shows of the recorder, published by the recorder on its own thread and
// read by the server's threads: the server never calls into the recorder. The status is
// published every second (the recorder's watch); the archive when it changed or was loaded.

#include <QDateTime>
#include <QMap>
#include <QString>

#include <array>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace web {

struct StatusSnapshot {
    QString station;  // the program folder's name
    bool recording = false;
    QString status;   // the status line's words
    QString statusKind = QStringLiteral("stopped");  // stopped, recording, warning, failed
    QString file;     // the running recording's path; empty when none
    qint64 elapsedSeconds = 0;
    std::optional<std::array<double, 2>> levelDbfs;  // left, right; none while idle
    std::optional<qint64> diskFreeSeconds;           // recording time left on disk
    QString diskLeft;
    std::optional<QDateTime> nextEntry;
    QString failure;  // the failure the status line shows in red; empty when none
    bool silence = false;
    quint64 captureLost = 0;      // since the program started
    quint64 encoderRestarts = 0;
    double droppedSeconds = 0;
};

struct ArchiveItem {
    QString id;  // recordingId(path)
    QDateTime start;  // local; invalid when unknown
    qint32 lengthSeconds = 0;
    QString path;
};

// A record's id: 16 hex digits of the SHA-256 of its path. It names the same recording across
// restarts and sweeps and says nothing of the path.
QString recordingId(const QString &path);

class SnapshotBoard {
public:
    void publishStatus(StatusSnapshot status);
    void publishArchive(std::vector<ArchiveItem> newestFirst);
    void publishStrings(QMap<QString, QString> strings);

    StatusSnapshot status() const;
    std::shared_ptr<const std::vector<ArchiveItem>> archive() const;
    QMap<QString, QString> strings() const;
    // The archive item of `id`; nullopt when there is none.
    std::optional<ArchiveItem> item(const QString &id) const;

private:
    mutable std::mutex m_mutex;
    StatusSnapshot m_status;
    std::shared_ptr<const std::vector<ArchiveItem>> m_archive = std::make_shared<std::vector<ArchiveItem>>();
    QMap<QString, QString> m_strings;
};

}  // namespace web
