#include "mainwindow.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    MainWindow window(QCoreApplication::applicationDirPath());
    if (!window.Startup())
        return 0;
    return app.exec();
}
