// SPDX-License-Identifier: GPL-3.0-or-later
// The listing of a full 8 KB image (1025 rows, 40 998 bytes) in the shown window:
// DisplayBuffer, divided by loading the same text into the same view, runs taken in turn.
// Both include the window's events that follow until it is idle (the view's repaint).
// The parts of DisplayBuffer are timed alone for the table.
//   bench_listing [runs]
#include "benchsupport.h"
#include "form1.h"
#include "image.h"
#include "listing.h"

#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>

namespace {
template <typename F>
double timedMs(F f)
{
    const qint64 t0 = bench::nowNs();
    f();
    QCoreApplication::processEvents();
    return (bench::nowNs() - t0) / 1e6;
}
}  // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 21;
    QTemporaryDir dir;
    const QString image = dir.filePath("full.bin");
    QByteArray data(8192, 0);
    for (int i = 0; i < data.size(); ++i)
        data[i] = char(i * 37 + 11);
    {
        QFile f(image);
        if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size())
            return 1;
    }

    Form1::Deps deps;
    deps.work = WorkFolder::acquireAt(dir.filePath("work")).value();
    deps.opener = [](const QString &, Failure *why) {
        *why = Failure{QStringLiteral("no port in this benchmark")};
        return std::unique_ptr<QIODevice>();
    };
    Form1 w(deps);
    w.show();
    if (!QTest::qWaitForWindowExposed(&w))
        return 1;
    const auto loaded = loadImage(image);
    if (!loaded || !w.DisplayBuffer(loaded.value()))
        return 1;
    const QString text = QString::fromLatin1(listing::format(data));
    const QString listPath = dir.filePath("listing.txt");

    std::vector<double> display, load, rows, file, yields;
    for (int i = 0; i < runs; ++i) {
        display.push_back(timedMs([&] { static_cast<void>(w.DisplayBuffer(loaded.value())); }));
        load.push_back(timedMs([&] { w.Text1->setPlainText(text); }));
        rows.push_back(timedMs([&] { listing::format(data); }));
        file.push_back(timedMs([&] { static_cast<void>(listing::write(loaded.value(), listPath)); }));
        yields.push_back(timedMs([&] {
            for (int r = 0; r < 1024; ++r)
                QCoreApplication::processEvents();
        }));
    }
    const double d = bench::median(display), l = bench::median(load);
    std::printf("Listing of an 8 KB image in the shown window (%s, median of %d runs, taken in turn)\n",
                qPrintable(QGuiApplication::platformName()), runs);
    std::printf("%-46s %9s\n", "", "ms");
    std::printf("%-46s %9.2f\n", "DisplayBuffer", d);
    std::printf("%-46s %9.2f\n", "the same 41 KB text loaded into Text1", l);
    std::printf("%-46s %9.2f\n", "  part: the 1025 rows formatted", bench::median(rows));
    std::printf("%-46s %9.2f\n", "  part: the listing file written", bench::median(file));
    std::printf("%-46s %9.2f\n", "  part: 1024 yields to the window, idle", bench::median(yields));
    std::printf("summary: DisplayBuffer / loading the text %.2f (goal <= 2)\n", d / l);
    return 0;
}
