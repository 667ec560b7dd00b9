#include "core/Logging.h"

Q_LOGGING_CATEGORY(lcCore, "vantrel.core")
