// SPDX-License-Identifier: MIT
// What Browse and Convert need from the window, the file dialog and the
// message box. The window and the Qt components implement these; tests put
// scripted stand-ins in their place.
#pragma once

#include <imgctl.h>

#include <cstdint>
#include <string>

namespace convert {

// The file dialog CommonDialog1, shared by the open and the save dialog. Its
// properties keep their values between dialogs until set again.
class FileDialog {
  public:
    virtual ~FileDialog() = default;

    // Flag bits; 2 asks before an existing file is replaced.
    static constexpr int32_t kOverwritePrompt = 0x2;

    int32_t Flags = 0;
    // Entries "description|patterns|description|patterns...", the patterns of
    // one entry separated by ';'. Descriptions are shown exactly as written.
    std::string Filter;
    std::string DefaultExt;  // appended to a name typed without an extension
    std::string FileName;    // UTF-8; the name box starts with it
    int16_t FilterIndex = 0; // 1-based entry; 0 or out of range starts on the first

    // Modal dialogs. Each returns true when the user confirmed a name; then
    // FileName holds it and FilterIndex the entry in effect. ShowSave leaves
    // FileName empty when cancelled; ShowOpen leaves it as it was.
    virtual bool ShowOpen() = 0;
    virtual bool ShowSave() = 0;
};

// The modal message box with one OK button and no icon. `details`, when not
// empty, is shown below the text (which stays exactly as given).
class MessageBox {
  public:
    virtual ~MessageBox() = default;
    virtual void show(const std::string &text, const std::string &title,
                      const std::string &details) = 0;
};

// The parts of the main window the commands read and write.
class ConvertView {
  public:
    virtual ~ConvertView() = default;

    virtual std::string text1() const = 0; // the source box Text1, UTF-8
    virtual void setText1(const std::string &text) = 0;
    virtual int check1() const = 0; // the RLE box: 0 unticked, 1 ticked, 2 grayed

    // Picture1's persistent backing image (0xFFRRGGBB words), at the box's
    // size; refreshPreview shows what was drawn into it.
    virtual ImgctlSurface previewSurface() = 0;
    virtual void refreshPreview() = 0;

    // A wait cursor while the library works.
    virtual void setBusy(bool busy) = 0;
};

} // namespace convert
