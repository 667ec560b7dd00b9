#pragma once
// What an audio file's container headers say of it, without decoding it.

#include <QString>

#include <cstdint>

namespace audio {

// Size and duration of an audio file, read from its container headers only.
struct FileProbe {
    bool ok = false;           // false: unreadable or not an audio file
    std::int64_t fileBytes = 0;
    double durationSeconds = 0;  // 0 when the headers give none yet
};
FileProbe probeFile(const QString &path);

}  // namespace audio
