// bench_cuts PROGRAM WORK [--entries N --spacing S | --split-minutes N --minutes M]
//
// Runs PROGRAM headless on a program folder in WORK that records WAV at 48 kHz, while the
// test sound server plays its counting signal and a reference capture (ClockReference)
// dates every frame, and measures the files' cuts:
//   default           N Record entries (60) S seconds (3) apart and a Stop entry S after the last;
//   --split-minutes   one Record entry, SplitMinutes=N in vantrel.ini, and a Stop entry 5 s
//                     past the M-th whole minute after it.
// Prints per change the error of the file's first frame by the reference and by the
// program's own "begins" time in the event log, then the median and worst of each, whether
// the files hold every frame exactly once, and the CPU time of the program (and of its
// encoders that ended) beside the reference parec's, per minute of audio. Figures only: it
// judges nothing but whether the run happened (exit 1 when it did not).
//
// Needs PULSE_SERVER and VT_SOUND_DIR (bench/cuts/cuts.sh starts a server) and a private
// XDG_RUNTIME_DIR.
#include "core/DayCount.h"
#include "schedule/ScheduleFile.h"
#include "support/ClockReference.h"
#include "support/FileCuts.h"
#include "support/FrameCheck.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int kRate = 48000;

struct Plan {
    QList<QDateTime> begins;  // where each file should begin
    QDateTime stop;
    int splitMinutes = 0;
};

struct CpuTicks {
    qint64 own = 0;       // utime + stime
    qint64 children = 0;  // cutime + cstime: children waited for (the program's ended encoders)
};

CpuTicks cpuTicks(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');  // from field 3 on
    if (fields.size() < 15)
        return {};
    return {fields[11].toLongLong() + fields[12].toLongLong(), fields[13].toLongLong() + fields[14].toLongLong()};
}

QDateTime wholeSecond(const QDateTime &t) { return t.addMSecs(-t.time().msec()); }

void sleepUntil(const QDateTime &when)
{
    const qint64 ms = QDateTime::currentDateTime().msecsTo(when);
    if (ms > 0)
        QThread::msleep(ulong(ms));
}

schedule::ScheduleEntry entry(const QDateTime &when, qint32 action)
{
    schedule::ScheduleEntry e;
    e.time = core::toDayCount(when);
    e.action = action;
    return e;
}

Plan makePlan(int entries, int spacing, int splitMinutes, int minutes)
{
    Plan plan;
    const QDateTime first = wholeSecond(QDateTime::currentDateTime()).addSecs(6);
    plan.splitMinutes = splitMinutes;
    if (splitMinutes == 0) {
        for (int i = 0; i < entries; ++i)
            plan.begins << first.addSecs(qint64(i) * spacing);
        plan.stop = first.addSecs(qint64(entries) * spacing);
        return plan;
    }
    plan.begins << first;
    QDateTime minute = first.addSecs(60 - first.time().second());
    for (int m = 1; m <= minutes; ++m, minute = minute.addSecs(60)) {
        if ((minute.time().hour() * 60 + minute.time().minute()) % splitMinutes == 0)
            plan.begins << minute;
    }
    plan.stop = minute.addSecs(-60 + 5);
    return plan;
}

bool makeHome(const QString &home, const QString &programDir, const Plan &plan)
{
    QDir().mkpath(home);
    QFile::link(programDir + QStringLiteral("/Plugins"), home + QStringLiteral("/Plugins"));
    QFile ini(home + QStringLiteral("/vantrel.ini"));
    if (!ini.open(QIODevice::WriteOnly))
        return false;
    ini.write(QStringLiteral("[Options]\nSaveFolder=%1/rec\nSplitMinutes=%2\n[Device]\nSampleRate=48000\n"
                             "[Encoder]\nName=WAV\nCmd=vtwav ::s\nExt=wav\n")
                  .arg(home)
                  .arg(plan.splitMinutes)
                  .toUtf8());
    std::vector<schedule::ScheduleEntry> entries;
    for (int i = 0; i < (plan.splitMinutes ? 1 : int(plan.begins.size())); ++i)
        entries.push_back(entry(plan.begins[i], schedule::ActionRecord));
    entries.push_back(entry(plan.stop, schedule::ActionStop));
    return schedule::writeScheduleFile(home + QStringLiteral("/") + schedule::defaultScheduleFile(), entries);
}

double median(std::vector<double> v)
{
    if (v.empty())
        return qQNaN();
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Errors {
    std::vector<double> byReference;  // absolute, ms
    std::vector<double> byProgram;
};

// One line per change: where the file's first frame was captured, by both clocks.
void printChange(const QString &what, const QDateTime &planned, qint64 referenceUs, const QDateTime &programAt,
                 Errors &errors)
{
    const double byReference = referenceUs < 0 ? qQNaN() : (referenceUs - planned.toMSecsSinceEpoch() * 1000) / 1000.0;
    const double byProgram = programAt.isValid() ? planned.msecsTo(programAt) : qQNaN();
    if (!qIsNaN(byReference))
        errors.byReference.push_back(qAbs(byReference));
    if (!qIsNaN(byProgram))
        errors.byProgram.push_back(qAbs(byProgram));
    std::printf("  %-40s %s   %+9.2f ms   %+7.0f ms\n", qPrintable(what),
                qPrintable(planned.toString(QStringLiteral("HH:mm:ss"))), byReference, byProgram);
}

struct CpuSpan {
    CpuTicks program0, program1, reference0, reference1;
};

// The last line of the program's log that says `word` (its clock drift), or "".
QString lastLogLine(const QString &path, const QByteArray &word, int *cutWarnings)
{
    QFile log(path);
    QByteArray last;
    *cutWarnings = 0;
    if (log.open(QIODevice::ReadOnly)) {
        while (!log.atEnd()) {
            const QByteArray line = log.readLine().trimmed();
            if (line.contains(word))
                last = line;
            if (line.contains(" cut") && line.contains(" ms"))
                ++*cutWarnings;
        }
    }
    return QString::fromUtf8(last);
}

void printCpu(const CpuSpan &cpu, qint64 frames)
{
    const double minutes = frames / double(kRate) / 60.0;
    const double perMinute = 1000.0 / double(::sysconf(_SC_CLK_TCK)) / (minutes > 0 ? minutes : qQNaN());
    const double own = double(cpu.program1.own - cpu.program0.own) * perMinute;
    const double encoders = double(cpu.program1.children - cpu.program0.children) * perMinute;
    const double parec = double(cpu.reference1.own - cpu.reference0.own) * perMinute;
    std::printf("CPU time (user + system) over the run, per minute of audio (%.2f min recorded):\n", minutes);
    std::printf("  the program itself                 %8.1f ms\n", own);
    std::printf("  its encoders that ended (vtwav)    %8.1f ms\n", encoders);
    std::printf("  the reference parec                %8.1f ms\n", parec);
    std::printf("  the program itself / parec         %8.2fx\n", parec > 0 ? own / parec : qQNaN());
}

int report(const Plan &plan, const QString &home, const testsupport::ClockReference &reference, const CpuSpan &cpu,
           const QString &programLog)
{
    QString error;
    const auto cuts = testsupport::readFileCuts(home + QStringLiteral("/Log/events.log"), &error);
    if (cuts.empty()) {
        std::fprintf(stderr, "bench_cuts: no file began: %s; see %s\n", qPrintable(error), qPrintable(programLog));
        return 1;
    }
    if (cuts.size() != std::size_t(plan.begins.size()))
        std::printf("NOTE: %d files for %d planned beginnings; compared in order\n", int(cuts.size()),
                    int(plan.begins.size()));
    std::printf("  cut                                      planned   by the reference  by the program\n");
    Errors errors;
    QStringList files;
    qint64 frames = 0;
    for (std::size_t i = 0; i < cuts.size(); ++i) {
        quint32 first = 0;
        qint64 fileFrames = 0;
        QString why;
        const bool counted = testsupport::readFirstFrameNumber(cuts[i].file, &first, &fileFrames, &why);
        const QString name = QFileInfo(cuts[i].file).fileName();
        if (!counted)
            std::printf("  %s: %s\n", qPrintable(name), qPrintable(why));
        if (i < std::size_t(plan.begins.size()))
            printChange(name, plan.begins[int(i)], counted ? reference.wallUsOf(first) : -1, cuts[i].begins, errors);
        files << cuts[i].file;
        frames += fileFrames;
        if (i + 1 == cuts.size())
            printChange(QStringLiteral("end of ") + name + QStringLiteral(" (stop)"), plan.stop,
                        counted ? reference.wallUsOf(first + quint32(fileFrames)) : -1,
                        cuts[i].begins.addMSecs(qRound64(fileFrames * 1000.0 / kRate)), errors);
    }
    std::printf("%d cuts; |error| by the reference: median %.2f ms, worst %.2f ms; by the program: median %.0f ms, "
                "worst %.0f ms\n",
                int(errors.byReference.size()), median(errors.byReference),
                errors.byReference.empty() ? qQNaN() : *std::max_element(errors.byReference.begin(), errors.byReference.end()),
                median(errors.byProgram),
                errors.byProgram.empty() ? qQNaN() : *std::max_element(errors.byProgram.begin(), errors.byProgram.end()));
    const auto check = testsupport::checkCountedFrames(files);
    std::printf("every frame recorded exactly once: %s (%s)\n", check.ok ? "yes" : "NO", qPrintable(check.message));
    printCpu(cpu, frames);
    int cutWarnings = 0;
    const QString drift = lastLogLine(programLog, "ppm", &cutWarnings);
    std::printf("program log: %d warnings of a cut off its second; last drift line: %s\n", cutWarnings,
                drift.isEmpty() ? "none" : qPrintable(drift));
    std::printf("%s\n", qPrintable(reference.summary()));
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList args = application.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: bench_cuts PROGRAM WORK [--entries N --spacing S | --split-minutes N --minutes M]\n");
        return 2;
    }
    const auto option = [&args](const char *name, int fallback) {
        const int i = args.indexOf(QLatin1String(name));
        return i > 0 && i + 1 < args.size() ? args[i + 1].toInt() : fallback;
    };
    const QString program = args[1], work = args[2], home = work + QStringLiteral("/home");
    const Plan plan = makePlan(option("--entries", 60), option("--spacing", 3), option("--split-minutes", 0),
                               option("--minutes", 3));

    testsupport::TestSignal signal;
    testsupport::ClockReference reference;
    QString error;
    if (!signal.set(QStringLiteral("count"), &error) || !reference.start(&error)) {
        std::fprintf(stderr, "bench_cuts: %s\n", qPrintable(error));
        return 1;
    }
    if (!makeHome(home, QFileInfo(program).absolutePath(), plan)) {
        std::fprintf(stderr, "bench_cuts: cannot write the program folder %s\n", qPrintable(home));
        return 1;
    }
    QProcess vantrel;
    vantrel.setStandardErrorFile(work + QStringLiteral("/vantrel.log"));
    vantrel.start(program, {QStringLiteral("--home"), home, QStringLiteral("--headless")});
    if (!vantrel.waitForStarted()) {
        std::fprintf(stderr, "bench_cuts: cannot start %s\n", qPrintable(program));
        return 1;
    }
    std::printf("%d changes from %s to %s (stop); program log %s/vantrel.log\n", int(plan.begins.size()),
                qPrintable(plan.begins.first().toString(QStringLiteral("HH:mm:ss"))),
                qPrintable(plan.stop.toString(QStringLiteral("HH:mm:ss"))), qPrintable(work));
    std::fflush(stdout);
    sleepUntil(plan.begins.first().addMSecs(-1000));
    const CpuTicks program0 = cpuTicks(vantrel.processId()), reference0 = cpuTicks(reference.processId());
    sleepUntil(plan.stop.addMSecs(1500));
    const CpuTicks program1 = cpuTicks(vantrel.processId()), reference1 = cpuTicks(reference.processId());
    ::kill(pid_t(vantrel.processId()), SIGTERM);
    vantrel.waitForFinished(30000);
    reference.stop();
    return report(plan, home, reference, {program0, program1, reference0, reference1},
                  work + QStringLiteral("/vantrel.log"));
}
