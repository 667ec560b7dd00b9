#pragma once
// Runs a command-line verb of the program in-process (the functions main() dispatches to,
// which print to the FILEs they are given) with its standard output and error caught.
#include <QByteArray>
#include <QString>

#include <cstdio>
#include <functional>

namespace testsupport {

struct VerbRun {
    int status = -1;
    QString out;
    QString err;
};

// What was written to `file`, which is closed.
inline QString readBack(std::FILE *file)
{
    std::rewind(file);
    QByteArray all;
    char block[4096];
    for (size_t n; (n = std::fread(block, 1, sizeof block, file)) > 0;) all.append(block, qsizetype(n));
    std::fclose(file);
    return QString::fromUtf8(all);
}

inline VerbRun runVerb(const std::function<int(std::FILE *out, std::FILE *err)> &verb)
{
    std::FILE *out = std::tmpfile(), *err = std::tmpfile();
    const int status = verb(out, err);
    return {status, readBack(out), readBack(err)};
}

}  // namespace testsupport
