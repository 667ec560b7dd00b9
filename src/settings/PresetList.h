#pragma once
// The codec preset list as the settings dialog edits it, without the dialog.
//
// Fields are cut to the record's byte limits (at a character boundary) when they enter the
// list, so the list always holds exactly what the preset file will hold. Duplicate names
// are allowed. Selection rules (the dialog restores its selected index after each change):
// - add appends; the selection stays where it was;
// - save overwrites the selected preset; no selection (or one past the end) changes nothing;
// - remove deletes the selected preset, later ones move up one place; the index stays, so
//   the one that moved into its place becomes selected, or none when the last was removed.
//   The dialog's edit fields keep showing the removed preset.

#include "settings/CodecPreset.h"

#include <QList>
#include <QString>

namespace settings {

class PresetList {
public:
    explicit PresetList(QList<CodecPreset> presets = {});

    const QList<CodecPreset> &presets() const { return m_presets; }
    int count() const { return int(m_presets.size()); }

    // Appends the fields as a new preset. At kMaxPresets nothing changes: false, and
    // *why (if given) holds the message for the user.
    bool add(const CodecPreset &fields, QString *why = nullptr);
    // Overwrites preset `selected` with the fields; out of range: nothing.
    void save(int selected, const CodecPreset &fields);
    // Removes preset `selected` (out of range: nothing). Returns the index to select
    // afterwards: `selected` while it is still in range, else -1 (none).
    int remove(int selected);

private:
    QList<CodecPreset> m_presets;
};

// Writes the presets as the preset file, atomically (the old file stays whole on failure).
// A missing folder is made. On failure *error names the file and the reason.
[[nodiscard]] bool writePresetFile(const QString &path, const QList<CodecPreset> &presets,
                                   QString *error);

}  // namespace settings
