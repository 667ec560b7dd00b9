#pragma once
// SettingsDialog: the modal dialog in which the user sets up recording — device, input,
// sample rate, codec and its preset list, folder and name template with a live example,
// store time, playback device.
//
//   settings::SettingsDialog dialog(recorder, mainWindow);
//   if (dialog.exec() == QDialog::Accepted) showTheNewCodecName();
//
// A new dialog is made for each opening; it fills its lists from the sound server and the
// preset list from the preset file as it is at that moment. Every effect of OK happens inside: the
// preset file is written first, and only when that worked are the controls' values handed
// to the recorder (Recorder::applySettings). Picking a preset in the list makes it the
// recorder's current codec at once, whatever the dialog is left with; Add, Save and Del
// change only the dialog's copy of the list until OK writes it.
//
// Device and input numbers are positions in the sound boundary's lists; a stored number
// beyond its list leaves the list without a selection, which OK stores as -1, except for
// the playback device: one that is not there now (unplugged) is kept until another is picked. The input
// list shows the inputs of the device chosen in the device list. Selecting entries while
// the lists are filled runs no change handler.
//
// Threads: GUI thread only.

#include "settings/PresetList.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace app {
class Recorder;
struct Settings;
}  // namespace app

namespace settings {

class SettingsDialog : public QDialog {
    Q_OBJECT
public:
    explicit SettingsDialog(app::Recorder &recorder, QWidget *parent = nullptr);

    // The sample rates the rate list offers, in list order.
    static const QList<int> &sampleRates();

private:
    QWidget *buildRecordingGroup();
    QWidget *buildCodecGroup();
    QWidget *buildSaveGroup();
    QWidget *buildPlaybackGroup();
    void fill();
    void fillInputs(int device, int selected);
    void fillPresetList();
    void showExample();
    void chooseFolder();
    void pickPreset(int index);
    void addPreset();
    void savePreset();
    void deletePreset();
    CodecPreset codecFields() const;
    app::Settings settingsFromControls() const;
    void confirm();

    app::Recorder &m_recorder;
    PresetList m_presets;

    QComboBox *m_recordingDevices = nullptr;
    QComboBox *m_inputs = nullptr;
    QComboBox *m_sampleRate = nullptr;
    QComboBox *m_presetNames = nullptr;
    QLineEdit *m_codecName = nullptr;
    QLineEdit *m_codecCommand = nullptr;
    QLineEdit *m_codecExt = nullptr;
    QLineEdit *m_folder = nullptr;
    QLineEdit *m_fileTemplate = nullptr;
    QLabel *m_example = nullptr;
    QSpinBox *m_storeDays = nullptr;
    QComboBox *m_playbackDevices = nullptr;
};

}  // namespace settings
