// Starts the program: the one window, loaded and shown.
#include "application_setup.h"
#include "main_window.h"

#include <QApplication>

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    nubaro::setUpApplication();

    nubaro::MainWindow window;
    window.Form_Load();
    window.show();
    return app.exec();
}
