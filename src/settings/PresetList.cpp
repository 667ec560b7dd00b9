#include "settings/PresetList.h"

#include "core/AtomicFile.h"

#include <utility>

namespace settings {

namespace {

CodecPreset cut(const CodecPreset &fields)
{
    return CodecPreset::make(fields.name, fields.command, fields.ext);
}

}  // namespace

PresetList::PresetList(QList<CodecPreset> presets) : m_presets(std::move(presets))
{
    if (m_presets.size() > kMaxPresets)
        m_presets.resize(kMaxPresets);
    for (CodecPreset &preset : m_presets)
        preset = cut(preset);
}

bool PresetList::add(const CodecPreset &fields, QString *why)
{
    if (m_presets.size() >= kMaxPresets) {
        if (why)
            *why = QStringLiteral("The preset list is full (%1 presets). Delete one before adding another.")
                       .arg(kMaxPresets);
        return false;
    }
    m_presets.append(cut(fields));
    return true;
}

void PresetList::save(int selected, const CodecPreset &fields)
{
    if (selected >= 0 && selected < m_presets.size())
        m_presets[selected] = cut(fields);
}

int PresetList::remove(int selected)
{
    if (selected < 0 || selected >= m_presets.size())
        return -1;
    m_presets.removeAt(selected);
    return selected < m_presets.size() ? selected : -1;
}

bool writePresetFile(const QString &path, const QList<CodecPreset> &presets, QString *error)
{
    // The error names the file and the reason ("Cannot write …/Codecs.prs: Permission denied").
    return core::writeFileAtomically(path, encodePresetFile(presets), error, true);
}

}  // namespace settings
