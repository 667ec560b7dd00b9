// Build tool: turns the readable preset list into the binary preset file.
//   vt_mkpresets <codecs.txt> <Codecs.prs>
#include "settings/CodecPreset.h"
#include "settings/PresetText.h"

#include "core/AtomicFile.h"

#include <QFile>
#include <QString>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <preset list> <preset file>\n", argv[0]);
        return 2;
    }
    const QString input = QString::fromLocal8Bit(argv[1]);
    const QString output = QString::fromLocal8Bit(argv[2]);

    QFile file(input);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "%s: %s\n", argv[1], qPrintable(file.errorString()));
        return 1;
    }
    QString error;
    const QList<settings::CodecPreset> presets = settings::parsePresetText(file.readAll(), &error);
    if (presets.isEmpty()) {
        std::fprintf(stderr, "%s: %s\n", argv[1],
                     error.isEmpty() ? "no presets" : qPrintable(error));
        return 1;
    }
    if (!core::writeFileAtomically(output, settings::encodePresetFile(presets), &error, true)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    return 0;
}
