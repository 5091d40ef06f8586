#include "formats/sound_files.h"

#include "document/sound_document.h"
#include "platform/os.h"

#include <sndfile.h>

#include <algorithm>
#include <sys/stat.h>

namespace sonavik {

namespace {

std::string lowerAscii(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// The extension after the last dot of the last path component, lower-cased; empty when there is none.
std::string extensionOf(const std::string& path)
{
    const std::size_t dot = path.rfind('.');
    const std::size_t slash = path.rfind(kDirSeparator);
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot + 1 == path.size())
        return {};
    return lowerAscii(path.substr(dot + 1));
}

struct KindName {
    SaveKind kind;
    const char* filter;
    const char* extension;
};
constexpr KindName kSaveKinds[] = {
    {SaveKind::Wav, "WAV", "wav"},
    {SaveKind::Flac, "FLAC", "flac"},
    {SaveKind::OggVorbis, "Ogg Vorbis", "ogg"},
    {SaveKind::Mp3, "MP3", "mp3"},
};

} // namespace

const std::vector<std::string>& readableExtensions()
{
    static const std::vector<std::string> extensions = [] {
        std::vector<std::string> list{"wav"};
        auto add = [&](const std::string& e) {
            if (!e.empty() && std::find(list.begin(), list.end(), e) == list.end())
                list.push_back(e);
        };
        int count = 0;
        sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
        for (int i = 0; i < count; ++i) {
            SF_FORMAT_INFO info{};
            info.format = i;
            if (sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof info) != 0 || !info.extension)
                continue;
            const int major = info.format & SF_FORMAT_TYPEMASK;
            // Header-less sound cannot be opened without being told its format.
            if (major == SF_FORMAT_RAW)
                continue;
            // The names the same containers are commonly given, the usual one first.
            if (major == SF_FORMAT_OGG) {
                add("ogg");
                add("opus");
            } else if (major == SF_FORMAT_MPEG) {
                add("mp3");
                add("mp2");
            }
            add(lowerAscii(info.extension));
            if (major == SF_FORMAT_AIFF) {
                add("aif");
                add("aifc");
            } else if (major == SF_FORMAT_AU) {
                add("snd");
            }
        }
        return list;
    }();
    return extensions;
}

bool hasSoundExtension(const std::string& path)
{
    const std::string ext = extensionOf(path);
    const auto& all = readableExtensions();
    return !ext.empty() && std::find(all.begin(), all.end(), ext) != all.end();
}

bool checkSoundFileName(std::string& path, const std::string& defaultDir)
{
    if (!hasFolder(path))
        path = defaultDir + path;
    if (path.size() <= 3)
        return false;
    if (!hasSoundExtension(path))
        addWavExtension(path);
    return path.size() < kPathCapacity;
}

FileHandle openSoundForReading(Ui& ui, std::string& path, const std::string& defaultDir)
{
    FileHandle file;
    if (checkSoundFileName(path, defaultDir)) {
        struct stat st {};
        if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            file.reset(std::fopen(path.c_str(), "rb"));
    }
    if (!file)
        showError(ui, path + " はファイル名が不正です");
    return file;
}

FileDialogRequest soundOpenDialog(const char* title, const std::string& initialDir)
{
    std::string all;
    for (const std::string& e : readableExtensions())
        all += (all.empty() ? "*." : " *.") + e;
    FileDialogRequest r = wavFileDialog(title, initialDir, false);
    r.filters = {{"音声ファイル", all}, {"WAV", "*.wav"}, {"すべて", "*"}};
    return r;
}

FileDialogRequest soundSaveDialog(const char* title, const std::string& initialDir, const std::string& initialName)
{
    FileDialogRequest r = wavFileDialog(title, initialDir, true);
    for (const KindName& k : kSaveKinds)
        r.filters.push_back({k.filter, std::string("*.") + k.extension});
    r.initialName = initialName;
    return r;
}

std::optional<SaveKind> saveKindOfName(const std::string& path)
{
    std::string ext = extensionOf(path);
    if (ext == "oga")
        ext = "ogg";
    for (const KindName& k : kSaveKinds)
        if (ext == k.extension)
            return k.kind;
    return std::nullopt;
}

SaveKind completeSaveName(std::string& path, int filterIndex)
{
    if (const auto kind = saveKindOfName(path))
        return *kind;
    const int count = static_cast<int>(std::size(kSaveKinds));
    const KindName& k = kSaveKinds[filterIndex >= 0 && filterIndex < count ? filterIndex : 0];
    if (k.kind == SaveKind::Wav)
        addWavExtension(path);  // the editor's own rule, short names included
    else
        path += std::string(".") + k.extension;
    return k.kind;
}

std::string wavNameFor(const std::string& path)
{
    std::string name = path.substr(path.rfind(kDirSeparator) == std::string::npos ? 0 : path.rfind(kDirSeparator) + 1);
    if (hasSoundExtension(name))
        name.erase(name.rfind('.'));
    return name + ".wav";
}

} // namespace sonavik
