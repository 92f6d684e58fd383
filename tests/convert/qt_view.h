// SPDX-License-Identifier: MIT
// A window stand-in for tests with the real library: Text1, Check1 and a
// 33x33 Format_RGB32 backing image for the preview, as Picture1 holds it.
#pragma once

#include "ports.h"

#include <QImage>

#include <string>

namespace convert_test {

class ImageView final : public convert::ConvertView {
  public:
    static constexpr QRgb kUntouched = 0xFFFF00FFu; // a colour the test images lack

    std::string text;
    int check = 0;
    QImage picture{33, 33, QImage::Format_RGB32};
    int refreshes = 0;
    int busyDepth = 0;

    ImageView() { picture.fill(kUntouched); }

    std::string text1() const override { return text; }
    void setText1(const std::string &t) override { text = t; }
    int check1() const override { return check; }
    ImgctlSurface previewSurface() override {
        return {reinterpret_cast<uint32_t *>(picture.bits()), picture.width(), picture.height(),
                static_cast<int32_t>(picture.bytesPerLine())};
    }
    void refreshPreview() override { ++refreshes; }
    void setBusy(bool busy) override { busyDepth += busy ? 1 : -1; }
};

} // namespace convert_test
