// SPDX-License-Identifier: MIT
// Scripted stand-ins for the file dialog, the message box and the window, and
// the commands wired to them and the recording library (CommandsTest). The
// dialog and the box add what they do ("ShowOpen", "ShowSave", "Box") to the
// recording library's calls, so one trace shows the order of everything.
#pragma once

#include "commands.h"
#include "ports.h"
#include "recording_library.h"
#include "settings_rules.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <string>
#include <vector>

namespace convert_test {

using imagelib::RecordingLibrary;

inline void note(RecordingLibrary *trace, const char *event) {
    if (trace) trace->calls.push_back({event, event});
}

// What a dialog looked like when it was shown.
struct DialogShown {
    int32_t flags = 0;
    std::string filter;
    std::string defaultExt;
    std::string fileName;
    int16_t filterIndex = 0;
};

// What the user did in it.
struct DialogAnswer {
    bool accept = true;
    std::string fileName;
    int16_t filterIndex = 1;
    const char *text1 = nullptr; // what the user left in Text1 meanwhile
};

class ScriptedDialog final : public convert::FileDialog {
  public:
    std::vector<DialogShown> shown;
    std::deque<DialogAnswer> answers; // none left: the user cancels
    RecordingLibrary *trace = nullptr;
    std::string *text1 = nullptr; // the view's Text1

    bool ShowOpen() override { return run(false); }
    bool ShowSave() override { return run(true); }

  private:
    bool run(bool save) {
        shown.push_back({Flags, Filter, DefaultExt, FileName, FilterIndex});
        note(trace, save ? "ShowSave" : "ShowOpen");
        DialogAnswer answer{false, {}, FilterIndex};
        if (!answers.empty()) {
            answer = answers.front();
            answers.pop_front();
        }
        FilterIndex = answer.filterIndex;
        if (text1 && answer.text1) *text1 = answer.text1;
        if (answer.accept)
            FileName = answer.fileName;
        else if (save)
            FileName.clear();
        return answer.accept;
    }
};

class RecordingBox : public convert::MessageBox {
  public:
    struct Shown {
        std::string text, title, details;
    };
    std::vector<Shown> shown;
    RecordingLibrary *trace = nullptr;

    void show(const std::string &text, const std::string &title,
              const std::string &details) override {
        shown.push_back({text, title, details});
        note(trace, "Box");
    }
};

class FakeView final : public convert::ConvertView {
  public:
    std::string text;
    int check = 0;
    int width = 33, height = 33;
    std::vector<uint32_t> pixels = std::vector<uint32_t>(33 * 33, 0xFF123456u);
    int refreshes = 0;
    int busyDepth = 0;

    std::string text1() const override { return text; }
    void setText1(const std::string &t) override { text = t; }
    int check1() const override { return check; }
    ImgctlSurface previewSurface() override {
        return {pixels.data(), width, height, static_cast<int32_t>(width * 4)};
    }
    void refreshPreview() override { ++refreshes; }
    void setBusy(bool busy) override { busyDepth += busy ? 1 : -1; }
};

// The calls' texts separated by spaces, to compare with one line of a table.
inline std::string joined(const RecordingLibrary &lib) {
    std::string all;
    for (const std::string &call : lib.texts())
        all += (all.empty() ? "" : " ") + call;
    return all;
}

class CommandsTest : public ::testing::Test {
  protected:
    CommandsTest() {
        dialog.Flags = 2; // as start-up leaves it
        nubaro::fillExtensionTable(settings);
        nubaro::writeStartValues(settings);
        dialog.trace = &lib;
        dialog.text1 = &view.text;
        box.trace = &lib;
    }

    // No image left alive, none released twice, none used after it was gone.
    void expectCleanHandles() {
        EXPECT_TRUE(lib.liveImages.empty()) << "leaked images";
        EXPECT_TRUE(lib.badReleases.empty()) << "released twice";
        EXPECT_TRUE(lib.staleUses.empty()) << "used after release";
        EXPECT_EQ(view.busyDepth, 0) << "wait cursor left on";
    }

    RecordingLibrary lib;
    ScriptedDialog dialog;
    RecordingBox box;
    FakeView view;
    ConversionSettings settings;
    convert::ConversionCommands commands{lib, dialog, box, view, settings};
};

// The 36 bytes of a PNG options record as the recording library writes them.
inline std::string pngRecord(uint8_t flags, uint8_t level) {
    char head[16];
    std::snprintf(head, sizeof head, "{%02X 00 00 00 %02X", flags, level);
    std::string s = head;
    for (int i = 5; i < 36; ++i)
        s += " 00";
    return s + "}";
}

} // namespace convert_test
