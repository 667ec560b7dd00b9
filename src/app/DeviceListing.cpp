#include "app/DeviceListing.h"

#include "app/ProgramFolder.h"
#include "app/SettingsFile.h"
#include "audio/AudioBackend.h"
#include "core/ProgramFiles.h"

namespace app {

int printDeviceLists(std::FILE *out)
{
    const Settings s = readSettings(core::Ini::load(programPath(core::files::settings())));
    audio::AudioBackend backend;
    const bool connected = backend.init(s.playDev, s.recDev);

    auto print = [out](const char *title, const QStringList &names) {
        std::fprintf(out, "%s:\n", title);
        if (names.isEmpty())
            std::fprintf(out, "  (none)\n");
        for (int i = 0; i < names.size(); ++i)
            std::fprintf(out, "  %d  %s\n", i, names[i].toUtf8().constData());
    };
    print("Playback devices (PlayDev)", backend.playbackDevices());
    print("Recording devices (RecDev)", backend.recordingDevices());
    const QString inputsTitle = QStringLiteral("Inputs of recording device %1 (RecSrc)").arg(s.recDev);
    print(inputsTitle.toUtf8().constData(), backend.recordingInputs());
    if (!connected)
        std::fprintf(out, "No sound server could be reached.\n");
    backend.release();
    return 0;
}

}  // namespace app
