// SPDX-License-Identifier: MIT
// Scripted stand-ins for the file dialog, the message box and the window,
// sharing one event log with the recording library so tests can check order.
#pragma once

#include "ports.h"
#include "recording_library.h"

#include <deque>
#include <string>
#include <vector>

namespace convert_test {

// What a dialog looked like when it was shown, and what the user did.
struct DialogShown {
    bool save = false;
    int32_t flags = 0;
    std::string filter;
    std::string defaultExt;
    std::string fileName;
    int16_t filterIndex = 0;
};

struct DialogAnswer {
    bool accept = true;
    std::string fileName;
    int16_t filterIndex = 1;
};

class ScriptedDialog final : public convert::FileDialog {
  public:
    std::vector<DialogShown> shown;
    std::deque<DialogAnswer> answers; // none left: the user cancels
    std::vector<std::string> *log = nullptr;

    bool ShowOpen() override { return run(false); }
    bool ShowSave() override { return run(true); }

  private:
    bool run(bool save) {
        shown.push_back({save, Flags, Filter, DefaultExt, FileName, FilterIndex});
        if (log) log->push_back(save ? "ShowSave" : "ShowOpen");
        DialogAnswer answer{false, {}, FilterIndex};
        if (!answers.empty()) {
            answer = answers.front();
            answers.pop_front();
        }
        FilterIndex = answer.filterIndex;
        if (answer.accept) {
            FileName = answer.fileName;
        } else if (save) {
            FileName.clear();
        }
        return answer.accept;
    }
};

class RecordingBox final : public convert::MessageBox {
  public:
    struct Shown {
        std::string text;
        std::string title;
        std::string details;
        size_t libraryCallsBefore; // how many library calls had been made
    };
    std::vector<Shown> shown;
    const imagelib::RecordingLibrary *lib = nullptr;
    std::vector<std::string> *log = nullptr;

    void show(const std::string &text, const std::string &title,
              const std::string &details) override {
        shown.push_back({text, title, details, lib ? lib->calls.size() : 0});
        if (log) log->push_back("Box");
    }
};

class FakeView final : public convert::ConvertView {
  public:
    std::string text;
    int check = 0;
    std::vector<uint32_t> pixels = std::vector<uint32_t>(33 * 33, 0xFF123456u);
    int width = 33, height = 33;
    int refreshes = 0;
    int busyDepth = 0;
    int busyChanges = 0;
    int setTextCalls = 0;
    std::vector<std::string> *log = nullptr;

    std::string text1() const override { return text; }
    void setText1(const std::string &t) override {
        text = t;
        ++setTextCalls;
    }
    int check1() const override { return check; }
    ImgctlSurface previewSurface() override {
        return {pixels.data(), width, height, static_cast<int32_t>(width * 4)};
    }
    void refreshPreview() override { ++refreshes; }
    void setBusy(bool busy) override {
        busyDepth += busy ? 1 : -1;
        ++busyChanges;
    }
};

} // namespace convert_test
