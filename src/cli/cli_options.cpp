#include "cli/cli_options.h"

#include "app/file_flows.h"
#include "document/wav_file.h"
#include "document/workspace.h"
#include "formats/sound_export.h"
#include "formats/sound_files.h"
#include "platform/ui.h"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <system_error>
#include <utility>

namespace sonavik::cli {

std::string absolutePath(const std::string& path)
{
    std::error_code ec;
    auto abs = std::filesystem::absolute(path, ec);
    return ec ? path : abs.lexically_normal().string();
}

std::variant<OptionValue, std::string> takeValuedOption(const std::vector<std::string>& args, std::size_t& i,
                                                        std::initializer_list<std::string_view> known)
{
    const std::string& arg = args[i];
    OptionValue o{arg, {}};
    bool inline_ = false;
    if (const std::size_t eq = arg.find('='); eq != std::string::npos) {
        o.name = arg.substr(0, eq);
        o.value = arg.substr(eq + 1);
        inline_ = true;
    }
    if (std::find(known.begin(), known.end(), o.name) == known.end())
        return "unknown option " + arg;
    if (!inline_) {
        if (i + 1 >= args.size())
            return o.name + " needs a value";
        o.value = args[++i];
    }
    return o;
}

std::variant<int, std::string> parseThreadCount(std::string_view text)
{
    const auto threads = parseNumber<int>(text);
    if (!threads || *threads < 1 || *threads > 64)
        return "--threads takes a count from 1 to 64, not " + std::string(text);
    return *threads;
}

std::optional<std::string> outputWavPath(Ui& ui, const std::string& operand)
{
    std::string out = absolutePath(operand);
    if (!checkSoundFileName(out, "")) {
        showError(ui, out + " はファイル名が不正です");
        return std::nullopt;
    }
    if (!saveKindOfName(out)) {
        showError(ui, out + " はこの形式では保存できません (wav, flac, ogg, mp3)");
        return std::nullopt;
    }
    return out;
}

bool writeOutput(Ui& ui, const SoundDocument& document, const std::string& path, int quality)
{
    return writeSoundFile(ui, document, path, saveKindOfName(path).value_or(SaveKind::Wav), quality);
}

bool openInput(Workspace& ws, Ui& ui, const std::string& in, const std::optional<ChannelChoice>& channels)
{
    std::string status;
    const bool opened = openWavFile(ws, ui, absolutePath(in), &status, channels);
    if (opened && !status.empty())
        std::cerr << "sonavik2-cli: " << status << '\n';
    return opened;
}

std::optional<ChannelChoice> parseChannelPair(std::string_view text)
{
    const std::size_t comma = text.find(',');
    if (comma == std::string_view::npos)
        return std::nullopt;
    const auto left = parseNumber<int>(text.substr(0, comma));
    const auto right = parseNumber<int>(text.substr(comma + 1));
    if (!left || !right || *left < 1 || *right < 1)
        return std::nullopt;
    return ChannelChoice{ChannelChoice::Kind::Pair, *left, *right};
}

std::optional<ChannelChoice> parseMix(std::string_view text)
{
    if (text == "mono")
        return ChannelChoice{ChannelChoice::Kind::MixMono, 1, 2};
    if (text == "stereo")
        return ChannelChoice{ChannelChoice::Kind::MixStereo, 1, 2};
    return std::nullopt;
}

std::vector<std::string_view> splitFields(std::string_view text)
{
    std::vector<std::string_view> out;
    for (;;) {
        const std::size_t colon = text.find(':');
        out.push_back(text.substr(0, colon));
        if (colon == std::string_view::npos)
            return out;
        text.remove_prefix(colon + 1);
    }
}

std::optional<int> parseChannel(std::string_view text)
{
    if (text == "L")
        return 0;
    if (text == "R")
        return 1;
    return std::nullopt;
}

std::optional<std::int32_t> parseFrame(std::string_view text)
{
    auto v = parseNumber<std::int32_t>(text);
    if (!v || *v < 0)
        return std::nullopt;
    return v;
}

std::optional<SelectOption> parseSelect(std::string_view text)
{
    const auto f = splitFields(text);
    if (f.size() < 4 || f.size() > 8)
        return std::nullopt;
    SelectOption s{};
    if (f[0] == "blue")
        s.kind = SelectionKind::Blue;
    else if (f[0] == "green")
        s.kind = SelectionKind::Green;
    else
        return std::nullopt;
    auto channel = parseChannel(f[1]);
    auto start = parseFrame(f[2]);
    auto end = parseFrame(f[3]);
    if (!channel || !start || !end)
        return std::nullopt;
    s.channel = *channel;
    s.start = *start;
    s.end = *end;
    if (f.size() > 4) {
        const std::pair<std::string_view, SelectionShape> shapes[] = {{"linear", SelectionShape::Linear},
                                                                      {"cos", SelectionShape::Cos},
                                                                      {"exp+", SelectionShape::ExpPlus},
                                                                      {"exp-", SelectionShape::ExpMinus},
                                                                      {"stair", SelectionShape::Staircase}};
        bool known = false;
        for (const auto& [name, shape] : shapes)
            if (f[4] == name) {
                s.shape = shape;
                known = true;
            }
        if (!known)
            return std::nullopt;
    }
    s.parameter = menuParameterOf(s.shape);
    for (std::size_t i = 5; i <= 6 && i < f.size(); ++i) {
        auto level = parseNumber<double>(f[i]);
        if (!level || *level < 0.0 || *level > 1.0)
            return std::nullopt;
        (i == 5 ? s.alphaStart : s.alphaEnd) = *level;
    }
    if (f.size() == 8) {
        auto parameter = parseNumber<double>(f[7]);
        if (!parameter)
            return std::nullopt;
        s.parameter = *parameter;
    }
    return s;
}

std::optional<RedSelection> parseRed(std::string_view text)
{
    const auto f = splitFields(text);
    if (f.size() != 3)
        return std::nullopt;
    auto channel = parseChannel(f[0]);
    auto start = parseFrame(f[1]);
    auto end = parseFrame(f[2]);
    if (!channel || !start || !end)
        return std::nullopt;
    RedSelection red;
    red.redChannel = *channel;
    red.redStart = std::min(*start, *end);
    red.redEnd = std::max(*start, *end);
    return red;
}

} // namespace sonavik::cli
