#pragma once
// The threads of this process that belong to the program: the ones its code starts (named
// "vt-…") and the sound server connection's mainloop (libpulse's "threaded-ml"). A leak
// test compares these, by name, before and after; the test framework and other libraries
// start and end threads of their own that say nothing about the program.

#include <QDir>
#include <QFile>
#include <QStringList>

namespace testsupport {

inline QStringList programThreads()
{
    QStringList names;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
        if (!comm.open(QIODevice::ReadOnly))
            continue;  // ended meanwhile
        const QString name = QString::fromUtf8(comm.readAll().trimmed());
        if (name.startsWith(QLatin1String("vt-")) || name == QLatin1String("threaded-ml"))
            names << name;
    }
    names.sort();
    return names;
}

}  // namespace testsupport
