// SPDX-License-Identifier: MIT
#include "request.h"

#include <cstring>

namespace convert {

PngOptions makePngOptions(const ConversionSettings &settings) {
    PngOptions options;
    std::memset(&options, 0, sizeof options);
    if (settings.interlaced == kTrue) options.flags = IMGCTL_PNG_INTERLACED;
    options.level = settings.pngLevel;
    return options;
}

std::optional<ConversionRequest> conversionRequest(const ConversionSettings &settings,
                                                   bool rleTicked, Palette palette) {
    ConversionRequest request;
    switch (settings.formatIndex) {
    case 0: {
        request.steps.push_back({Step::ExpandRle});
        switch (settings.bitDepthIndex) {
        case 0:
            request.steps.push_back({Step::To24Bit});
            break;
        case 1:
            request.steps.push_back({Step::To16Bit, 1});
            break;
        case 2:
            request.steps.push_back({Step::To8Bit, palette == Palette::Nearest ? 1 : 0});
            if (rleTicked) request.steps.push_back({Step::CompressRle});
            break;
        default:
            return std::nullopt;
        }
        request.steps.push_back({Step::Gray, settings.grayLevel});
        request.save = {Save::Bmp};
        return request;
    }
    case 1:
        request.save = {Save::Jpeg, settings.jpegQuality, settings.progressive};
        return request;
    case 2:
        if (settings.detailsShown != kFalse) {
            request.save = {Save::PngEx};
            request.save.png = makePngOptions(settings);
        } else {
            request.save = {Save::Png};
        }
        return request;
    default:
        return std::nullopt;
    }
}

} // namespace convert
