// SPDX-License-Identifier: MIT
// The failure boxes' Japanese: each of the library's failure categories and
// the sentence for a library that cannot be reached. (How the details are
// put together is checked byte for byte with the Convert command's failures.)
#include "failure_text.h"

#include <gtest/gtest.h>

namespace {

TEST(FailureText, EachCategoryInJapanese) {
    const struct {
        int32_t category;
        const char *cause;
    } kCauses[] = {
        {IMGCTL_ERR_NOT_FOUND, "ファイルが見つかりません。"},
        {IMGCTL_ERR_CANNOT_READ, "ファイルを読み取れません。"},
        {IMGCTL_ERR_NOT_IMAGE, "画像ファイルではありません。"},
        {IMGCTL_ERR_UNSUPPORTED, "この種類の画像には対応していません。"},
        {IMGCTL_ERR_CORRUPT, "ファイルが壊れています。"},
        {IMGCTL_ERR_TOO_LARGE, "画像が大きすぎます。"},
        {IMGCTL_ERR_OUT_OF_MEMORY, "メモリが足りません。"},
        {IMGCTL_ERR_CANNOT_WRITE, "ファイルを書き込めません。"},
        {IMGCTL_ERR_PERMISSION, "アクセスする権限がありません。"},
        {IMGCTL_ERR_DISK_FULL, "ディスクの空きが足りません。"},
        {IMGCTL_ERR_NO_FOLDER, "保存先のフォルダーがありません。"},
        // A handle or argument the library refuses is this program's fault.
        {IMGCTL_ERR_BAD_HANDLE, "プログラム内部のエラーです。"},
        {IMGCTL_ERR_BAD_ARGUMENT, "プログラム内部のエラーです。"},
        {IMGCTL_ERR_INTERNAL, "プログラム内部のエラーです。"},
        // No category, or one added to the library after this program.
        {IMGCTL_OK, "原因が分かりません。"},
        {IMGCTL_ERR_INTERNAL + 1, "原因が分かりません。"},
    };
    for (const auto &c : kCauses)
        EXPECT_EQ(convert::causeText(c.category), c.cause) << c.category;
}

TEST(FailureText, UnreachableLibraryInOneSentence) {
    using imagelib::LibraryError;
    const struct {
        LibraryError error;
        const char *sentence;
    } kSentences[] = {
        {LibraryError("libimgctl.so", "",
                      "cannot open shared object file: No such file or directory"),
         "ライブラリ「libimgctl.so」を読み込めません（cannot open shared object file: No such file "
         "or "
         "directory）。"},
        {LibraryError("libimgctl.so", "", ""), "ライブラリ「libimgctl.so」を読み込めません。"},
        {LibraryError("libimgctl.so", "DIBtoPNGex", ""),
         "ライブラリ「libimgctl.so」に関数「DIBtoPNGex」がありません。"},
    };
    for (const auto &c : kSentences)
        EXPECT_EQ(convert::unreachableText(c.error), c.sentence);
}

} // namespace
