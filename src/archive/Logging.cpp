#include "archive/Logging.h"

Q_LOGGING_CATEGORY(lcArchive, "vantrel.archive")
