#include "audio/DeviceLists.h"

namespace audio {

namespace {

constexpr int kQueryTimeoutMs = 2000;

QString text(const char *utf8)
{
    return utf8 ? QString::fromUtf8(utf8) : QString();
}

void onSink(pa_context *, const pa_sink_info *info, int eol, void *userdata)
{
    if (eol == 0 && info)
        static_cast<QStringList *>(userdata)->append(text(info->description));
}

void onSinkName(pa_context *, const pa_sink_info *info, int eol, void *userdata)
{
    if (eol == 0 && info)
        static_cast<std::vector<std::string> *>(userdata)->push_back(info->name ? info->name : "");
}

void onSource(pa_context *, const pa_source_info *info, int eol, void *userdata)
{
    if (eol != 0 || !info)
        return;
    SourceEntry entry;
    entry.name = info->name ? info->name : "";
    entry.description = text(info->description);
    for (std::uint32_t i = 0; i < info->n_ports; ++i) {
        const pa_source_port_info *port = info->ports[i];
        if (port)
            entry.ports.push_back({port->name ? port->name : "", text(port->description)});
    }
    static_cast<std::vector<SourceEntry> *>(userdata)->push_back(std::move(entry));
}

void onServerInfo(pa_context *, const pa_server_info *info, void *userdata)
{
    if (info && info->default_source_name)
        *static_cast<std::string *>(userdata) = info->default_source_name;
}

void onSuccess(pa_context *, int success, void *userdata)
{
    *static_cast<int *>(userdata) = success;
}

}  // namespace

QStringList sinkDescriptions(PulseConnection &connection)
{
    QStringList sinks;
    LoopLock lock(connection.loop());
    if (!connection.isReady())
        return {};
    if (!connection.finish(pa_context_get_sink_info_list(connection.context(), &onSink, &sinks),
                           kQueryTimeoutMs))
        return {};
    return sinks;
}

std::vector<std::string> sinkNames(PulseConnection &connection)
{
    std::vector<std::string> sinks;
    LoopLock lock(connection.loop());
    if (!connection.isReady())
        return {};
    if (!connection.finish(
            pa_context_get_sink_info_list(connection.context(), &onSinkName, &sinks),
            kQueryTimeoutMs))
        return {};
    return sinks;
}

std::vector<SourceEntry> listSources(PulseConnection &connection)
{
    std::vector<SourceEntry> sources;
    LoopLock lock(connection.loop());
    if (!connection.isReady())
        return {};
    if (!connection.finish(
            pa_context_get_source_info_list(connection.context(), &onSource, &sources),
            kQueryTimeoutMs))
        return {};
    return sources;
}

std::string defaultSourceName(PulseConnection &connection)
{
    std::string name;
    LoopLock lock(connection.loop());
    if (!connection.isReady())
        return {};
    connection.finish(pa_context_get_server_info(connection.context(), &onServerInfo, &name),
                      kQueryTimeoutMs);
    return name;
}

SourceEntry recordingSource(PulseConnection &connection, int device)
{
    std::vector<SourceEntry> sources = listSources(connection);
    if (device >= 1) {
        if (static_cast<std::size_t>(device) <= sources.size())
            return sources[static_cast<std::size_t>(device) - 1];
        return {};
    }
    const std::string fallback = defaultSourceName(connection);
    for (SourceEntry &source : sources) {
        if (source.name == fallback)
            return source;
    }
    return {};
}

bool setSourcePort(PulseConnection &connection, const std::string &source,
                   const std::string &port)
{
    int success = 0;
    LoopLock lock(connection.loop());
    if (!connection.isReady())
        return false;
    const bool answered = connection.finish(
        pa_context_set_source_port_by_name(connection.context(), source.c_str(), port.c_str(),
                                           &onSuccess, &success),
        kQueryTimeoutMs);
    return answered && success != 0;
}

}  // namespace audio
