#pragma once
#include <QLoggingCategory>

// The recorder and its front-ends: start-up, close, the files of the program folder.
Q_DECLARE_LOGGING_CATEGORY(lcApp)
