// The entry dialog: what its controls produce, and a layout that fits its texts.

#include "core/DayCount.h"
#include "schedule/ScheduleEntryDialog.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimeEdit>

using namespace schedule;

namespace {

template <typename W>
W *child(QWidget &dialog, const char *name)
{
    W *w = dialog.findChild<W *>(QString::fromLatin1(name));
    if (!w) qFatal("no control %s", name);
    return w;
}

void typeLength(ScheduleEntryDialog &dialog, const QString &keys)
{
    QLineEdit *edit = child<QLineEdit>(dialog, "edLen");
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    edit->home(false);
    QTest::keyClicks(edit, keys);
}

}  // namespace

class ScheduleDialogTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void typedLengthGivesMilliseconds();
    void presetsSetTheLengthField();
    void newEntryShowsItsFields();
    void okStaysOpenOnIncompleteLength();
    void untouchedFieldsKeepTheirStoredValues();
    void layoutFitsItsTexts();
};

void ScheduleDialogTest::typedLengthGivesMilliseconds()
{
    ScheduleEntryDialog dialog;
    dialog.setEntry(ScheduleEntryDialog::newEntry(QDateTime(QDate(2024, 6, 3), QTime(8, 0))));
    QCOMPARE(child<QLineEdit>(dialog, "edLen")->text(), QStringLiteral("00:00"));

    typeLength(dialog, QStringLiteral("1230"));
    QCOMPARE(child<QLineEdit>(dialog, "edLen")->text(), QStringLiteral("12:30"));
    QCOMPARE(dialog.entry().lengthMs, 45000000);
    QCOMPARE(child<QComboBox>(dialog, "cbLength")->currentIndex(), -1);  // no preset matches

    typeLength(dialog, QStringLiteral("0000"));
    QCOMPARE(dialog.entry().lengthMs, 0);
    QCOMPARE(child<QComboBox>(dialog, "cbLength")->currentIndex(), 0);

    typeLength(dialog, QStringLiteral("0200"));
    QCOMPARE(child<QComboBox>(dialog, "cbLength")->currentIndex(), 4);  // "2 hours"
}

void ScheduleDialogTest::presetsSetTheLengthField()
{
    ScheduleEntryDialog dialog(nullptr, QStringLiteral("Min."), QStringLiteral("Std."), QStringLiteral("Std"));
    QComboBox *presets = child<QComboBox>(dialog, "cbLength");
    QLineEdit *edit = child<QLineEdit>(dialog, "edLen");
    QCOMPARE(presets->count(), 9);
    QCOMPARE(presets->itemText(1), QStringLiteral("15 Min."));
    QCOMPARE(presets->itemText(3), QStringLiteral("1 Std."));
    QCOMPARE(presets->itemText(4), QStringLiteral("2 Std"));

    const QStringList expected{"00:00", "00:15", "00:30", "01:00", "02:00",
                               "03:00", "06:00", "12:00", "24:00"};
    for (int i = presets->count() - 1; i >= 0; --i) {
        presets->setCurrentIndex(i);
        QCOMPARE(edit->text(), expected.at(i));
        QCOMPARE(dialog.entry().lengthMs, lengthPresetMinutes()[size_t(i)] * 60000);
    }
    // An entry whose length is a preset shows that preset.
    dialog.setEntry({0.25, 6 * 3600000, ActionRecord});
    QCOMPARE(presets->currentIndex(), 6);
    QCOMPARE(edit->text(), QStringLiteral("06:00"));
}

void ScheduleDialogTest::newEntryShowsItsFields()
{
    const ScheduleEntry e = ScheduleEntryDialog::newEntry(QDateTime(QDate(2024, 6, 3), QTime(12, 34, 56)));
    ScheduleEntryDialog dialog;
    dialog.setEntry(e);
    QCOMPARE(child<QTimeEdit>(dialog, "_time")->time(), QTime(12, 35));
    QVERIFY(child<QRadioButton>(dialog, "rbStart")->isChecked());
    QCOMPARE(child<QComboBox>(dialog, "cbLength")->currentIndex(), 0);
}

void ScheduleDialogTest::okStaysOpenOnIncompleteLength()
{
    ScheduleEntryDialog dialog;
    dialog.setEntry(ScheduleEntryDialog::newEntry(QDateTime(QDate(2024, 6, 3), QTime(8, 0))));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QLabel *problem = child<QLabel>(dialog, "lbLengthProblem");
    QVERIFY(!problem->isVisible());
    typeLength(dialog, QStringLiteral("17"));  // "17:__"
    QTest::mouseClick(child<QPushButton>(dialog, "Button1"), Qt::LeftButton);
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QVERIFY(problem->isVisible());
    QCOMPARE(problem->text(), QStringLiteral("Enter the length as hours:minutes."));
    typeLength(dialog, QStringLiteral("0099"));
    QVERIFY(!problem->isVisible());
    QTest::mouseClick(child<QPushButton>(dialog, "Button1"), Qt::LeftButton);
    QVERIFY(dialog.isVisible());
    QCOMPARE(problem->text(), QStringLiteral("Minutes go from 00 to 59."));
    QVERIFY(dialog.rect().contains(problem->geometry()));
    QVERIFY(problem->width() >= problem->sizeHint().width());
    dialog.grab().save(QStringLiteral("/tmp/scedit-length-problem.png"));

    typeLength(dialog, QStringLiteral("0145"));
    child<QRadioButton>(dialog, "rbStop")->click();
    QTest::mouseClick(child<QPushButton>(dialog, "Button1"), Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    const ScheduleEntry e = dialog.entry();
    QCOMPARE(e.action, qint32(ActionStop));
    QCOMPARE(e.lengthMs, 105 * 60000);  // a Stop entry keeps the length it was given
}

void ScheduleDialogTest::untouchedFieldsKeepTheirStoredValues()
{
    // Neither 59 999 ms nor 120 hours fits the "h:m" field; editing the action or time
    // must not change them.
    const ScheduleEntry stored{45000.5, 59999, ActionRecord};
    ScheduleEntryDialog dialog;
    dialog.setEntry(stored);
    child<QRadioButton>(dialog, "rbStop")->click();
    ScheduleEntry e = dialog.entry();
    QCOMPARE(e.lengthMs, 59999);
    QCOMPARE(e.time, stored.time);
    QCOMPARE(e.action, qint32(ActionStop));

    dialog.setEntry({0.5, 120 * 3600000, ActionRecord});
    child<QTimeEdit>(dialog, "_time")->setTime(QTime(7, 15, 30));
    e = dialog.entry();
    QCOMPARE(e.lengthMs, 120 * 3600000);
    QCOMPARE(core::timeOfDay(e.time), QTime(7, 15, 30));
}

void ScheduleDialogTest::layoutFitsItsTexts()
{
    ScheduleEntryDialog dialog(nullptr, QStringLiteral("min"), QStringLiteral("hour"));
    dialog.setEntry({0.5, 0, ActionRecord});
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Schedule"));
    QVERIFY(dialog.width() >= 219 && dialog.height() >= 172);
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());  // fixed size
    QVERIFY(child<QPushButton>(dialog, "Button1")->isDefault());
    for (QWidget *w : dialog.findChildren<QWidget *>()) {
        if (!qobject_cast<QLabel *>(w) && !qobject_cast<QAbstractButton *>(w)) continue;
        QVERIFY2(w->width() >= w->minimumSizeHint().width(), qPrintable(w->objectName()));
        QVERIFY2(dialog.rect().contains(w->geometry()) || w->parentWidget() != &dialog,
                 qPrintable(w->objectName()));
    }
    dialog.grab().save(QStringLiteral("/tmp/scedit.png"));
}

QTEST_MAIN(ScheduleDialogTest)
#include "test_schedule_dialog.moc"
