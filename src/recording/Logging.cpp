#include "recording/Logging.h"

Q_LOGGING_CATEGORY(lcRecording, "vantrel.recording")
