#include "app/file_flows.h"
#include "document/wav_file.h"

#include "document/window_title.h"
#include "document/workspace.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"
#include "support/wav_bytes.h"

#include <gtest/gtest.h>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sonavik {
namespace {

using namespace test;

const std::string kCut = "ヘッダが切れています";
const std::string kNotWave = "Wave Format ではありません";
const std::string kBadFormatSize = "Format Size が正しくありません";
const std::string kUnsupported = "このフォーマットは正しくないか、サポートされていません";
const std::string kAskRepair = "このフォーマットは最低限の\n情報しか正しくありません。\n残りの情報を訂正しますか？";
const std::string kLoadFailed = " の読み込みに失敗しました";
const std::string kBadName = " はファイル名が不正です";
const std::string kReadFailedCaption = "データ読み込み失敗";
const std::string kCannotSave = "は保存できません。\nファイルの属性を確認してください。";
const std::string kSaveFailed = "の保存に失敗しました。";

SoundDocument makeDocument(int channels, int bits, int frames, const std::string& path = {})
{
    SoundDocument doc;
    doc.format = decodeFormatBlock(fmtBody(channels, 22050, bits).data());
    doc.frameCount = frames;
    Bytes bytes = ramp(doc.byteCount(), static_cast<unsigned>(channels * bits));
    doc.samples = SampleBuffer::allocate(bytes.size());
    std::copy(bytes.begin(), bytes.end(), doc.samples.data());
    doc.path = path;
    return doc;
}

Bytes samplesOf(const SoundDocument& doc) { return Bytes(doc.samples.data(), doc.samples.data() + doc.samples.size()); }

class WavFileTest : public ::testing::Test {
protected:
    TempDir dir;
    Workspace ws;
    ScriptedUi ui;

    void SetUp() override
    {
        setFieldText(ws.settings.openDir, dir.path());
        setFieldText(ws.settings.saveDir, dir.path());
    }
    std::string put(const std::string& name, const Bytes& bytes)
    {
        writeBytes(dir.file(name), bytes);
        return dir.file(name);
    }
    bool open(const std::string& path) { return openWavFile(ws, ui, path); }
};

TEST(ValidateFormat, FirstFailingCheckDecides)
{
    struct Case {
        const char* name;
        Bytes block;
        FormatCheck expected;
    } cases[] = {
        {"8-bit mono", fmtBody(1, 8000, 8), FormatCheck::Valid},
        {"16-bit stereo", fmtBody(2, 44100, 16), FormatCheck::Valid},
        {"float, even with a bad block align", fmtBody(1, 44100, 32, 7, -1, 3), FormatCheck::Unsupported},
        {"extensible", fmtBody(1, 44100, 16, -1, -1, 0xFFFE), FormatCheck::Unsupported},
        {"no channels", fmtBody(0, 44100, 16, 2), FormatCheck::Unsupported},
        {"three channels", fmtBody(3, 44100, 16), FormatCheck::Unsupported},
        {"rate 0", fmtBody(2, 0, 16), FormatCheck::Unsupported},
        {"24 bits", fmtBody(1, 44100, 24), FormatCheck::Unsupported},
        {"block align", fmtBody(2, 44100, 16, 2), FormatCheck::Repairable},
        {"bytes per second", fmtBody(2, 44100, 16, 4, 44100), FormatCheck::Repairable},
        // A rate whose bytes per second need more than 32 bits cannot be repaired into a consistent block.
        {"largest rate, 16-bit stereo", fmtBody(2, 0xFFFFFFFFu, 16, 2, 0), FormatCheck::Unsupported},
        {"rate just over 32 bits of bytes", fmtBody(2, 0x40000000u, 16, 4, 0), FormatCheck::Unsupported},
        {"rate just inside", fmtBody(2, 0x3FFFFFFFu, 16, 3, 0), FormatCheck::Repairable},
        {"largest rate, 8-bit mono", fmtBody(1, 0xFFFFFFFFu, 8, 1, 0xFFFFFFFFu), FormatCheck::Valid},
    };
    for (const Case& c : cases)
        EXPECT_EQ(validateFormat(decodeFormatBlock(c.block.data())), c.expected) << c.name;
}

TEST(CheckWavFileName, CompletesBareNamesAndExtensions)
{
    std::string longDir = "/" + std::string(990, 'd') + "/";  // 992 characters
    struct Case {
        std::string in;
        std::string defaultDir;
        bool ok;
        std::string out;
    } cases[] = {
        {"take", "/snd/", true, "/snd/take.wav"},
        {"/a/LOUD.WAV", "/snd/", true, "/a/LOUD.WAV"},
        {"/a/x.Wav", "/snd/", true, "/a/x.Wav"},
        {"/a/x.mp3", "/snd/", true, "/a/x.mp3.wav"},
        {"rel/x", "/snd/", true, "rel/x.wav"},
        {"abc", "", false, "abc"},
        {".wav", "", true, ".wav"},
        {"abcd", "", true, "abcd.wav"},
        {"abc", longDir, true, longDir + "abc.wav"},    // 999 characters: still fits
        {"abcd", longDir, false, longDir + "abcd.wav"},  // 1000: no room for the NUL
    };
    for (Case c : cases) {
        std::string path = c.in;
        EXPECT_EQ(checkWavFileName(path, c.defaultDir), c.ok) << c.in;
        EXPECT_EQ(path, c.out) << c.in;
    }
}

TEST_F(WavFileTest, HeaderLayouts)
{
    const Bytes fmt = fmtBody(1, 8000, 16);
    const Bytes d = ramp(8);
    const Bytes data = chunk("data", d);
    struct Case {
        const char* name;
        Bytes image;
        std::string refusal;  // empty: loads the 4 frames of d
    } cases[] = {
        {"18-byte fmt", riff({chunk("fmt ", cat({fmt, {0, 0}})), data}), ""},
        {"40-byte fmt", riff({chunk("fmt ", cat({fmt, ramp(24)})), data}), ""},
        {"chunk between fmt and data", riff({chunk("fmt ", fmt), chunk("LIST", ramp(10)), data}), ""},
        {"odd chunk and its pad byte", riff({chunk("fmt ", fmt), chunk("JUNK", ramp(9)), {0}, data}), ""},
        {"odd chunk without pad byte", riff({chunk("fmt ", fmt), chunk("JUNK", ramp(9)), data}), ""},
        {"odd fmt and its pad byte", riff({chunk("fmt ", cat({fmt, {0x80}})), {0}, data}), ""},
        {"odd fmt without pad byte", riff({chunk("fmt ", cat({fmt, {0x80}})), data}), ""},
        {"chunks after data", riff({chunk("fmt ", fmt), data, chunk("smpl", ramp(60), 0x7FFFFFFF)}), ""},
        {"JUNK before fmt", riff({chunk("JUNK", ramp(4)), chunk("fmt ", fmt), data}), ""},
        {"odd bext and its pad, LIST, before fmt",
         riff({chunk("bext", ramp(603)), {0}, chunk("LIST", ramp(12)), chunk("fmt ", fmt), data}), ""},
        {"odd chunk before fmt without pad", riff({chunk("bext", ramp(9)), chunk("fmt ", fmt), data}), ""},
        {"data before fmt", riff({data, chunk("fmt ", fmt), data}), kNotWave},
        {"chunk before fmt past the end", riff({chunk("JUNK", ramp(4), 1000), chunk("fmt ", fmt), data}), kNotWave},
        {"no fmt at all", riff({chunk("JUNK", ramp(4))}), kNotWave},
        {"not RIFF", cat({text("RIFX"), le32(36), text("WAVE"), chunk("fmt ", fmt), data}), kNotWave},
        {"fmt size 15", riff({chunk("fmt ", fmt, 15), data}), kBadFormatSize},
        {"negative fmt size", riff({chunk("fmt ", fmt, 0xFFFFFFF0), data}), kBadFormatSize},
        {"unknown format tag", riff({chunk("fmt ", fmtBody(1, 8000, 16, -1, -1, 0x1234)), data}), kUnsupported},
        {"fmt size past the end", riff({chunk("fmt ", fmt, 1000), data}), kCut},
        {"fmt block cut", riff({cat({text("fmt "), le32(16), ramp(10)})}), kCut},
        {"negative chunk size", riff({chunk("fmt ", fmt), chunk("JUNK", {}, 0xFFFFFFF8), data}), kCut},
        {"chunk size past the end", riff({chunk("fmt ", fmt), chunk("JUNK", ramp(4), 1000), data}), kCut},
        {"chunk size 2 GB", riff({chunk("fmt ", fmt), chunk("JUNK", ramp(4), 0x7FFFFFFF), data}), kCut},
        {"negative data size", riff({chunk("fmt ", fmt), chunk("data", d, 0x80000000)}), kCut},
        {"ids are case-sensitive", riff({chunk("fmt ", fmt), chunk("DATA", d)}), kCut},
        {"no data chunk", riff({chunk("fmt ", fmt)}), kCut},
        {"data size cut", cat({riff({chunk("fmt ", fmt)}), text("data"), Bytes{8, 0}}), kCut},
        {"empty file", {}, kCut},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ui.clear();
        std::string path = put("h.wav", c.image);
        bool ok = open(path);
        if (c.refusal.empty()) {
            ASSERT_TRUE(ok) << ::testing::PrintToString(ui.texts());
            EXPECT_EQ(ws.document.frameCount, 4);
            EXPECT_EQ(ws.document.format.nBlockAlign, 2);
            EXPECT_EQ(samplesOf(ws.document), d);
            EXPECT_TRUE(ui.messages.empty());
        } else {
            EXPECT_FALSE(ok);
            EXPECT_FALSE(ws.document.hasData());
            EXPECT_EQ(ui.texts(), (std::vector<std::string>{c.refusal, path + kLoadFailed}));
            for (const MessageRequest& m : ui.messages) {
                EXPECT_EQ(m.caption, "Sonavik 2");
                EXPECT_EQ(m.icon, MessageIcon::Error);
            }
        }
    }
}

TEST_F(WavFileTest, DataTheFileCannotSupplyEndsWithReadFailure)
{
    const Bytes fmt = fmtBody(1, 8000, 16);
    struct Case {
        const char* name;
        Bytes image;
    } cases[] = {
        {"data larger than the file", riff({chunk("fmt ", fmt), chunk("data", ramp(8), 100)})},
        {"2 GB declared in a tiny file", riff({chunk("fmt ", fmt), chunk("data", ramp(8), 0x7FFFFFFF)})},
        {"zero-length data", riff({chunk("fmt ", fmt), chunk("data", {})})},
        {"less than one frame", riff({chunk("fmt ", fmt), chunk("data", {7})})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ui.clear();
        std::string path = put("d.wav", c.image);
        EXPECT_FALSE(open(path));
        EXPECT_FALSE(ws.document.hasData());
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0].text, path);
        EXPECT_EQ(ui.messages[0].caption, kReadFailedCaption);
        EXPECT_EQ(ui.messages[0].icon, MessageIcon::Error);
    }
}

TEST_F(WavFileTest, DeclaredSizeIsNotAllocatedBeforeTheFileBacksIt)
{
    std::string path = put("claim.wav", riff({chunk("fmt ", fmtBody(2, 8000, 16)), chunk("data", ramp(8), 0x7FFFFFF0)}));
    // With the address space capped, asking for the claimed 2 GB would fail and say so in its caption.
    auto openUnderCap = [&] {
        long pages = 0;
        std::FILE* statm = std::fopen("/proc/self/statm", "r");
        if (!statm || std::fscanf(statm, "%ld", &pages) != 1)
            std::exit(2);
        std::fclose(statm);
        rlim_t cap = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (256u << 20);
        rlimit limit{cap, RLIM_INFINITY};
        setrlimit(RLIMIT_AS, &limit);
        bool refused = !open(path);
        std::exit(refused && ui.messages.size() == 1 && ui.messages[0].caption == kReadFailedCaption ? 0 : 1);
    };
    EXPECT_EXIT(openUnderCap(), ::testing::ExitedWithCode(0), "");
}

TEST_F(WavFileTest, PartialFrameAtTheEndIsDropped)
{
    Bytes d = ramp(1001);
    ASSERT_TRUE(open(put("odd.wav", riff({chunk("fmt ", fmtBody(1, 8000, 16)), chunk("data", d), {0}}))));
    EXPECT_EQ(ws.document.frameCount, 500);
    EXPECT_EQ(samplesOf(ws.document), Bytes(d.begin(), d.begin() + 1000));
}

TEST_F(WavFileTest, RepairQuestion)
{
    const Bytes image = riff({chunk("fmt ", fmtBody(2, 44100, 16, 2)), chunk("data", ramp(16))});
    std::string path = put("r.wav", image);

    ui.answers = {MessageAnswer::No};
    EXPECT_FALSE(open(path));
    EXPECT_EQ(ui.texts(), (std::vector<std::string>{kAskRepair, path + kLoadFailed}));
    EXPECT_EQ(ui.messages[0].buttons, MessageButtons::YesNo);
    EXPECT_EQ(ui.messages[0].icon, MessageIcon::None);
    EXPECT_FALSE(ws.document.hasData());

    ui.clear();
    ui.answers = {MessageAnswer::Yes};
    ASSERT_TRUE(open(path));
    EXPECT_EQ(ws.document.format.nBlockAlign, 4);
    EXPECT_EQ(ws.document.format.nAvgBytesPerSec, 4u * 44100);
    EXPECT_EQ(ws.document.frameCount, 4);

    std::string copy = dir.file("copy.wav");
    ASSERT_TRUE(writeWavFile(ui, ws.document, copy));
    EXPECT_EQ(readBytes(copy), riff({chunk("fmt ", fmtBody(2, 44100, 16)), chunk("data", ramp(16))}));
    ui.clear();
    ASSERT_TRUE(open(copy));
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(WavFileTest, WritesTheCanonicalFileAndReadsItBack)
{
    for (auto [channels, bits] : {std::pair{1, 8}, {2, 8}, {1, 16}, {2, 16}}) {
        SCOPED_TRACE(std::to_string(channels) + " channels, " + std::to_string(bits) + " bits");
        SoundDocument doc = makeDocument(channels, bits, 257);
        std::string path = dir.file("w.wav");
        ui.clear();
        ASSERT_TRUE(writeWavFile(ui, doc, path));
        Bytes bytes = readBytes(path);
        ASSERT_EQ(bytes.size(), 44 + doc.byteCount());
        EXPECT_EQ(bytes, riff({chunk("fmt ", fmtBody(channels, 22050, bits)), chunk("data", samplesOf(doc))}));

        ASSERT_TRUE(open(path));
        EXPECT_TRUE(ui.messages.empty());
        EXPECT_EQ(ws.document.frameCount, 257);
        EXPECT_EQ(ws.document.format.nChannels, channels);
        EXPECT_EQ(ws.document.format.wBitsPerSample, bits);
        EXPECT_EQ(samplesOf(ws.document), samplesOf(doc));
    }
}

TEST_F(WavFileTest, RefusedTargetsKeepTheOldFile)
{
    SoundDocument doc = makeDocument(1, 16, 10);
    std::string readOnly = put("ro.wav", {1, 2, 3});
    chmod(readOnly.c_str(), 0444);
    std::string missingFolder = dir.file("gone/x.wav");
    for (const std::string& path : {readOnly, missingFolder}) {
        ui.clear();
        EXPECT_FALSE(writeWavFile(ui, doc, path));
        EXPECT_EQ(ui.texts(), std::vector<std::string>{path + kCannotSave});
        EXPECT_EQ(ui.messages[0].icon, MessageIcon::Error);
    }
    EXPECT_EQ(readBytes(readOnly), (Bytes{1, 2, 3}));
    EXPECT_FALSE(fileExists(missingFolder));
}

TEST_F(WavFileTest, FailedWriteKeepsTheOldFile)
{
    std::string path = put("full.wav", {1, 2, 3});
    // A file-size limit makes the write fail half-way, as a full disk would; only the child process gets it.
    auto saveUnderLimit = [&] {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{1 << 20, RLIM_INFINITY};
        setrlimit(RLIMIT_FSIZE, &limit);
        SoundDocument doc = makeDocument(2, 16, 1 << 19);
        bool refused = !writeWavFile(ui, doc, path);
        bool message = ui.texts() == std::vector<std::string>{path + kSaveFailed};
        std::exit(refused && message ? 0 : 1);
    };
    EXPECT_EXIT(saveUnderLimit(), ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(readBytes(path), (Bytes{1, 2, 3}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "temporary file left behind";
}

TEST_F(WavFileTest, OpenDialogAndBareNames)
{
    std::filesystem::create_directory(dir.file("in"));
    std::filesystem::create_directory(dir.file("other"));
    const Bytes image = riff({chunk("fmt ", fmtBody(1, 8000, 8)), chunk("data", ramp(5))});
    put("in/take.wav", image);
    put("other/LOUD.WAV", image);
    setFieldText(ws.settings.openDir, dir.file("in/"));

    ui.fileAnswers = {std::string("take")};
    ASSERT_TRUE(openWavFile(ws, ui));
    ASSERT_EQ(ui.openDialogs.size(), 1u);
    EXPECT_EQ(ui.openDialogs[0].title, "読み込み");
    EXPECT_EQ(ui.openDialogs[0].initialDir, dir.file("in/"));
    EXPECT_EQ(ui.openDialogs[0].filterName, "wavﾌｧｲﾙ(*.wav)");
    EXPECT_EQ(ui.openDialogs[0].filterPattern, "*.wav");
    EXPECT_FALSE(ui.openDialogs[0].confirmOverwrite);
    EXPECT_EQ(ws.document.path, dir.file("in/take.wav"));

    ASSERT_TRUE(open(dir.file("other/LOUD.WAV")));
    EXPECT_EQ(ws.document.path, dir.file("other/LOUD.WAV"));
    EXPECT_EQ(fieldText(ws.settings.openDir), dir.file("other/"));
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(WavFileTest, FailuresBeforeTheFileOpensKeepTheDocument)
{
    ws.document = makeDocument(1, 8, 3, "/prev.wav");
    std::filesystem::create_directory(dir.file("folder.wav"));
    struct Case {
        std::optional<std::string> answer;
        std::vector<std::string> texts;
    } cases[] = {
        {std::nullopt, {}},
        {dir.file("missing"), {dir.file("missing.wav") + kBadName}},
        {dir.file("folder.wav"), {dir.file("folder.wav") + kBadName}},
    };
    for (const Case& c : cases) {
        ui.clear();
        ui.fileAnswers = {c.answer};
        EXPECT_FALSE(openWavFile(ws, ui));
        EXPECT_EQ(ui.texts(), c.texts);
        EXPECT_EQ(ws.document.path, "/prev.wav");
        EXPECT_TRUE(ws.document.hasData());
        EXPECT_FALSE(ws.undoStore.hasData());
    }
}

TEST_F(WavFileTest, FailedOpenLeavesThePreviousDocumentToUndo)
{
    ws.document = makeDocument(2, 16, 3, "/prev.wav");
    ws.document.modified = 1;
    std::string path = put("bad.wav", riff({chunk("fmt ", fmtBody(1, 8000, 16, -1, -1, 0x1234)), chunk("data", ramp(6))}));
    EXPECT_FALSE(open(path));
    EXPECT_FALSE(ws.document.hasData());
    EXPECT_EQ(ws.document.path, path);
    ASSERT_TRUE(ws.undoStore.hasData());
    EXPECT_EQ(ws.undoStore.path, "/prev.wav");
    EXPECT_EQ(ws.undoStore.modified, 1);
    EXPECT_EQ(samplesOf(ws.undoStore), samplesOf(makeDocument(2, 16, 3)));
    EXPECT_EQ(fieldText(ws.settings.openDir), dir.path());
}

TEST_F(WavFileTest, SaveWithoutFolderAsksForAName)
{
    std::filesystem::create_directory(dir.file("out"));
    ws.document = makeDocument(1, 16, 8, "New Data(1).wav");
    ws.document.modified = 1;
    ui.fileAnswers = {dir.file("out/rec")};
    ASSERT_TRUE(saveWavFile(ws, ui));
    ASSERT_EQ(ui.saveDialogs.size(), 1u);
    EXPECT_EQ(ui.saveDialogs[0].title, "名前を付けて保存");
    EXPECT_EQ(ui.saveDialogs[0].initialDir, dir.path());
    EXPECT_EQ(ui.saveDialogs[0].filterName, "wavﾌｧｲﾙ(*.wav)");
    EXPECT_TRUE(ui.saveDialogs[0].confirmOverwrite);
    EXPECT_EQ(ws.document.path, dir.file("out/rec.wav"));
    EXPECT_EQ(ws.document.modified, 0);
    EXPECT_EQ(fieldText(ws.settings.saveDir), dir.file("out/"));
    EXPECT_EQ(readBytes(dir.file("out/rec.wav")).size(), 44u + 16);
    EXPECT_EQ(ui.title, mainWindowTitle(ws));
}

TEST_F(WavFileTest, SaveWritesInPlaceOrFallsBackToTheDialog)
{
    ws.document = makeDocument(1, 8, 4, dir.file("song"));
    ws.document.modified = 1;
    ASSERT_TRUE(saveWavFile(ws, ui));
    EXPECT_TRUE(ui.saveDialogs.empty());
    EXPECT_EQ(ws.document.path, dir.file("song.wav"));
    EXPECT_EQ(ws.document.modified, 0);
    EXPECT_EQ(readBytes(dir.file("song.wav")).size(), 48u);
    EXPECT_EQ(ui.title, mainWindowTitle(ws));

    // A failed write shows its message and then offers the dialog; cancelling keeps the document modified.
    for (std::string path : {std::string(), dir.file("gone/x.wav")}) {
        ui.clear();
        ws.document.path = path;
        ws.document.modified = 1;
        EXPECT_FALSE(saveWavFile(ws, ui));
        EXPECT_EQ(ui.saveDialogs.size(), 1u);
        EXPECT_EQ(ui.texts(), path.empty() ? std::vector<std::string>{} : std::vector<std::string>{path + kCannotSave});
        EXPECT_EQ(ws.document.modified, 1);
    }

    ui.clear();
    ui.fileAnswers = {dir.file("x.WAV")};
    ASSERT_TRUE(saveWavFileAs(ws, ui));
    EXPECT_EQ(ws.document.path, dir.file("x.WAV"));
}

TEST_F(WavFileTest, SavingNothingSaysNoData)
{
    for (auto save : {saveWavFile, saveWavFileAs}) {
        ui.clear();
        EXPECT_FALSE(save(ws, ui));
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0].text, "No Data");
        EXPECT_EQ(ui.messages[0].caption, "Sonavik 2");
        EXPECT_EQ(ui.messages[0].icon, MessageIcon::None);
        EXPECT_TRUE(ui.saveDialogs.empty());
    }
}

} // namespace
} // namespace sonavik
