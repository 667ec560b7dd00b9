#include "ledger/LedgerEntry.h"

#include <QDateTime>
#include <array>

namespace ledger {

namespace {

const std::array<QLatin1String, kSpanKinds> kKindNames = {
    QLatin1String("recorded"), QLatin1String("lost"), QLatin1String("silent"),
    QLatin1String("dropped"), QLatin1String("asked")};

const std::array<QLatin1String, 3> kVerificationNames = {
    QLatin1String("unverified"), QLatin1String("ok"), QLatin1String("damaged")};

}  // namespace

QString spanKindName(SpanKind kind) { return kKindNames[size_t(kind)]; }

std::optional<SpanKind> spanKindFromName(const QString &name)
{
    for (size_t i = 0; i < kKindNames.size(); ++i)
        if (name == kKindNames[i]) return SpanKind(i);
    return std::nullopt;
}

QString verificationName(Verification verification) { return kVerificationNames[size_t(verification)]; }

Verification verificationFromName(const QString &name)
{
    for (size_t i = 0; i < kVerificationNames.size(); ++i)
        if (name == kVerificationNames[i]) return Verification(i);
    return Verification::Unverified;
}

QString localIsoText(qint64 msSinceEpoch)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(msSinceEpoch);
    // A fixed offset makes Qt write it ("+01:00"); local time alone would write none.
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QString localIsoSeconds(qint64 msSinceEpoch)
{
    QString text = localIsoText(msSinceEpoch);
    constexpr int kFraction = 19;  // after "2026-12-08T21:04:05"; the offset's length varies
    if (msSinceEpoch % 1000 == 0 && text.size() > kFraction && text[kFraction] == u'.') text.remove(kFraction, 4);
    return text;
}

}  // namespace ledger
