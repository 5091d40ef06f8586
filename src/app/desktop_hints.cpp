#include "app/desktop_hints.h"

#include "edit/command_ids.h"
#include "spectrogram/spectrogram_view.h"

#include <iterator>

namespace sonavik {

namespace {

struct Hint {
    int commandId;
    const char* text;
};

constexpr Hint kShortcuts[] = {
    {cmd::Open, "Ctrl+O"},          {cmd::Save, "Ctrl+S"},  {cmd::SaveAs, "Ctrl+Shift+S"},
    {cmd::Close, "Ctrl+W"},         {cmd::Exit, "Ctrl+Q"},  {cmd::Undo, "Ctrl+Z"},
    {cmd::History, "Ctrl+H"},       {cmd::CompareBefore, "B"},
};

constexpr Hint kToolTips[] = {
    {cmd::Open, "WAV ファイルを開きます"},
    {cmd::SaveAs, "名前を付けて保存します"},
    {cmd::PlayButton, "再生します（再生中は停止します）"},
    {cmd::New, "新しく録音します"},
    {cmd::Reverb, "残響を加えます（リバーブ）"},
    {cmd::Equalize, "周波数ごとに音量を変えます（イコライザー）"},
    {cmd::LeftFit, "音全体を表示します"},
    {cmd::LeftZoomInY, "縦（振幅）に拡大します"},
    {cmd::LeftZoomOutY, "縦（振幅）に縮小します"},
    {cmd::LeftCentre, "振幅 0 を中央にします"},
    {cmd::LeftZoomInX, "横（時間）に拡大します"},
    {cmd::LeftZoomOutX, "横（時間）に縮小します"},
    {spectrogram_cmd::GainUp, "明るさを２倍にします"},
    {spectrogram_cmd::GainDown, "明るさを半分にします"},
    {spectrogram_cmd::LogColours, "大きさの対数で色を付けます（LOG）"},
    {spectrogram_cmd::LinearColours, "大きさに比例して色を付けます（LINE）"},
    {spectrogram_cmd::ZoomIn, "時間と周波数の両方に拡大します"},
    {spectrogram_cmd::ZoomOut, "時間と周波数の両方に縮小します"},
    {spectrogram_cmd::TimeZoomIn, "横（時間）に拡大します"},
    {spectrogram_cmd::TimeZoomOut, "横（時間）に縮小します"},
    {spectrogram_cmd::FrequencyZoomIn, "縦（周波数）に拡大します"},
    {spectrogram_cmd::FrequencyZoomOut, "縦（周波数）に縮小します"},
    {spectrogram_cmd::Fit, "解析全体を表示します"},
    {spectrogram_cmd::Dot, "（何もしません）"},
    {spectrogram_cmd::Blank, "（何もしません。空きボタンです）"},
    {spectrogram_cmd::SaveBitmap, "画像を BMP ファイルに保存します（SAVE BMP）"},
    {spectrogram_cmd::SaveSpectra, "スペクトルをファイルに保存します（SAVE DAT）"},
    {spectrogram_cmd::Resynthesize, "スペクトルを音に書き戻します（I FFT）"},
};

const char* find(const Hint* begin, const Hint* end, int commandId)
{
    for (const Hint* h = begin; h != end; ++h)
        if (h->commandId == commandId)
            return h->text;
    return nullptr;
}

} // namespace

const char* menuShortcut(int commandId) { return find(std::begin(kShortcuts), std::end(kShortcuts), commandId); }

const char* buttonToolTip(int commandId)
{
    // The right view's buttons do for it what the left ones do for the left view.
    if (commandId >= cmd::RightFit && commandId <= cmd::RightLast)
        commandId -= cmd::RightFit - cmd::LeftFit;
    return find(std::begin(kToolTips), std::end(kToolTips), commandId);
}

} // namespace sonavik
