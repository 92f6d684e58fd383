// SPDX-License-Identifier: MIT
// Browse and Convert plugged into MainWindow's hooks: Text1, Check1 and
// Picture1 as the commands' view, the wait cursor while the library works.
#pragma once

#include "commands.h"
#include "main_window.h"

namespace convert {

// The main window as the commands see it.
class WindowView final : public ConvertView {
  public:
    explicit WindowView(nubaro::MainWindow &window) : window_(window) {}

    std::string text1() const override;
    void setText1(const std::string &text) override;
    int check1() const override;
    ImgctlSurface previewSurface() override;
    void refreshPreview() override;
    void setBusy(bool busy) override;

  private:
    nubaro::MainWindow &window_;
};

// Owns the view and the commands and sets the window's hooks; keep it alive
// as long as the window. The library, dialog and box are the caller's.
class WindowWiring {
  public:
    WindowWiring(nubaro::MainWindow &window, imagelib::ImageLibrary &library, FileDialog &dialog,
                 MessageBox &box);
    WindowWiring(const WindowWiring &) = delete;
    WindowWiring &operator=(const WindowWiring &) = delete;

  private:
    WindowView view_;
    ConversionCommands commands_;
};

} // namespace convert
