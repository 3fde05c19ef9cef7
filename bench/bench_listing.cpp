// Listing a full 8 KB image (1025 rows, 40 998 bytes): the core that writes the listing
// file, and the window's DisplayBuffer that also shows it (offscreen).
#include "form1.h"
#include "listing.h"
#include "prompter.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

namespace {
template <typename F>
void measure(const char *what, int runs, F f)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        f();
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-40s median %6.2f ms  max %6.2f ms  (%d runs)\n", what, ms[ms.size() / 2], ms.back(), runs);
}
}  // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString image = dir.filePath("full.bin");
    {
        QByteArray data(8192, 0);
        for (int i = 0; i < data.size(); ++i)
            data[i] = char(i * 37 + 11);
        QFile f(image);
        f.open(QIODevice::WriteOnly);
        f.write(data);
    }
    const QString list = dir.filePath("tempfile.$$$");
    const auto loaded = loadImage(image);
    measure("listing file, core", 50, [&] {
        if (!loaded || !listing::write(loaded.value(), list))
            std::printf("listing failed\n");
    });
    std::printf("listing file size: %lld bytes\n", QFile(list).size());

    Form1::Deps deps;
    deps.work = WorkFolder::acquireAt(dir.filePath("work")).value();
    deps.opener = [](const QString &, Failure *why) {
        *why = Failure{QStringLiteral("no port in this benchmark")};
        return std::unique_ptr<QIODevice>();
    };
    Form1 w(deps);
    w.FileName = image;
    measure("DisplayBuffer (listing shown in Text1)", 50, [&] {
        if (!loaded || !w.DisplayBuffer(loaded.value()))
            std::printf("DisplayBuffer failed\n");
    });
    return 0;
}
