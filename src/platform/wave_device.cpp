#include "platform/wave_device.h"

#include <array>

namespace sonavik {

std::string mmErrorText(int code)
{
    static constexpr std::array<const char*, 21> general = {
        "正常終了",
        "一般的なエラー",
        "指定のデバイスＩＤが無効です。",
        "Driver failed enable!",
        "指定のデバイスは既に割り当てられています。",
        "指定のハンドルは無効です。",
        "指定のデバイスドライバが見つかりません。",
        "メモリの割り当てに失敗しました。",
        "指定の機能はサポートされていません。",
        "指定のエラー番号が無効です。",
        "指定のフラグは無効です。",
        "指定のパラメーターは無効です。",
        "指定のハンドルは既に使用中です。",
        "Specified alias not found!",
        "Bad registry database!",
        "Registry key not found!",
        "Registry read error!",
        "Registry write error!",
        "Registry delete error!",
        "Registry value not found!",
        "Driver does not call DriverCallback!",
    };
    static constexpr std::array<const char*, 4> wave = {
        "オープンされているデバイスドライバは、\n指定のフォーマットをサポートしません。",
        "キューにバッファが残っています。",
        "指定の wh が準備されていません。",
        "Device is synchronous!",
    };
    if (code >= 0 && code < static_cast<int>(general.size()))
        return general[static_cast<std::size_t>(code)];
    if (code >= mm::BadFormat && code <= mm::Synchronous)
        return wave[static_cast<std::size_t>(code - mm::BadFormat)];
    return "その他のエラー ( " + std::to_string(code) + " )";
}

} // namespace sonavik
