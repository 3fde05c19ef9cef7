// SPDX-License-Identifier: GPL-3.0-or-later
// A bare Qt Widgets window of the main window's size and window flags, built with the same
// compiler and options: what bench_startup measures the program's start-up against.
#include <QApplication>
#include <QLayout>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
    auto *client = new QWidget(&window);
    client->setFixedSize(508, 276);
    window.setCentralWidget(client);
    window.setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint);
    window.layout()->setSizeConstraint(QLayout::SetFixedSize);
    window.show();
    return app.exec();
}
