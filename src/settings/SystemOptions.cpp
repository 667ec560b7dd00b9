#include "settings/SystemOptions.h"

#include "core/Ini.h"

#include <algorithm>
#include <cmath>

namespace settings {

namespace {

bool readBool(const core::Ini &ini, const QString &section, const QString &key, bool def)
{
    return ini.readInt(section, key, def ? 1 : 0) != 0;
}

}  // namespace

SystemOptions readSystemOptions(const QString &path)
{
    const core::Ini ini = core::Ini::load(path);
    const QString options = QStringLiteral("Options");
    const QString equalizer = QStringLiteral("Equalizer");
    SystemOptions o;

    o.volumeCurveLogarithmic = readBool(ini, options, QStringLiteral("Lg"), o.volumeCurveLogarithmic);
    o.bufferLengthMs = ini.readInt(options, QStringLiteral("BufferLength"), o.bufferLengthMs);
    // The tempo stage is never used here, whatever the file says.
    o.tempoEffect = false;
    o.useLineIn = readBool(ini, options, QStringLiteral("UseLineIn"), o.useLineIn);
    o.noLineEffects = readBool(ini, options, QStringLiteral("NoLineFx"), o.noLineEffects);

    o.bandCount = std::clamp(ini.readInt(equalizer, QStringLiteral("BandsNum"), o.bandCount), 0,
                             kMaxEqualizerBands);
    for (int band = 0; band < o.bandCount; ++band)
        o.bandFrequencies[std::size_t(band)] =
            ini.readInt(equalizer, QStringLiteral("Freq%1").arg(band), 0);

    // QString's own number parsing is locale-independent: "." is the separator, always.
    if (const auto text = ini.value(equalizer, QStringLiteral("Bandwidth"))) {
        bool ok = false;
        const float bandwidth = text->toFloat(&ok);
        if (ok && std::isfinite(bandwidth))
            o.bandwidth = bandwidth;
    }
    return o;
}

}  // namespace settings
