#include "app/main_menu.h"

namespace sonavik {

const std::vector<Menu>& mainMenu()
{
    static const std::vector<Menu> menus = {
        {"ファイル",
         {{cmd::New, "新規作成"},
          {cmd::Open, "開く"},
          {0, ""},
          {cmd::Save, "上書き保存"},
          {cmd::SaveAs, "名前を付けて保存"},
          {0, ""},
          {cmd::Close, "閉じる"},
          {0, ""},
          {cmd::Exit, "Sonavik 2 の終了"}}},
        {"エディット",
         {{cmd::Undo, "元に戻す／やり直し"},
          {cmd::History, "編集履歴..."},
          {0, ""},
          {cmd::Silence, "無音"},
          {cmd::Halve, "振幅を半減"},
          {cmd::Double, "振幅を倍増"},
          {cmd::Nonlinear, "振幅の非線形変換..."},
          {cmd::FadeInLinear, "フェードイン( 直線 )"},
          {cmd::FadeOutLinear, "フェードアウト( 直線 )"},
          {cmd::FadeInCos, "フェードイン( Cos カーブ )"},
          {cmd::FadeOutCos, "フェードアウト( Cos カーブ )"},
          {cmd::Reverse, "リバース"},
          {cmd::Invert, "逆相"},
          {cmd::Equalize, "イコライザー..."},
          {cmd::Reverb, "リバーブ..."},
          {cmd::Convolve, "任意の音で畳み込み..."},
          {cmd::Coarsen, "振幅量子化の間引き..."},
          {cmd::Trim, "トリミング"},
          {cmd::Delete, "削除"}}},
        {"変換", {{cmd::Fft, "FFT"}}},
        {"再生", {{cmd::PlayOnce, "通常再生"}, {cmd::PlayLoop, "ループ再生"}, {cmd::PlaySettings, "再生の設定"}, {cmd::CompareBefore, "変更前と聴き比べる"}}},
    };
    return menus;
}

} // namespace sonavik
