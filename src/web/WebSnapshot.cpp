#include "web/WebSnapshot.h"

#include <QCryptographicHash>

namespace web {

QString recordingId(const QString &path)
{
    return QString::fromLatin1(QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha256).toHex().left(16));
}

void SnapshotBoard::publishStatus(StatusSnapshot status)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_status = std::move(status);
}

void SnapshotBoard::publishArchive(std::vector<ArchiveItem> newestFirst)
{
    auto archive = std::make_shared<const std::vector<ArchiveItem>>(std::move(newestFirst));
    std::lock_guard<std::mutex> lock(m_mutex);
    m_archive = std::move(archive);
}

void SnapshotBoard::publishStrings(QMap<QString, QString> strings)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_strings = std::move(strings);
}

StatusSnapshot SnapshotBoard::status() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_status;
}

std::shared_ptr<const std::vector<ArchiveItem>> SnapshotBoard::archive() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_archive;
}

QMap<QString, QString> SnapshotBoard::strings() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_strings;
}

std::optional<ArchiveItem> SnapshotBoard::item(const QString &id) const
{
    const auto items = archive();
    for (const ArchiveItem &it : *items)
        if (it.id == id)
            return it;
    return std::nullopt;
}

}  // namespace web
