#include "settings/Logging.h"

Q_LOGGING_CATEGORY(lcSettings, "vantrel.settings")
