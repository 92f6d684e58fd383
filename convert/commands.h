// SPDX-License-Identifier: MIT
// Browse, Convert and the menu commands that run them, over the image
// library, the file dialog, the message box and the window (ports.h). The
// window's Command1_Click (and through it Open_Click and An_Click) runs
// browse(), its Command3_Click runs convert().
#pragma once

#include "chain.h"
#include "image_library.h"
#include "ports.h"
#include "settings/conversion_settings.h"

#include <exception>

namespace convert {

// The open dialog's three entries.
inline constexpr const char *kOpenFilter =
    "BMPファイル(*.bmp)|*.bmp|JPEGファイル(*.jpg,*.jpe,*.jpeg)|*.jpg;*.jpe;*.jpeg|"
    "PINGファイル(*.png)|*.png";

// The save dialog's flags: overwrite prompt, explorer look, long names.
inline constexpr int32_t kSaveFlags = 0x280002;

// DIBtoDCex2's drawing mode for the preview (area averaging).
inline constexpr int32_t kPreviewMode = 4;

class ConversionCommands {
  public:
    ConversionCommands(imagelib::ImageLibrary &lib, FileDialog &dialog, MessageBox &box,
                       ConvertView &view, ConversionSettings &settings)
        : lib_(lib), dialog_(dialog), box_(box), view_(view), settings_(settings) {}

    // Picks the source in the open dialog and draws its preview. A cancelled
    // dialog changes nothing. A library that cannot be reached is named in an
    // error box (one sentence: the file looked for and the system's reason),
    // and sourcePath, filterIndex and Text1 go back to what they were.
    // Returns false after such a failure.
    bool browse();

    // Takes `path` as the source as browse() takes the name its dialog
    // returns (sourcePath, Text1, the preview), leaving filterIndex and the
    // dialog alone: a file dropped onto the window. Failures as in browse().
    bool takeSource(const std::string &path);

    // Converts Text1's file into a name asked for in the save dialog. Every
    // failure after the empty-Text1 test is handled here: silently before the
    // output name is known, else in the error box with the stage's text and,
    // as its details, the file and the cause in Japanese.
    void convert();

  private:
    void preview(const std::string &path);
    // sourcePath and Text1 set to `path`, then the preview. On a failure
    // both go back, the box names it and the result is false.
    bool useSource(const std::string &path, int16_t oldFilterIndex);
    // The box for a failure of Browse: a library that cannot be reached in
    // one sentence, anything else under the header line.
    void report(const std::exception &e);

    imagelib::ImageLibrary &lib_;
    FileDialog &dialog_;
    MessageBox &box_;
    ConvertView &view_;
    ConversionSettings &settings_;
};

} // namespace convert
