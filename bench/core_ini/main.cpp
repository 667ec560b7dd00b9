// Times the INI module on an archive-sized document: 100 000 sections of three keys.
#include "core/Ini.h"

#include <QElapsedTimer>
#include <cstdio>

int main()
{
    constexpr int kRecords = 100000;
    QElapsedTimer timer;

    timer.start();
    core::Ini built;
    for (int i = 0; i < kRecords; ++i) {
        const QString section = QString::number(i);
        built.writeString(section, QStringLiteral("Date"), QString::number(40000.5 + i, 'f', 8));
        built.writeInt(section, QStringLiteral("Length"), i % 3600);
        built.writeString(section, QStringLiteral("File"), QStringLiteral("/rec/%1.mp3").arg(i));
    }
    const qint64 writeMs = timer.restart();
    const QByteArray text = built.toText();
    const qint64 toTextMs = timer.restart();
    const core::Ini ini = core::Ini::fromText(text);
    const qint64 fromTextMs = timer.restart();
    const auto all = ini.parseAll();
    const qint64 parseAllMs = timer.restart();

    std::printf("records %d, %lld bytes\n", kRecords, static_cast<long long>(text.size()));
    std::printf("writeString x %d: %lld ms\n", 3 * kRecords, static_cast<long long>(writeMs));
    std::printf("toText: %lld ms\n", static_cast<long long>(toTextMs));
    std::printf("fromText: %lld ms\n", static_cast<long long>(fromTextMs));
    std::printf("parseAll: %lld ms (%zu sections)\n", static_cast<long long>(parseAllMs), all.size());
    return all.size() == size_t(kRecords) ? 0 : 1;
}
