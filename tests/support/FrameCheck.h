#pragma once
// The test sound server's counting signal: each 48000 Hz s16le stereo frame carries its own
// number (left = low 16 bits, right = high 16 bits), so a recording shows exactly which
// frames it lost or repeated. FrameSequence checks the numbers of recorded frames, across
// the files a recording was split into; TestSignal switches the server's signal.
#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QtEndian>

namespace testsupport {

// Frame numbers wrap after 2^32 frames (24.8 hours), so order is judged modulo 2^32.
inline quint32 countedFrameNumber(const char *frame)
{
    return quint32(qFromLittleEndian<quint16>(frame)) | quint32(qFromLittleEndian<quint16>(frame + 2)) << 16;
}

enum class FrameDelivery {
    ExactlyOnce,  // every number from the first to the last once, in order
    AtLeastOnce,  // in order and without a gap; where one part joins the next, the next may
                  // begin by repeating up to maxRepeatFrames frames the previous one ended with
};

struct FrameCheckResult {
    bool ok = false;
    QString message;  // the first fault, with file and offset; a summary when ok
    qint64 totalFrames = 0;
    quint32 firstNumber = 0;
    quint32 lastNumber = 0;
};

// Fed the frames of one or more parts (files) in order; stops at the first fault.
class FrameSequence {
public:
    // PipeWire's quantum at 48000 Hz: the most a capture's start block holds.
    static constexpr qint64 kStartBlockFrames = 1024;

    explicit FrameSequence(FrameDelivery delivery = FrameDelivery::ExactlyOnce, qint64 maxRepeatFrames = 0)
        : m_delivery(delivery), m_maxRepeatFrames(maxRepeatFrames)
    {
    }

    // Breaks a reference capture of the same source heard too, by the number of the last
    // frame before each: the source itself went on elsewhere there (the feed ran dry), so a
    // recording that follows it, skipping ahead or through zeros, is not at fault. Nor is
    // one block of frames that are not the signal there (PipeWire may hand on a quantum with
    // one channel zeroed, and every capture of the source hears it).
    void excuseBreaksAfter(QSet<quint32> numbers) { m_heardBreaks = std::move(numbers); }

    // On PipeWire the server itself now and then hands a capture one quantum that is not the
    // signal (a channel zeroed, or zeros) or leaves one out, without a word to the client and
    // not always to every capture alike. Inside a part, such a disturbance of up to
    // kStartBlockFrames is excused and counted when the count resumes in step after it (or a
    // whole number of quanta on); at a join it is still a fault. Off unless set.
    void excuseServerQuanta(bool on) { m_serverQuanta = on; }
    static constexpr qint64 kQuantumFrames = 256;

    // dataOffset: the byte offset of the part's first frame in its file, for messages.
    void beginPart(const QString &name, qint64 dataOffset = 0)
    {
        m_disturbed = 0;
        m_part = name;
        m_dataOffset = dataOffset;
        ++m_parts;
        m_frameInPart = 0;
    }

    // pcm holds whole frames. False once a fault has been found. Zero frames before the
    // first counted one are skipped (a feed that has not started). So is the start block: a
    // fresh capture on PipeWire begins with one block of at most kStartBlockFrames that is
    // not the signal, zeros or, on a loaded machine, a block left over from seconds before;
    // frames of the first part's start block that the next ones do not continue are dropped.
    // Any other break is a fault.
    bool add(const char *pcm, qint64 bytes)
    {
        for (qint64 i = 0; i + 4 <= bytes && m_fault.isEmpty(); i += 4, ++m_frameInPart) {
            const quint32 number = countedFrameNumber(pcm + i);
            const bool inStartBlock = m_parts == 1 && m_frameInPart < kStartBlockFrames;
            if (m_total > 0 && number != m_last + 1 && inStartBlock) {
                m_skippedAtStart += m_total;
                m_total = 0;
            }
            if (m_total == 0 && number == 0) {
                ++m_skippedAtStart;
                continue;
            }
            if (m_total > 0 && number != m_last + 1 && m_heardBreaks.contains(m_last)) {
                if (number == 0) continue;  // the zeros of a dry feed
                if (qint32(number - m_last) > 0) {
                    ++m_excused;
                    m_garbled = 0;
                } else if (++m_garbled <= kStartBlockFrames) {
                    continue;
                } else {
                    judgeBreak(number);
                }
            } else if (m_total > 0 && number != m_last + 1 && m_serverQuanta && m_frameInPart > 0) {
                const qint64 ahead = qint32(number - (m_last + 1));
                if (ahead > 0 && ahead <= kStartBlockFrames && (ahead == m_disturbed || ahead % kQuantumFrames == 0)) {
                    ++m_quanta;
                    m_disturbed = 0;
                } else if (++m_disturbed <= kStartBlockFrames) {
                    continue;
                } else {
                    judgeBreak(number);
                }
            } else if (m_total > 0 && number != m_last + 1) {
                judgeBreak(number);
            } else {
                m_disturbed = 0;
            }
            if (m_total == 0)
                m_first = number;
            m_last = number;
            ++m_total;
        }
        return m_fault.isEmpty();
    }

    bool faulted() const { return !m_fault.isEmpty(); }

    void fail(const QString &fault)
    {
        if (m_fault.isEmpty())
            m_fault = fault;
    }

    FrameCheckResult result() const
    {
        FrameCheckResult r;
        r.totalFrames = m_total;
        r.firstNumber = m_first;
        r.lastNumber = m_last;
        r.ok = m_fault.isEmpty() && m_total > 0;
        r.message = !m_fault.isEmpty() ? m_fault
                    : m_total == 0     ? QStringLiteral("no counted frames")
                                       : QStringLiteral("%1 frames, #%2 to #%3").arg(m_total).arg(m_first).arg(m_last);
        if (m_fault.isEmpty() && m_skippedAtStart > 0)
            r.message += QStringLiteral(" after %1 frames before the signal").arg(m_skippedAtStart);
        if (m_fault.isEmpty() && m_excused > 0)
            r.message += QStringLiteral(", across %1 break(s) of the source that the reference heard too").arg(m_excused);
        if (m_fault.isEmpty() && m_quanta > 0)
            r.message += QStringLiteral(", across %1 quantum(s) the server garbled or left out").arg(m_quanta);
        return r;
    }

private:
    void judgeBreak(quint32 number)
    {
        const qint32 ahead = qint32(number - (m_last + 1));  // > 0: frames skipped; <= 0: repeated
        const bool atJoin = m_frameInPart == 0;
        if (ahead < 0 && atJoin && m_delivery == FrameDelivery::AtLeastOnce && -qint64(ahead) <= m_maxRepeatFrames)
            return;
        const QString what = ahead > 0 ? QStringLiteral("gap of %1 frames").arg(ahead)
                                       : QStringLiteral("repeat of %1 frames").arg(-qint64(ahead));
        fail(QStringLiteral("%1 in %2 at frame %3 (byte %4): #%5 follows #%6%7")
                 .arg(what, m_part)
                 .arg(m_frameInPart)
                 .arg(m_dataOffset + 4 * m_frameInPart)
                 .arg(number)
                 .arg(m_last)
                 .arg(atJoin ? QStringLiteral(" at the join") : QString()));
    }

    FrameDelivery m_delivery;
    qint64 m_maxRepeatFrames;
    QString m_part;
    qint64 m_dataOffset = 0;
    qint64 m_frameInPart = 0;
    qint64 m_total = 0;
    qint64 m_skippedAtStart = 0;
    int m_parts = 0;
    quint32 m_first = 0;
    quint32 m_last = 0;
    QSet<quint32> m_heardBreaks;
    int m_excused = 0;
    qint64 m_garbled = 0;  // frames skipped after the current heard break
    bool m_serverQuanta = false;
    qint64 m_disturbed = 0;  // frames not in step since the last counted one
    int m_quanta = 0;
    QString m_fault;
};

// Finds the PCM data of a 16-bit stereo PCM WAV file by walking its RIFF chunks. A data size
// of 0 or 0xFFFFFFFF (a writer that never learnt it) means up to the end of the file.
inline bool findWavData(QFile &file, qint64 *dataOffset, qint64 *dataBytes, QString *error)
{
    const QByteArray riff = file.read(12);
    if (riff.size() < 12 || !riff.startsWith("RIFF") || riff.mid(8, 4) != "WAVE") {
        *error = QStringLiteral("not a RIFF/WAVE file");
        return false;
    }
    bool formatSeen = false;
    for (;;) {
        const QByteArray chunk = file.read(8);
        if (chunk.size() < 8) {
            *error = QStringLiteral("no data chunk");
            return false;
        }
        const quint32 size = qFromLittleEndian<quint32>(chunk.constData() + 4);
        if (chunk.startsWith("data")) {
            if (!formatSeen) {
                *error = QStringLiteral("data before the fmt chunk");
                return false;
            }
            *dataOffset = file.pos();
            const qint64 available = file.size() - file.pos();
            *dataBytes = size == 0 || size == 0xFFFFFFFFu ? available - available % 4 : qint64(size);
            if (*dataBytes > available || *dataBytes % 4 != 0) {
                *error = QStringLiteral("data chunk of %1 bytes, but %2 in the file").arg(size).arg(available);
                return false;
            }
            return true;
        }
        const QByteArray body = file.read(size + (size & 1));
        if (chunk.startsWith("fmt ")) {
            const quint16 format = body.size() >= 16 ? qFromLittleEndian<quint16>(body.constData()) : 0;
            if ((format != 1 && format != 0xFFFE) || qFromLittleEndian<quint16>(body.constData() + 2) != 2
                || qFromLittleEndian<quint16>(body.constData() + 14) != 16) {
                *error = QStringLiteral("not 16-bit stereo PCM");
                return false;
            }
            formatSeen = true;
        }
    }
}

// The frame numbers of WAV files that hold one recording split in this order.
inline FrameCheckResult checkCountedFrames(const QStringList &wavFiles,
                                           FrameDelivery delivery = FrameDelivery::ExactlyOnce,
                                           qint64 maxRepeatFrames = 0, const QSet<quint32> &heardBreaks = {})
{
    FrameSequence sequence(delivery, maxRepeatFrames);
    sequence.excuseBreaksAfter(heardBreaks);
    sequence.excuseServerQuanta(qgetenv("VT_SOUND_SERVER") == "pipewire");
    for (const QString &path : wavFiles) {
        const QString name = QFileInfo(path).fileName();
        QFile file(path);
        qint64 offset = 0, bytes = 0;
        QString error;
        if (!file.open(QIODevice::ReadOnly))
            error = file.errorString();
        else
            findWavData(file, &offset, &bytes, &error);
        if (!error.isEmpty()) {
            sequence.fail(name + QStringLiteral(": ") + error);
            break;
        }
        sequence.beginPart(name, offset);
        for (; bytes > 0 && !sequence.faulted(); bytes -= 1 << 20) {
            const QByteArray block = file.read(qMin<qint64>(bytes, 1 << 20));
            if (block.size() != qMin<qint64>(bytes, 1 << 20))
                sequence.fail(name + QStringLiteral(": cannot read: ") + file.errorString());
            else
                sequence.add(block.constData(), block.size());
        }
        if (sequence.faulted())
            break;
    }
    return sequence.result();
}

// Raw frames, such as parec records: every number once, in order.
inline FrameCheckResult checkCountedFrames(const QByteArray &pcm, const QString &name = QStringLiteral("raw"))
{
    FrameSequence sequence;
    sequence.excuseServerQuanta(qgetenv("VT_SOUND_SERVER") == "pipewire");
    sequence.beginPart(name);
    sequence.add(pcm.constData(), pcm.size());
    return sequence.result();
}

// Switches the test sound server's signal (sine, count or silence) through
// scripts/sound-server.sh, found with VT_SOUND_DIR; back to the sine when it goes away.
class TestSignal {
public:
    TestSignal() = default;
    TestSignal(const TestSignal &) = delete;
    TestSignal &operator=(const TestSignal &) = delete;
    ~TestSignal()
    {
        if (m_switched)
            run(QStringLiteral("sine"), nullptr);
    }

    static bool isAvailable() { return !qEnvironmentVariableIsEmpty("VT_SOUND_DIR"); }

    // Returns at once; captures hear the change within about 0.3 s.
    bool set(const QString &mode, QString *error = nullptr)
    {
        m_switched = true;
        return run(mode, error);
    }

private:
    static bool run(const QString &mode, QString *error)
    {
        QProcess script;
        script.setProcessChannelMode(QProcess::MergedChannels);
        script.start(QStringLiteral(VT_SOURCE_DIR "/scripts/sound-server.sh"),
                     {QStringLiteral("signal"), qEnvironmentVariable("VT_SOUND_DIR"), mode});
        const bool ok = script.waitForFinished(10000) && script.exitStatus() == QProcess::NormalExit
                        && script.exitCode() == 0;
        if (!ok && error)
            *error = QString::fromLocal8Bit(script.readAll()).trimmed();
        return ok;
    }

    bool m_switched = false;
};

}  // namespace testsupport
