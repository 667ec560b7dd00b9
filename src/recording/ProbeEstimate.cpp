#include "recording/Estimate.h"

#include "audio/AudioBackend.h"

namespace recording {

// Kept apart from the pure rules so that they build without the sound boundary.
int EstimateBitrate(const QString &path) { return estimateBitrate(audio::probeFile(path)); }

}  // namespace recording
