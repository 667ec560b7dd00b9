#include "schedule/Logging.h"

Q_LOGGING_CATEGORY(lcSchedule, "vantrel.schedule")
