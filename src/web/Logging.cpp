#include "web/Logging.h"

Q_LOGGING_CATEGORY(lcWeb, "vantrel.web")
