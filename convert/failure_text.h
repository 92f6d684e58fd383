// SPDX-License-Identifier: MIT
// The texts of the failure boxes: the Convert box's fixed lines, the
// Japanese cause of each of the library's failure categories, the details
// that name the file and the cause, and the sentence for a library that
// cannot be reached.
#pragma once

#include "chain.h"
#include "image_library.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace convert {

inline constexpr const char *kErrorTitle = "エラー";
inline constexpr const char *kErrorHeader = "エラーが発生しました。症状は以下のとおりです。";
inline constexpr const char *kLoadFailedText =
    "ファイルを読み込み出来ませんでした。フォーマットが違うか、ファイルが存在しません。";
inline constexpr const char *kConvertFailedText =
    "ファイルを変換することが出来ませんでした。このエラーが続くようでしたら作者にご連絡ください。";

// The Convert box's text: the header line, a line feed, the detail, a line feed.
std::string errorText(const std::string &detail);
// The detail line for a failure in `stage` (empty for Stage::Release).
std::string stageDetail(Stage stage);

// The cause of a library failure in Japanese, by its category (an
// ImgctlError value); a category this program does not know is "unknown".
std::string_view causeText(int32_t category);

// One sentence naming the library file that was looked for and the system's
// reason, or the function the library lacks.
std::string unreachableText(const imagelib::LibraryError &error);

// The box's details for a failed conversion: "ファイル：" and the file the
// failure concerns (left out when there is none), a line feed, "原因：" and
// the cause in Japanese.
std::string failureDetails(const ChainResult &result);

} // namespace convert
