#include "ledger/Logging.h"

Q_LOGGING_CATEGORY(lcLedger, "vantrel.ledger")
