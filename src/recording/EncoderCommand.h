#pragma once
// The encoder's argument list, built from a preset's command text. The process is started
// directly from this list, never through a shell, so no character of the output path or of
// the command text can run anything else.

#include <QString>
#include <QStringList>

namespace recording {

// Splits a command text into arguments:
// - blanks (space, tab) outside quotes separate arguments;
// - "…" groups; inside it \" and \\ stand for " and \, any other backslash is kept;
// - '…' groups, everything inside kept as written;
// - quoted and unquoted pieces that touch form one argument; "" or '' is an empty argument;
// - a quote left open runs to the end of the text;
// - a backslash outside quotes is an ordinary character (command texts hold Windows-style
//   paths more often than shell escapes).
QStringList splitCommandLine(const QString &command);

// Plugins folder + command text: argv[0] is programFolder + "Plugins/" + the first argument
// (programFolder ends in '/'); in every argument each "::s" (exactly these three characters,
// case-sensitive, left to right, without overlap) becomes outputPath, which thereby stays
// one argument whatever it holds. An empty command gives an empty list.
QStringList encoderArguments(const QString &programFolder, const QString &command,
                             const QString &outputPath);

}  // namespace recording
