// SPDX-License-Identifier: MIT
#include "window_wiring.h"

#include "error_box.h"

namespace convert {

std::string WindowView::text1() const {
    return window_.sourceText().toStdString();
}

void WindowView::setText1(const std::string &text) {
    window_.setSourceText(QString::fromStdString(text));
}

int WindowView::check1() const {
    return window_.check1Value();
}

ImgctlSurface WindowView::previewSurface() {
    QImage &image = window_.Picture1->image();
    return {reinterpret_cast<uint32_t *>(image.bits()), image.width(), image.height(),
            static_cast<int32_t>(image.bytesPerLine())};
}

void WindowView::refreshPreview() {
    window_.Picture1->refresh();
}

void WindowView::setBusy(bool busy) {
    setWaitCursor(busy);
}

WindowWiring::WindowWiring(nubaro::MainWindow &window, imagelib::ImageLibrary &library,
                           FileDialog &dialog, MessageBox &box)
    : view_(window), commands_(library, dialog, box, view_, window.settings()) {
    window.onBrowse = [this] { return commands_.browse(); };
    window.onConvert = [this] { commands_.convert(); };
    window.onDropSource = [this](const QString &path) { commands_.takeSource(path.toStdString()); };
    window.onSetDialogFlags = [&dialog](int32_t flags) { dialog.Flags = flags; };
}

} // namespace convert
