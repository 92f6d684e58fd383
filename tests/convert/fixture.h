// SPDX-License-Identifier: MIT
// The commands wired to the recording library and the scripted window parts,
// with the settings as the window sets them at start-up.
#pragma once

#include "commands.h"
#include "fakes.h"
#include "settings_rules.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace convert_test {

inline ConversionSettings startupSettings() {
    ConversionSettings s;
    nubaro::fillExtensionTable(s);
    nubaro::writeStartValues(s);
    return s;
}

class CommandsTest : public ::testing::Test {
  protected:
    CommandsTest() {
        dialog.Flags = 2; // as start-up leaves it
        dialog.trace = &lib;
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
    ConversionSettings settings = startupSettings();
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
