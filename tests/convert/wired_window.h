// SPDX-License-Identifier: MIT
// The real main window with the commands plugged in over the recording
// library, a scripted dialog and a recording message box. Ending the program
// is logged as "End" instead of ending the test process.
#pragma once

#include "fakes.h"
#include "main_window.h"
#include "window_wiring.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace convert_test {

class WiredWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        window = std::make_unique<nubaro::MainWindow>();
        window->onEndProgram = [this] { log.push_back("End"); };
        dialog.log = &log;
        box.log = &log;
        box.lib = &lib;
        wiring = std::make_unique<convert::WindowWiring>(*window, lib, dialog, box);
        window->Form_Load();
        window->show();
    }

    imagelib::RecordingLibrary lib;
    ScriptedDialog dialog;
    RecordingBox box;
    std::vector<std::string> log;
    std::unique_ptr<nubaro::MainWindow> window;
    std::unique_ptr<convert::WindowWiring> wiring;
};

} // namespace convert_test
