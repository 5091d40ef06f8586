#pragma once
// Parsing shared by the command-line tool's commands: numbers, colon-separated fields, selections.

#include "document/selection.h"
#include "platform/ui.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <initializer_list>
#include <type_traits>
#include <variant>
#include <vector>

namespace sonavik {
struct SoundDocument;
struct Workspace;
}

namespace sonavik::cli {

std::string absolutePath(const std::string& path);

// The whole text as a number (finite for floating point), or nullopt.
template <typename T>
std::optional<T> parseNumber(std::string_view text)
{
    T value{};
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end)
        return std::nullopt;
    if constexpr (std::is_floating_point_v<T>) {
        if (!std::isfinite(value))
            return std::nullopt;
    }
    return value;
}

// An option that takes a value, "--name VALUE" or "--name=VALUE", at args[i] (which starts with "--"):
// its name and value; i moves onto the value when it is the next argument. The error text when the
// name is not among known or the value is missing.
struct OptionValue {
    std::string name;
    std::string value;
};
std::variant<OptionValue, std::string> takeValuedOption(const std::vector<std::string>& args, std::size_t& i,
                                                        std::initializer_list<std::string_view> known);

// --threads N: a count from 1 to 64; the usage error's text otherwise.
std::variant<int, std::string> parseThreadCount(std::string_view text);

// OUT as the editor would open it: made absolute, ".wav" added when missing. Nullopt after the
// message "… はファイル名が不正です" for a name the reader would refuse (too long).
std::optional<std::string> outputWavPath(Ui& ui, const std::string& operand);
// Writes OUT in the kind its extension names (WAV for a name outputWavPath completed).
bool writeOutput(Ui& ui, const SoundDocument& document, const std::string& path, int quality);
// Opens IN into ws as the editor's 開く does; what a conversion did goes to stderr.
bool openInput(Workspace& ws, Ui& ui, const std::string& in,
               const std::optional<ChannelChoice>& channels = std::nullopt);
// --channels L,R (numbered from 1) or --mix mono|stereo.
std::optional<ChannelChoice> parseChannelPair(std::string_view text);
std::optional<ChannelChoice> parseMix(std::string_view text);

std::vector<std::string_view> splitFields(std::string_view text);
// "L" 0, "R" 1.
std::optional<int> parseChannel(std::string_view text);
// A frame number, 0 or more.
std::optional<std::int32_t> parseFrame(std::string_view text);

struct SelectOption {
    SelectionKind kind;
    int channel;
    std::int32_t start;
    std::int32_t end;
    SelectionShape shape = SelectionShape::Linear;
    double alphaStart = 1.0;
    double alphaEnd = 1.0;
    double parameter = 1.0;
};

// KIND:CH:START:END[:SHAPE:A0:A1[:PARAM]]
std::optional<SelectOption> parseSelect(std::string_view text);
// CH:START:END
std::optional<RedSelection> parseRed(std::string_view text);

} // namespace sonavik::cli
