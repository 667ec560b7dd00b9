// Times applying a language section to a small window when the section holds many keys that
// name no component: 20 000 keys, and a section of about 2 MB.
#include "i18n/LanguageApply.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QVBoxLayout>
#include <cstdio>

namespace {

QByteArray sectionOf(int keys)
{
    QByteArray text = "[Form.Main]\nlbTitle=Titel\n";
    for (int i = 0; i < keys; ++i)
        text += "lbNothing" + QByteArray::number(i) + "=Text " + QByteArray::number(i) + '\n';
    return text;
}

void timeApply(QWidget &window, int keys)
{
    const QByteArray text = sectionOf(keys);
    const core::Ini ini = core::Ini::fromText(text);
    QElapsedTimer timer;
    timer.start();
    const int applied = i18n::applyLanguageSection(&window, ini, QStringLiteral("Form.Main"), i18n::TextKind::Caption);
    std::printf("%d keys (%lld bytes): %lld ms, %d applied\n", keys, static_cast<long long>(text.size()),
                static_cast<long long>(timer.elapsed()), applied);
}

}  // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QWidget window;
    window.setObjectName(QStringLiteral("Form.Main"));
    auto *layout = new QVBoxLayout(&window);
    for (int i = 0; i < 40; ++i) {
        auto *label = new QLabel(QStringLiteral("label"), &window);
        label->setObjectName(i == 0 ? QStringLiteral("lbTitle") : QStringLiteral("lb%1").arg(i));
        layout->addWidget(label);
    }
    timeApply(window, 20000);
    timeApply(window, 2 * 1024 * 1024 / 26);  // lines of about 26 bytes
    return 0;
}
