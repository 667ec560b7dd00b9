#include "recording/EncoderCommand.h"

#include "core/ProgramFiles.h"

namespace recording {

QStringList splitCommandLine(const QString &command)
{
    QStringList args;
    QString current;
    bool inArgument = false;  // an argument has begun (it may still be empty: "")
    enum class Quote { None, Single, Double } quote = Quote::None;

    for (qsizetype i = 0; i < command.size(); ++i) {
        const QChar c = command[i];
        switch (quote) {
        case Quote::Single:
            if (c == QLatin1Char('\'')) quote = Quote::None;
            else current += c;
            break;
        case Quote::Double:
            if (c == QLatin1Char('"')) {
                quote = Quote::None;
            } else if (c == QLatin1Char('\\') && i + 1 < command.size()
                       && (command[i + 1] == QLatin1Char('"') || command[i + 1] == QLatin1Char('\\'))) {
                current += command[++i];
            } else {
                current += c;
            }
            break;
        case Quote::None:
            if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
                if (inArgument) args.append(current);
                current.clear();
                inArgument = false;
            } else {
                inArgument = true;
                if (c == QLatin1Char('"')) quote = Quote::Double;
                else if (c == QLatin1Char('\'')) quote = Quote::Single;
                else current += c;
            }
            break;
        }
    }
    if (inArgument) args.append(current);
    return args;
}

QStringList encoderArguments(const QString &programFolder, const QString &command,
                             const QString &outputPath)
{
    QStringList args = splitCommandLine(command);
    if (args.isEmpty()) return args;
    for (QString &arg : args) arg.replace(QStringLiteral("::s"), outputPath, Qt::CaseSensitive);
    args.first().prepend(programFolder + core::files::plugins());
    return args;
}

}  // namespace recording
