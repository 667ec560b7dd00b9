#include "web/Metrics.h"

#include <cmath>

namespace web {

namespace {

// A label value with backslash, quote and line feed escaped.
QByteArray labelValue(const QString &text)
{
    QByteArray v = text.toUtf8();
    v.replace('\\', "\\\\").replace('"', "\\\"").replace('\n', "\\n");
    return v;
}

QByteArray number(double value)
{
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
    return QByteArray::number(value, 'g', 12);
}

class Writer {
public:
    explicit Writer(const QString &station) : m_station("station=\"" + labelValue(station) + '"') {}

    void family(const char *name, const char *type, const char *help)
    {
        m_out += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
    }
    void sample(const char *name, double value, const QByteArray &labels = {})
    {
        m_out += QByteArray(name) + '{' + m_station + (labels.isEmpty() ? QByteArray() : ',' + labels) + "} "
            + number(value) + '\n';
    }
    void one(const char *name, const char *type, const char *help, double value)
    {
        family(name, type, help);
        sample(name, value);
    }
    QByteArray text() const { return m_out; }

private:
    QByteArray m_station;
    QByteArray m_out;
};

}  // namespace

QByteArray renderMetrics(const StatusSnapshot &s, const LedgerFigures &ledger)
{
    Writer w(s.station);
    w.one("vantrel_recording", "gauge", "1 while a recording runs.", s.recording ? 1 : 0);
    w.one("vantrel_failure", "gauge", "1 while the status line shows a failure.", s.statusKind == QLatin1String("failed") ? 1 : 0);
    w.one("vantrel_elapsed_seconds", "gauge", "Length of the running recording so far.", double(s.elapsedSeconds));
    if (s.levelDbfs) {
        w.family("vantrel_level_dbfs", "gauge", "Peak level of the capture per channel, dB full scale.");
        w.sample("vantrel_level_dbfs", (*s.levelDbfs)[0], "channel=\"left\"");
        w.sample("vantrel_level_dbfs", (*s.levelDbfs)[1], "channel=\"right\"");
    }
    if (s.diskFreeSeconds)
        w.one("vantrel_disk_free_seconds", "gauge", "Recording time left on the save folder's disk at the current rate.",
              double(*s.diskFreeSeconds));
    w.one("vantrel_capture_lost_total", "counter", "Times the capture was lost since the program started.",
          double(s.captureLost));
    w.one("vantrel_encoder_restarts_total", "counter", "Encoders restarted since the program started.",
          double(s.encoderRestarts));
    w.one("vantrel_dropped_seconds_total", "counter", "Seconds of audio dropped since the program started.",
          s.droppedSeconds);
    w.one("vantrel_silence", "gauge", "1 while the input has been silent for the silence alarm's time.", s.silence ? 1 : 0);
    w.one("vantrel_files_total", "counter", "Recordings the coverage ledger holds.", double(ledger.files));
    w.one("vantrel_damaged_files_total", "counter", "Recordings the verification found damaged.", double(ledger.damagedFiles));
    if (ledger.coverageToday) {
        w.family("vantrel_coverage_ratio", "gauge", "Share of the time asked for today that was recorded.");
        w.sample("vantrel_coverage_ratio", *ledger.coverageToday, "day=\"today\"");
    }
    if (s.nextEntry)
        w.one("vantrel_next_entry_timestamp_seconds", "gauge", "When the next schedule entry is due, Unix time.",
              double(s.nextEntry->toSecsSinceEpoch()));
    return w.text();
}

}  // namespace web
