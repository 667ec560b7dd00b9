#include "audio/Logging.h"

Q_LOGGING_CATEGORY(lcAudio, "vantrel.audio")
