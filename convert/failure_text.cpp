// SPDX-License-Identifier: MIT
#include "failure_text.h"

#include <imgctl.h>

namespace convert {

std::string errorText(const std::string &detail) {
    return std::string(kErrorHeader) + "\n" + detail + "\n";
}

std::string stageDetail(Stage stage) {
    switch (stage) {
    case Stage::Load:
        return kLoadFailedText;
    case Stage::Convert:
        return kConvertFailedText;
    default:
        return {};
    }
}

std::string_view causeText(int32_t category) {
    switch (category) {
    case IMGCTL_ERR_NOT_FOUND:
        return "ファイルが見つかりません。";
    case IMGCTL_ERR_CANNOT_READ:
        return "ファイルを読み取れません。";
    case IMGCTL_ERR_NOT_IMAGE:
        return "画像ファイルではありません。";
    case IMGCTL_ERR_UNSUPPORTED:
        return "この種類の画像には対応していません。";
    case IMGCTL_ERR_CORRUPT:
        return "ファイルが壊れています。";
    case IMGCTL_ERR_TOO_LARGE:
        return "画像が大きすぎます。";
    case IMGCTL_ERR_OUT_OF_MEMORY:
        return "メモリが足りません。";
    case IMGCTL_ERR_CANNOT_WRITE:
        return "ファイルを書き込めません。";
    case IMGCTL_ERR_PERMISSION:
        return "アクセスする権限がありません。";
    case IMGCTL_ERR_DISK_FULL:
        return "ディスクの空きが足りません。";
    case IMGCTL_ERR_NO_FOLDER:
        return "保存先のフォルダーがありません。";
    case IMGCTL_ERR_BAD_HANDLE:
    case IMGCTL_ERR_BAD_ARGUMENT:
    case IMGCTL_ERR_INTERNAL:
        return "プログラム内部のエラーです。";
    default:
        return "原因が分かりません。";
    }
}

std::string unreachableText(const imagelib::LibraryError &error) {
    const std::string library = "ライブラリ「" + error.file() + "」";
    if (!error.function().empty())
        return library + "に関数「" + error.function() + "」がありません。";
    if (error.reason().empty()) return library + "を読み込めません。";
    return library + "を読み込めません（" + error.reason() + "）。";
}

std::string failureDetails(const ChainResult &result) {
    std::string details;
    if (!result.file.empty()) details = "ファイル：" + result.file + "\n";
    details += "原因：";
    if (result.unreachable) return details + unreachableText(*result.unreachable);
    return details + std::string(causeText(result.errorCode));
}

} // namespace convert
