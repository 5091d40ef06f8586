#include "cli/spectral_ops.h"

#include "cli/cli_options.h"
#include "settings/settings.h"
#include "spectrogram/spectrogram.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string_view>

namespace sonavik::cli {

namespace {

std::optional<CellValue> parseCellValue(std::string_view text)
{
    CellValue v;
    auto strip = [&](std::string_view suffix, CellValue::Unit unit) {
        if (text.size() > suffix.size() && text.substr(text.size() - suffix.size()) == suffix) {
            text.remove_suffix(suffix.size());
            v.unit = unit;
        }
    };
    strip("Hz", CellValue::Unit::Hertz);
    if (v.unit == CellValue::Unit::Cell)
        strip("s", CellValue::Unit::Seconds);
    if (v.unit == CellValue::Unit::Cell) {
        const auto whole = parseNumber<long long>(text);
        if (!whole)
            return std::nullopt;
        v.value = static_cast<double>(*whole);
        return v;
    }
    const auto real = parseNumber<double>(text);
    if (!real)
        return std::nullopt;
    v.value = *real;
    return v;
}

// "harmonics" (0: the settings' count) or "harmonics=N".
std::optional<int> parseHarmonics(std::string_view text)
{
    constexpr std::string_view word = "harmonics";
    if (text == word)
        return 0;
    if (text.substr(0, word.size() + 1) != "harmonics=")
        return std::nullopt;
    const auto n = parseNumber<int>(text.substr(word.size() + 1));
    if (!n || *n < 1 || *n > kMaxHarmonics)
        return std::nullopt;
    return *n;
}

} // namespace

std::optional<RectOp> parseRectOp(const std::string& text)
{
    auto f = splitFields(text);
    RectOp op;
    op.text = text;
    if (f.size() == 6) {
        const auto count = parseHarmonics(f[5]);
        if (!count)
            return std::nullopt;
        op.harmonics = true;
        op.harmonicCount = *count;
        f.pop_back();
    }
    if (f.size() != 5)
        return std::nullopt;
    if (f[0] == "erase")
        op.edit = SpectralEdit::Erase;
    else if (f[0] == "double")
        op.edit = SpectralEdit::Double;
    else if (f[0] == "halve")
        op.edit = SpectralEdit::Halve;
    else if (f[0] == "keep")
        op.edit = SpectralEdit::Keep;
    else if (f[0] == "repair")
        op.edit = SpectralEdit::Repair;
    else
        return std::nullopt;
    auto f0 = parseCellValue(f[1]), f1 = parseCellValue(f[2]), b0 = parseCellValue(f[3]), b1 = parseCellValue(f[4]);
    const bool framesOk = f0 && f1 && f0->unit != CellValue::Unit::Hertz && f1->unit != CellValue::Unit::Hertz;
    const bool binsOk = b0 && b1 && b0->unit != CellValue::Unit::Seconds && b1->unit != CellValue::Unit::Seconds;
    if (!framesOk || !binsOk)
        return std::nullopt;
    op.frame0 = *f0;
    op.frame1 = *f1;
    op.bin0 = *b0;
    op.bin1 = *b1;
    return op;
}

std::int32_t cellOf(const CellValue& v, const Spectrogram& s)
{
    const double n = s.fftSize;
    const double rate = s.sampleRate;
    double cell = v.value;
    if (v.unit == CellValue::Unit::Seconds)
        cell = std::floor(v.value * rate / s.hop());
    else if (v.unit == CellValue::Unit::Hertz)
        cell = std::floor(v.value * n / rate);
    const double lo = std::numeric_limits<std::int32_t>::min();
    const double hi = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::clamp(std::isnan(cell) ? 0.0 : cell, lo, hi));
}

CellRect rectOf(const RectOp& op, const Spectrogram& s)
{
    return {cellOf(op.frame0, s), cellOf(op.frame1, s), cellOf(op.bin0, s), cellOf(op.bin1, s)};
}

int harmonicsOf(const RectOp& op, const Settings& settings)
{
    if (!op.harmonics)
        return 0;
    return op.harmonicCount > 0 ? op.harmonicCount : harmonicCount(settings);
}

} // namespace sonavik::cli
