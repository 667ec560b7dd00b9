#pragma once
// Sinks, sources and ports as the server lists them, queried afresh on every call (devices
// come and go while the program runs). Callers hold no lock; each query waits a bounded time.

#include "audio/PulseConnection.h"

#include <QString>
#include <QStringList>

#include <string>
#include <vector>

namespace audio {

struct PortEntry {
    std::string name;
    QString description;
};

struct SourceEntry {
    std::string name;
    QString description;
    std::vector<PortEntry> ports;
};

QStringList sinkDescriptions(PulseConnection &connection);
// Server names of the sinks, in the same order as sinkDescriptions().
std::vector<std::string> sinkNames(PulseConnection &connection);
std::vector<SourceEntry> listSources(PulseConnection &connection);
std::string defaultSourceName(PulseConnection &connection);

// The source that recording device number `device` stands for: 0 and below mean the
// server's default source. Empty when the server does not list it.
SourceEntry recordingSource(PulseConnection &connection, int device);

// Makes `port` the active port of `source`; false when the server refuses or does not answer.
bool setSourcePort(PulseConnection &connection, const std::string &source,
                   const std::string &port);

}  // namespace audio
