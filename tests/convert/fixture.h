// SPDX-License-Identifier: MIT
// The commands wired to the recording library and the scripted window parts,
// with the settings as the window sets them at start-up.
#pragma once

#include "commands.h"
#include "fakes.h"
#include "settings_rules.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

namespace convert_test {

inline ConversionSettings startupSettings() {
    ConversionSettings s;
    nubaro::fillExtensionTable(s);
    nubaro::writeStartValues(s);
    return s;
}

// Library calls separated by spaces, to compare with one line of a table.
inline std::string joined(const std::vector<std::string> &calls) {
    std::string all;
    for (const std::string &call : calls)
        all += (all.empty() ? "" : " ") + call;
    return all;
}

class CommandsTest : public ::testing::Test {
  protected:
    CommandsTest() {
        dialog.Flags = 2; // as start-up leaves it
        box.lib = &lib;
        box.log = &log;
        dialog.log = &log;
        view.log = &log;
    }

    // No image left alive, none released twice, none used after it was gone.
    void expectCleanHandles() {
        EXPECT_TRUE(lib.liveImages.empty()) << "leaked images";
        EXPECT_TRUE(lib.badReleases.empty()) << "released twice";
        EXPECT_TRUE(lib.staleUses.empty()) << "used after release";
        EXPECT_EQ(view.busyDepth, 0) << "wait cursor left on";
    }

    imagelib::RecordingLibrary lib;
    ScriptedDialog dialog;
    RecordingBox box;
    FakeView view;
    ConversionSettings settings = startupSettings();
    std::vector<std::string> log;
    convert::ConversionCommands commands{lib, dialog, box, view, settings};
};

inline std::string pngRecord(uint8_t flags, uint8_t level) {
    std::string s = "{";
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", flags);
    s += hex;
    s += " 00 00 00";
    std::snprintf(hex, sizeof hex, " %02X", level);
    s += hex;
    for (int i = 5; i < 36; ++i)
        s += " 00";
    return s + "}";
}

} // namespace convert_test
