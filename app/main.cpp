// SPDX-License-Identifier: MIT
// Starts the program: the one window, loaded and shown.
#include "application_setup.h"
#include "common_dialog.h"
#include "error_box.h"
#include "imgctl_library.h"
#include "main_window.h"
#include "window_wiring.h"

#include <QApplication>

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    nubaro::setUpApplication();

    convert::installJapanese();

    nubaro::MainWindow window;
    imagelib::ImgctlLibrary library; // loaded by name when first used
    convert::CommonDialog1 dialog(&window);
    convert::ErrorBox box(&window);
    convert::WindowWiring wiring(window, library, dialog, box);
    window.Form_Load();
    window.show();
    return app.exec();
}
