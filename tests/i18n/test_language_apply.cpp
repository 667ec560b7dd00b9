#include "i18n/LanguageApply.h"
#include "i18n/StringTable.h"

#include <QLabel>
#include <QtTest>

using namespace i18n;

class TestLanguageApply : public QObject {
    Q_OBJECT
private slots:
    // A section padded with thousands of keys that name nothing applies at once, and of
    // two keys for one component (in any case) the first wins.
    void largeSectionAppliesTheFirstOfEqualKeys()
    {
        QWidget window;
        window.setObjectName(QStringLiteral("Form.Main"));
        auto *title = new QLabel(&window);
        title->setObjectName(QStringLiteral("lbTitle"));
        auto *state = new QLabel(&window);
        state->setObjectName(QStringLiteral("lbState"));

        QByteArray text = "[Form.Main]\nLBTITLE=Erster\n";
        for (int i = 0; i < 20000; ++i)
            text += "lbNothing" + QByteArray::number(i) + "=x\n";
        text += "lbTitle=Zweiter\nlbState=Bereit\n";
        const core::Ini ini = core::Ini::fromText(text);

        QCOMPARE(applyLanguageSection(&window, ini, QStringLiteral("form.main"), TextKind::Caption), 2);
        QCOMPARE(title->text(), QStringLiteral("Erster"));
        QCOMPARE(state->text(), QStringLiteral("Bereit"));
    }

    // Section "Strings" by the keys the files use: a missing key brings back the English
    // text, except Message1, which keeps the text before.
    void stringTableFallsBackToEnglishExceptMessage1()
    {
        StringTable before;
        before.statusStopped = QStringLiteral("gestoppt");
        before.nothingSelected = QStringLiteral("Nichts gewaehlt!");
        const StringTable read =
            readStringTable(core::Ini::fromText("[Strings]\n_status1=laeuft\n_lts3=Stunden\n"), before);
        QCOMPARE(read.statusRecording, QStringLiteral("laeuft"));
        QCOMPARE(read.unitHours, QStringLiteral("Stunden"));
        QCOMPARE(read.statusStopped, QStringLiteral("stopped"));
        QCOMPARE(read.nothingSelected, QStringLiteral("Nichts gewaehlt!"));
    }
};

QTEST_MAIN(TestLanguageApply)
#include "test_language_apply.moc"
