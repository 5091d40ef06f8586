#pragma once
// The editor's command ids: menu items, big buttons, view buttons and context-menu edits share them.

namespace sonavik {

namespace cmd {
inline constexpr int Silence = 40102;
inline constexpr int FadeInLinear = 40103;
inline constexpr int FadeOutLinear = 40104;
inline constexpr int FadeInCos = 40105;
inline constexpr int FadeOutCos = 40106;
inline constexpr int Halve = 40107;
inline constexpr int Double = 40108;
inline constexpr int Nonlinear = 40109;
inline constexpr int Equalize = 40110;
inline constexpr int Reverb = 40111;
inline constexpr int Convolve = 40112;
inline constexpr int Reverse = 40113;
inline constexpr int Invert = 40114;
inline constexpr int Coarsen = 40115;
inline constexpr int Trim = 40116;
inline constexpr int Delete = 40117;
inline constexpr int Fft = 40123;
inline constexpr int EditFirst = 40102;
inline constexpr int EditLast = 40123;

inline constexpr int PlayOnce = 40201;
inline constexpr int PlayLoop = 40202;
inline constexpr int PlayButton = 40203;
inline constexpr int PlaySettings = 40204;
inline constexpr int Open = 40205;
inline constexpr int New = 40207;
inline constexpr int Save = 40208;
inline constexpr int SaveAs = 40209;
inline constexpr int Close = 40210;
inline constexpr int Undo = 40211;
inline constexpr int Exit = 40212;
// The window of every state of the sound (not a command of the original menu ids).
inline constexpr int History = 40215;
// 再生 → 変更前と聴き比べる (key B): before and after the last change while the sound plays.
inline constexpr int CompareBefore = 40216;

// View buttons: left view 40301 to 40306, right view 40309 to 40314, in this order.
inline constexpr int LeftFit = 40301;
inline constexpr int LeftZoomInY = 40302;
inline constexpr int LeftZoomOutY = 40303;
inline constexpr int LeftCentre = 40304;
inline constexpr int LeftZoomInX = 40305;
inline constexpr int LeftZoomOutX = 40306;
inline constexpr int RightFit = 40309;
inline constexpr int RightLast = 40314;
} // namespace cmd

} // namespace sonavik
