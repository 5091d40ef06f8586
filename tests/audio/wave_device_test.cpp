#include "platform/wave_device.h"

#include <gtest/gtest.h>

namespace sonavik {
namespace {

TEST(WaveDevice, ResultCodeTexts)
{
    const std::pair<int, const char*> cases[] = {
        {0, "正常終了"},
        {1, "一般的なエラー"},
        {2, "指定のデバイスＩＤが無効です。"},
        {3, "Driver failed enable!"},
        {4, "指定のデバイスは既に割り当てられています。"},
        {5, "指定のハンドルは無効です。"},
        {6, "指定のデバイスドライバが見つかりません。"},
        {7, "メモリの割り当てに失敗しました。"},
        {8, "指定の機能はサポートされていません。"},
        {9, "指定のエラー番号が無効です。"},
        {10, "指定のフラグは無効です。"},
        {11, "指定のパラメーターは無効です。"},
        {12, "指定のハンドルは既に使用中です。"},
        {13, "Specified alias not found!"},
        {14, "Bad registry database!"},
        {15, "Registry key not found!"},
        {16, "Registry read error!"},
        {17, "Registry write error!"},
        {18, "Registry delete error!"},
        {19, "Registry value not found!"},
        {20, "Driver does not call DriverCallback!"},
        {21, "その他のエラー ( 21 )"},
        {31, "その他のエラー ( 31 )"},
        {32, "オープンされているデバイスドライバは、\n指定のフォーマットをサポートしません。"},
        {33, "キューにバッファが残っています。"},
        {34, "指定の wh が準備されていません。"},
        {35, "Device is synchronous!"},
        {36, "その他のエラー ( 36 )"},
        {-1, "その他のエラー ( -1 )"},
        {2147483647, "その他のエラー ( 2147483647 )"},
    };
    for (const auto& [code, text] : cases)
        EXPECT_EQ(mmErrorText(code), text) << code;
}

} // namespace
} // namespace sonavik
