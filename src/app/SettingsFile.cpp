#include "app/SettingsFile.h"

#include "core/TextLimits.h"

#include <QDir>
#include <QtEndian>

#include <algorithm>
#include <limits>

namespace app {

QString Settings::defaultSaveFolder()
{
    return QDir::homePath() + QStringLiteral("/Recordings");
}

namespace {

std::optional<int> readOptionalInt(const core::Ini &ini, const QString &section, const QString &key)
{
    const auto text = ini.value(section, key);
    if (!text)
        return std::nullopt;
    return core::Ini::parseInt32(*text);
}

// A count kept only in the file: a value that is negative or no number is refused, named
// in *refused, and the default is taken.
int readCount(const core::Ini &ini, const QString &section, const QString &key, int def, int max,
              QStringList *refused)
{
    const auto text = ini.value(section, key);
    if (!text)
        return def;
    const std::optional<int> n = core::Ini::parseInt32(*text);
    if (!n || *n < 0) {
        refused->append(QStringLiteral("[%1] %2=%3 is not a whole number of 0 or more; %4 is used")
                            .arg(section, key, text->trimmed())
                            .arg(def));
        return def;
    }
    return std::min(*n, max);
}

}  // namespace

Settings readSettings(const core::Ini &ini)
{
    using namespace keys;
    Settings s;
    s.levelMin = ini.readInt(options, levelMin, s.levelMin);
    // 0 would give a scale without height, and a value above it (the minus sign forgotten)
    // one that lights both bars at full scale whatever the input.
    if (s.levelMin >= 0)
        s.levelMin = meter::kDefaultBottomDb;
    s.saveFolder = ini.readString(options, saveFolder, s.saveFolder);
    s.saveFilename = ini.readString(options, saveFilename, s.saveFilename);
    s.storeTime = qBound(core::limits::kStoreTimeMinDays, ini.readInt(options, storeTime, s.storeTime),
                         core::limits::kStoreTimeMaxDays);
    s.lang = ini.readString(options, lang, s.lang);

    s.windowState = ini.readInt(windowPos, state, s.windowState);
    if (s.windowState != int(WindowState::NoPosition)) {
        s.x = readOptionalInt(ini, windowPos, x);
        s.y = readOptionalInt(ini, windowPos, y);
        s.w = readOptionalInt(ini, windowPos, w);
        s.h = readOptionalInt(ini, windowPos, h);
    }

    s.recDev = ini.readInt(device, recDev, s.recDev);
    s.recSrc = ini.readInt(device, recSrc, s.recSrc);
    s.sampleRate = ini.readInt(device, sampleRate, s.sampleRate);
    s.playDev = ini.readInt(device, playDev, s.playDev);

    s.codecName = core::cutToBytes(ini.readString(encoder, name), core::limits::kCodecNameBytes);
    s.codecCmd = core::cutToBytes(ini.readString(encoder, cmd), core::limits::kCodecCommandBytes);
    s.codecExt = core::cutToBytes(ini.readString(encoder, ext), core::limits::kCodecExtBytes);

    if (const auto hex = ini.value(columns, history))
        s.historyWidths = decodeHistory(*hex);

    s.silenceDb = qBound(kSilenceDbMin, ini.readInt(alarm, silenceDb, s.silenceDb), kSilenceDbMax);
    s.silenceSeconds = qBound(0, ini.readInt(alarm, silenceSeconds, s.silenceSeconds), kSilenceSecondsMax);
    s.splitMinutes = qBound(0, ini.readInt(options, splitMinutes, s.splitMinutes), kSplitMinutesMax);
    s.preRollSeconds = qBound(0, ini.readInt(options, preRollSeconds, s.preRollSeconds), kPreRollSecondsMax);
    s.diskHours = readCount(ini, alarm, diskHours, s.diskHours, kDiskHoursMax, &s.refusedKeys);
    s.keepFreeMB = readCount(ini, options, keepFreeMB, s.keepFreeMB, std::numeric_limits<int>::max(), &s.refusedKeys);
    s.minStoreDays = readCount(ini, options, minStoreDays, s.minStoreDays, kMinStoreDaysMax, &s.refusedKeys);
    s.webListen = ini.readString(web, listen).trimmed();
    s.webToken = ini.readString(web, token);
    return s;
}

void writeSettings(core::Ini &ini, const Settings &s, const WindowBounds &bounds,
                   const std::array<int, kHistoryColumns> &historyWidths)
{
    using namespace keys;
    ini.writeInt(options, levelMin, s.levelMin);
    ini.writeString(options, saveFolder, s.saveFolder);
    ini.writeString(options, saveFilename, s.saveFilename);
    ini.writeInt(options, storeTime, s.storeTime);
    ini.writeString(options, lang, s.lang);

    if (bounds.maximized) {
        ini.writeInt(windowPos, state, int(WindowState::Maximized));
    } else {
        ini.writeInt(windowPos, state, int(WindowState::Normal));
        ini.writeInt(windowPos, x, bounds.normal.x());
        ini.writeInt(windowPos, y, bounds.normal.y());
        ini.writeInt(windowPos, w, bounds.normal.width());
        ini.writeInt(windowPos, h, bounds.normal.height());
    }

    ini.writeInt(device, recDev, s.recDev);
    ini.writeInt(device, recSrc, s.recSrc);
    ini.writeInt(device, sampleRate, s.sampleRate);
    ini.writeInt(device, playDev, s.playDev);

    ini.writeString(encoder, name, s.codecName);
    ini.writeString(encoder, cmd, s.codecCmd);
    ini.writeString(encoder, ext, s.codecExt);

    ini.writeString(columns, history, encodeHistory(historyWidths));

    ini.writeInt(alarm, silenceDb, s.silenceDb);
    ini.writeInt(alarm, silenceSeconds, s.silenceSeconds);
}

namespace {

bool isWindowSection(const QString &section)
{
    return section.compare(keys::windowPos, Qt::CaseInsensitive) == 0
           || section.compare(keys::columns, Qt::CaseInsensitive) == 0;
}

}  // namespace

core::Ini settingsImage(const core::Ini &disk)
{
    core::Ini rendered;
    writeSettings(rendered, readSettings(disk), {}, {});
    core::Ini image;
    for (const core::Ini::Section &section : rendered.parseAll()) {
        for (const core::Ini::Entry &entry : section.entries) {
            if (!isWindowSection(section.name))
                image.writeString(section.name, entry.key, entry.value);
            else if (const auto stored = disk.value(section.name, entry.key))
                image.writeString(section.name, entry.key, *stored);
        }
    }
    return image;
}

void writeChangedKeys(core::Ini &disk, const core::Ini &before, const core::Ini &now)
{
    for (const core::Ini::Section &section : now.parseAll()) {
        for (const core::Ini::Entry &entry : section.entries) {
            if (before.value(section.name, entry.key) != entry.value || !disk.hasKey(section.name, entry.key))
                disk.writeString(section.name, entry.key, entry.value);
        }
    }
}

QString encodeHistory(const std::array<int, kHistoryColumns> &widths)
{
    QByteArray bytes(kHistorySlots * 4, '\0');  // the unused slots are written as 0
    for (int i = 0; i < kHistoryColumns; ++i)
        qToLittleEndian<qint32>(widths[i], bytes.data() + 4 * i);
    return QString::fromLatin1(bytes.toHex().toUpper());
}

std::optional<std::array<int, kHistoryColumns>> decodeHistory(const QString &hex)
{
    const QString digits = hex.trimmed();
    if (digits.size() != kHistorySlots * 8)
        return std::nullopt;
    // ASCII only: other digits (QChar::isDigit) become '?' in Latin-1, which fromHex skips.
    for (QChar c : digits) {
        const char16_t u = c.unicode();
        if (!((u >= '0' && u <= '9') || (u >= 'A' && u <= 'F') || (u >= 'a' && u <= 'f')))
            return std::nullopt;
    }
    const QByteArray bytes = QByteArray::fromHex(digits.toLatin1());
    if (bytes.size() != kHistorySlots * 4)
        return std::nullopt;
    std::array<int, kHistoryColumns> widths{};
    for (int i = 0; i < kHistoryColumns; ++i)
        widths[i] = qFromLittleEndian<qint32>(bytes.constData() + 4 * i);
    return widths;
}

}  // namespace app
