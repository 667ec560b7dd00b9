// The holds in the ledger and the verbs that make, list and release them, beside a ledger
// that a running instance keeps open.
#include "core/ProgramFiles.h"
#include "ledger/Ledger.h"
#include "ledger/LedgerCommands.h"
#include "ledger/LocalTime.h"
#include "support/VerbRun.h"

#include <QDateTime>
#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <ctime>
#include <functional>

using namespace ledger;

namespace {

using Run = testsupport::VerbRun;

// Runs a verb with standard output and error caught.
Run run(const std::function<int(std::FILE *, std::FILE *)> &verb) { return testsupport::runVerb(verb); }

qint64 ms(const char *localTime) { return parseLocalTime(QString::fromLatin1(localTime)).ms; }

}  // namespace

class TestHolds : public QObject {
    Q_OBJECT

    QString m_folder;
    std::unique_ptr<QTemporaryDir> m_dir;

    Run hold(const QStringList &args, const std::optional<QString> &reason = std::nullopt)
    {
        return run([&](std::FILE *out, std::FILE *err) { return runHold(m_folder, args, reason, out, err); });
    }
    Run holds() { return run([&](std::FILE *out, std::FILE *err) { return runHolds(m_folder, {}, out, err); }); }
    Run release(const QString &id)
    {
        return run([&](std::FILE *out, std::FILE *err) { return runRelease(m_folder, {id}, out, err); });
    }
    QString ledgerPath() const { return QDir(m_folder).filePath(core::files::ledger()); }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_folder = m_dir->path();
    }

    // Made, listed and released from the command line while the instance's own connection
    // stays open and sees each change at its next look.
    void madeListedAndReleasedBesideARunningInstance()
    {
        Ledger instance(ledgerPath());
        QVERIFY2(instance.isUsable(), qPrintable(instance.error()));
        const qint64 before = QDateTime::currentMSecsSinceEpoch();

        const Run made = hold({QStringLiteral("2026-12-01T10:00"), QStringLiteral("2026-12-01T12:30:00")},
                              QStringLiteral("complaint  of\n2026-12-01"));
        QVERIFY2(made.status == 0
                     && made.out.startsWith(
                         QStringLiteral("hold 1: 2026-12-01T10:00:00+01:00 to 2026-12-01T12:30:00+01:00, made ")),
                 qPrintable(made.out));
        QVERIFY(made.out.endsWith(QStringLiteral(": complaint of 2026-12-01\n")));
        QCOMPARE(hold({QStringLiteral("2026-12-02T00:00"), QStringLiteral("2026-12-03T00:00")}).status, 0);

        std::optional<std::vector<archive::Hold>> seen = instance.holds();
        QVERIFY(seen && seen->size() == 2);
        const archive::Hold &first = seen->front();
        QVERIFY(first.id == 1 && first.fromMs == ms("2026-12-01T10:00:00") && first.toMs == ms("2026-12-01T12:30:00"));
        QCOMPARE(first.reason, QStringLiteral("complaint of 2026-12-01"));
        QVERIFY(first.madeMs >= before && first.madeMs <= QDateTime::currentMSecsSinceEpoch());
        QVERIFY(holds().out.startsWith(made.out));  // listed as --hold printed it

        const Run released = release(QStringLiteral("1"));
        QCOMPARE(released.status, 0);
        QCOMPARE(released.out, QStringLiteral("released ") + made.out);
        seen = instance.holds();
        QVERIFY(seen && seen->size() == 1 && seen->front().id == 2);
        QCOMPARE(release(QStringLiteral("2")).status, 0);
        QCOMPARE(holds().out, QStringLiteral("nothing is on hold\n"));
        // An id once given is never given again, so that "hold 1" in a letter stays one hold.
        QVERIFY(hold({QStringLiteral("2026-12-04T00:00"), QStringLiteral("2026-12-05T00:00")}).out.startsWith(
            QStringLiteral("hold 3:")));
    }

    // Each refusal is one line on standard error, a non-zero status and no change.
    void badInputIsRefusedAndChangesNothing()
    {
        const QString from = QStringLiteral("2026-12-01T10:00"), to = QStringLiteral("2026-12-01T11:00");
        // No ledger yet: none is made.
        const Run noLedger = hold({from, to});
        QCOMPARE(noLedger.status, 1);
        QVERIFY(noLedger.err.startsWith(QStringLiteral("vantrel: cannot open the ledger")));
        QVERIFY(!QFile::exists(ledgerPath()));

        { Ledger made(ledgerPath()); }
        QCOMPARE(hold({from, to}, QStringLiteral("kept")).status, 0);
        const QString before = holds().out;
        const std::vector<std::pair<Run, QString>> refusals{
            {hold({to, from}), QStringLiteral("is not before TO")},
            {hold({from, from}), QStringLiteral("is not before TO")},
            {hold({QStringLiteral("2026-03-29T02:30"), to}), QStringLiteral("does not exist here")},
            {hold({QStringLiteral("2026-10-25T02:30"), to}), QStringLiteral("happens twice here")},
            {hold({from}), QStringLiteral("--hold takes FROM TO")},
            {hold({from, to}, QStringLiteral(" ")), QStringLiteral("--reason needs a text")},
            {release(QStringLiteral("7")), QStringLiteral("there is no hold 7")},
            {release(QStringLiteral("one")), QStringLiteral("--release takes the ID")},
        };
        for (const auto &[refused, cause] : refusals) {
            QVERIFY2(refused.status != 0 && refused.out.isEmpty(), qPrintable(refused.out));
            QVERIFY2(refused.err.startsWith(QStringLiteral("vantrel: ")) && refused.err.contains(cause)
                         && refused.err.count(u'\n') == 1,
                     qPrintable(refused.err));
        }
        QCOMPARE(holds().out, before);
    }

    // A ledger of the version before the holds is read as having none, and gains them at the
    // first writer's opening.
    void olderLedgerIsReadAndGainsHolds()
    {
        { Ledger made(ledgerPath()); }
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("v1"));
            db.setDatabaseName(ledgerPath());
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("DROP TABLE holds")) && q.exec(QStringLiteral("PRAGMA user_version = 1")));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("v1"));
        QCOMPARE(holds().out, QStringLiteral("nothing is on hold\n"));
        QCOMPARE(hold({QStringLiteral("2026-12-01T10:00"), QStringLiteral("2026-12-01T11:00")}).status, 0);
        Ledger reader(ledgerPath(), Ledger::Access::ReadOnly);
        const std::optional<std::vector<archive::Hold>> held = reader.holds();
        QVERIFY(held && held->size() == 1);
    }
};

int main(int argc, char **argv)
{
    // Times that the clocks skip or show twice are checked against a zone with summer time.
    qputenv("TZ", "Europe/Berlin");
    tzset();
    QCoreApplication app(argc, argv);
    TestHolds test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_holds.moc"
