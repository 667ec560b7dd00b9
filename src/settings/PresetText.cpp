#include "settings/PresetText.h"

#include <QStringList>

namespace settings {

namespace {

bool fail(QString *error, int line, const QString &reason)
{
    if (error) *error = QStringLiteral("line %1: %2").arg(line).arg(reason);
    return false;
}

bool fits(const QString &text, int maxBytes) { return text.toUtf8().size() <= maxBytes; }

}  // namespace

QList<CodecPreset> parsePresetText(const QByteArray &text, QString *error)
{
    QList<CodecPreset> presets;
    bool haveCommand = false;
    int nameLine = 0;

    // Checks the preset being closed: it needs a command to be of any use.
    auto finish = [&]() {
        if (presets.isEmpty() || haveCommand) return true;
        return fail(error, nameLine,
                    QStringLiteral("preset \"%1\" has no command").arg(presets.last().name));
    };

    const QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const int lineNo = i + 1;
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;

        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0) {
            fail(error, lineNo, QStringLiteral("expected key = value"));
            return {};
        }
        const QString key = line.left(eq).trimmed().toLower();
        const QString value = line.mid(eq + 1).trimmed();

        if (key == QLatin1String("name")) {
            if (!finish()) return {};
            if (!fits(value, kPresetNameBytes)) {
                fail(error, lineNo, QStringLiteral("name longer than %1 bytes").arg(kPresetNameBytes));
                return {};
            }
            presets.append({value, {}, {}});
            haveCommand = false;
            nameLine = lineNo;
            continue;
        }
        if (presets.isEmpty()) {
            fail(error, lineNo, QStringLiteral("\"%1\" before the first name").arg(key));
            return {};
        }
        if (key == QLatin1String("command")) {
            if (!fits(value, kPresetCommandBytes)) {
                fail(error, lineNo, QStringLiteral("command longer than %1 bytes").arg(kPresetCommandBytes));
                return {};
            }
            presets.last().command = value;
            haveCommand = !value.isEmpty();
        } else if (key == QLatin1String("ext")) {
            if (!fits(value, kPresetExtBytes)) {
                fail(error, lineNo, QStringLiteral("extension longer than %1 bytes").arg(kPresetExtBytes));
                return {};
            }
            presets.last().ext = value;
        } else {
            fail(error, lineNo, QStringLiteral("unknown key \"%1\"").arg(key));
            return {};
        }
    }
    if (!finish()) return {};
    if (presets.size() > kMaxPresets) {
        fail(error, int(lines.size()), QStringLiteral("more than %1 presets").arg(kMaxPresets));
        return {};
    }
    if (error) error->clear();
    return presets;
}

}  // namespace settings
