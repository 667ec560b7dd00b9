#pragma once
// A stand-in encoder for tests: a shell script `name` in `pluginsFolder` (made if missing)
// whose body follows "#!/bin/sh"; it gets the encoder's arguments (::s is $1).
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

namespace testsupport {

inline bool writeTestEncoder(const QString &pluginsFolder, const QString &name, const QByteArray &body)
{
    QFile script(QDir(pluginsFolder).filePath(name));
    if (!QDir().mkpath(pluginsFolder) || !script.open(QIODevice::WriteOnly))
        return false;
    script.write("#!/bin/sh\n" + body);
    script.close();
    return script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
}

}  // namespace testsupport
