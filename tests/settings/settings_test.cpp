#include "settings/settings.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sys/stat.h>
#include <vector>

namespace sonavik {
namespace {

using test::readBytes;
using test::ScriptedUi;
using test::TempDir;
using test::writeBytes;
using Bytes = std::vector<unsigned char>;

void expectBox(const MessageRequest& box, const std::string& text, const std::string& caption, MessageIcon icon)
{
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.caption, caption);
    EXPECT_EQ(box.icon, icon);
    EXPECT_EQ(box.buttons, MessageButtons::Ok);
    EXPECT_EQ(box.owner, MessageOwner::None);
}

void putI32(Bytes& image, std::size_t offset, std::int32_t value)
{
    auto u = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        image[offset + i] = static_cast<unsigned char>(u >> (8 * i));
}

void putDouble(Bytes& image, std::size_t offset, double value)
{
    std::uint64_t u;
    std::memcpy(&u, &value, 8);
    for (int i = 0; i < 8; ++i)
        image[offset + i] = static_cast<unsigned char>(u >> (8 * i));
}

void putPoint(Bytes& image, std::size_t curve, int index, double xg, double yg, double x, double y)
{
    std::size_t at = curve + 40 * static_cast<std::size_t>(index);
    putI32(image, at, 1);
    putDouble(image, at + 8, xg);
    putDouble(image, at + 16, yg);
    putDouble(image, at + 24, x);
    putDouble(image, at + 32, y);
}

// The default file written out by hand from the offset table; every other byte is zero.
Bytes expectedDefaultImage()
{
    Bytes image(6000, 0);
    const std::pair<std::size_t, std::int32_t> ints[] = {
        {0x0800, 20}, {0x0804, 10}, {0x0808, 10}, {0x080C, 600}, {0x0810, 400}, {0x0814, 48}, {0x0818, 60},
        {0x081C, 32}, {0x0820, 24}, {0x0824, 64}, {0x0828, 32}, {0x082C, 32}, {0x0830, 0xFFEEBB},
        {0x0834, 0xEEBBFF}, {0x0838, 48}, {0x083C, 64}, {0x0840, 64}, {0x0844, 64},
        {0x0880, 1}, {0x0888, 60}, {0x0890, 1}, {0x0894, 1}, {0x0898, 1}, {0x08A4, 4}, {0x08A8, 1},
        {0x08AC, 3}, {0x08B0, 96000}, {0x08B4, 16}, {0x08B8, 2},
        {0x08DC, 1}, {0x08E4, 0x10000}, {0x08E8, 0x10000}, {0x08EC, 0xFFFF}, {0x08F0, 0xFFFF}, {0x08F4, 1},
        {0x0900, 2}, {0x0904, 1}, {0x0908, 4}, {0x090C, 1},
        {0x0C38, 1}, {0x0C3C, 1}, {0x0C40, 1}, {0x0C44, 4096}, {0x0C78, 4096},
        {0x0FA8, 1}, {0x0FAC, 1}, {0x0FB0, 2}, {0x0FE8, 1}, {0x0FF8, 1},
        {0x1328, 1}, {0x132C, 1}, {0x1330, 3}, {0x1334, 5}, {0x1338, 30}, {0x133C, 5},
    };
    for (auto [offset, value] : ints)
        putI32(image, offset, value);
    putDouble(image, 0x0848, 0.1);
    putDouble(image, 0x0850, 0.3);
    putDouble(image, 0x0858, 1.0);
    putDouble(image, 0x0C58, 1.0);
    putPoint(image, 0x0C88, 0, 0.0, 1.0, 0.0, 1.0);
    putPoint(image, 0x0C88, 1, 0.5, 0.5, 0.5, 0.5);
    putPoint(image, 0x0C88, 2, 1.0, 0.0, 1.0, 0.0);
    putPoint(image, 0x1008, 0, 0.0, 0.0, 0.0, 0.0);
    putPoint(image, 0x1008, 1, 0.15, 0.1, 0.15, 0.1);
    putPoint(image, 0x1008, 2, 0.51, 0.71, 0.51, 0.71);
    putPoint(image, 0x1008, 3, 1.0, 1.0, 1.0, 1.0);
    return image;
}

Bytes imageOf(const Settings& settings)
{
    const auto* p = reinterpret_cast<const unsigned char*>(&settings);
    return Bytes(p, p + sizeof settings);
}

// The default record with value at offset, written as dir's parameter.ini; returns what was written.
Bytes writeDefaultsWith(const TempDir& dir, std::size_t offset, std::int32_t value)
{
    Settings defaults;
    applyDefaultSettings(defaults);
    Bytes image = imageOf(defaults);
    putI32(image, offset, value);
    writeBytes(dir.file("parameter.ini"), image);
    return image;
}

// Names the first differing offset, which says which field is wrong.
::testing::AssertionResult sameImage(const Bytes& actual, const Bytes& expected)
{
    if (actual.size() != expected.size())
        return ::testing::AssertionFailure() << "size " << actual.size() << " instead of " << expected.size();
    for (std::size_t i = 0; i < actual.size(); ++i) {
        if (actual[i] != expected[i]) {
            char where[80];
            std::snprintf(where, sizeof where, "byte 0x%04zX is 0x%02X instead of 0x%02X", i, actual[i], expected[i]);
            return ::testing::AssertionFailure() << where;
        }
    }
    return ::testing::AssertionSuccess();
}

Settings customSettings()
{
    Settings s;
    applyDefaultSettings(s);
    setFieldText(s.openDir, "/home/user/音/");
    setFieldText(s.recordDeviceName, "USB Audio");
    setFieldText(s.responsePath, "/tmp/hall.wav");
    s.clientWidth = 777;
    s.spectrogramGreen = -2.5;
    s.eqLinearGainSpan() = 3.25;
    s.eq.points[19] = {2, 0, 0.25, 0.5, 0.75, 1.0};
    s.applyStart = 1;
    s.processingTarget = 5;
    return s;
}

TEST(SettingsFile, FirstStartShowsNotFoundAndWritesTheDefaults)
{
    TempDir dir;
    ScriptedUi ui;
    Settings settings;
    std::memset(&settings, 0x5A, sizeof settings);
    EXPECT_FALSE(loadSettings(settings, dir.path(), ui));

    ASSERT_EQ(ui.messages.size(), 1u);
    expectBox(ui.messages[0], dir.file("parameter.ini"), "Not Found", MessageIcon::Error);
    Bytes file = readBytes(dir.file("parameter.ini"));
    EXPECT_TRUE(sameImage(file, expectedDefaultImage()));
    EXPECT_TRUE(sameImage(imageOf(settings), expectedDefaultImage()));
    // A few fields spelled out byte by byte, independent of the helpers above.
    ASSERT_EQ(file.size(), 6000u);
    EXPECT_EQ(Bytes(file.begin() + 0x080C, file.begin() + 0x0810), (Bytes{0x58, 0x02, 0, 0}));
    EXPECT_EQ(Bytes(file.begin() + 0x0830, file.begin() + 0x0834), (Bytes{0xBB, 0xEE, 0xFF, 0}));
    EXPECT_EQ(Bytes(file.begin() + 0x0858, file.begin() + 0x0860), (Bytes{0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));

    // The next start reads what the first one wrote.
    ui.clear();
    Settings again;
    EXPECT_TRUE(loadSettings(again, dir.path(), ui));
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(sameImage(imageOf(again), expectedDefaultImage()));
}

TEST(SettingsFile, DefaultsOverwriteEveryByteOfTheRecord)
{
    Settings settings;
    std::memset(&settings, 0xAB, sizeof settings);
    applyDefaultSettings(settings);
    EXPECT_TRUE(sameImage(imageOf(settings), expectedDefaultImage()));
    EXPECT_EQ(clampWindowGeometry(settings).width, 600);
}

TEST(SettingsFile, FileSizes)
{
    struct Case {
        std::size_t size;
        bool accepted;
    };
    const Case cases[] = {{0, false}, {1, false}, {5999, false}, {6000, true}, {6001, true}, {20000, true}};
    const Bytes custom = imageOf(customSettings());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        TempDir dir;
        ScriptedUi ui;
        Bytes content(c.size, 0x11);
        std::copy_n(custom.begin(), std::min(c.size, custom.size()), content.begin());
        writeBytes(dir.file("parameter.ini"), content);

        Settings settings;
        EXPECT_EQ(loadSettings(settings, dir.path(), ui), c.accepted);
        if (c.accepted) {
            EXPECT_TRUE(ui.messages.empty());
            EXPECT_TRUE(sameImage(imageOf(settings), custom));
            EXPECT_EQ(readBytes(dir.file("parameter.ini")), content) << "an accepted file is not rewritten";
        } else {
            ASSERT_EQ(ui.messages.size(), 1u);
            expectBox(ui.messages[0], dir.file("parameter.ini"), "Data Error", MessageIcon::Error);
            EXPECT_TRUE(sameImage(imageOf(settings), expectedDefaultImage()));
            EXPECT_TRUE(sameImage(readBytes(dir.file("parameter.ini")), expectedDefaultImage()));
        }
    }
}

TEST(SettingsFile, GarbageLoadsWithEveryStringFieldTerminated)
{
    std::mt19937 random(20240611);
    std::vector<Bytes> files;
    for (int i = 0; i < 3; ++i) {
        Bytes b(6000);
        for (auto& byte : b)
            byte = static_cast<unsigned char>(random());
        files.push_back(b);
    }
    files.push_back(Bytes(6000, 0xFF));
    files.push_back(Bytes(6000, 'A'));

    for (std::size_t n = 0; n < files.size(); ++n) {
        SCOPED_TRACE(n);
        TempDir dir;
        ScriptedUi ui;
        writeBytes(dir.file("parameter.ini"), files[n]);
        Settings settings;
        ASSERT_TRUE(loadSettings(settings, dir.path(), ui));
        EXPECT_TRUE(ui.messages.empty());

        const std::pair<const char*, std::size_t> fields[] = {
            {settings.openDir, sizeof settings.openDir},
            {settings.saveDir, sizeof settings.saveDir},
            {settings.recordDeviceName, sizeof settings.recordDeviceName},
            {settings.playDeviceName, sizeof settings.playDeviceName},
            {settings.responsePath, sizeof settings.responsePath},
        };
        Bytes expected = files[n];
        for (auto [field, size] : fields) {
            EXPECT_LT(std::strlen(field), size);
            expected[static_cast<std::size_t>(field - settings.openDir) + size - 1] = 0;
        }
        if (n == files.size() - 1) {
            EXPECT_EQ(fieldText(settings.recordDeviceName), std::string(31, 'A'));
        }
        // Layout sizes out of their ranges read as their defaults (their ranges have a test of their own).
        Settings limited;
        std::memcpy(&limited, expected.data(), sizeof limited);
        limitLayoutFields(limited);
        expected = imageOf(limited);
        EXPECT_TRUE(sameImage(imageOf(settings), expected)) << "only the last byte of each string and the layout may change";

        // Whatever was read, including NaN doubles, goes back out unchanged.
        ASSERT_TRUE(saveSettings(settings, dir.path(), ui));
        EXPECT_TRUE(sameImage(readBytes(dir.file("parameter.ini")), expected));
    }
}

TEST(SettingsFile, SaveThenLoadGivesTheSameRecord)
{
    TempDir dir;
    ScriptedUi ui;
    const Settings saved = customSettings();
    ASSERT_TRUE(saveSettings(saved, dir.path(), ui));
    EXPECT_EQ(readBytes(dir.file("parameter.ini")).size(), 6000u);

    Settings loaded;
    applyDefaultSettings(loaded);
    ASSERT_TRUE(loadSettings(loaded, dir.path(), ui));
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(sameImage(imageOf(loaded), imageOf(saved)));
    EXPECT_EQ(fieldText(loaded.openDir), "/home/user/音/");
    EXPECT_EQ(loaded.eqLinearGainSpan(), 3.25);
}

TEST(SettingsFile, FailedSaveKeepsTheOldFile)
{
    TempDir dir;
    ScriptedUi ui;
    const Bytes old(6000, 0x42);
    writeBytes(dir.file("parameter.ini"), old);
    chmod(dir.file("parameter.ini").c_str(), 0444);

    Settings settings = customSettings();
    EXPECT_FALSE(saveSettings(settings, dir.path(), ui));
    ASSERT_EQ(ui.messages.size(), 1u);
    expectBox(ui.messages[0], dir.file("parameter.ini"), "Write Error", MessageIcon::Error);
    EXPECT_EQ(readBytes(dir.file("parameter.ini")), old);

    // A start in a folder that does not exist: not found, then the defaults cannot be written either.
    ui.clear();
    std::string missing = dir.file("no/such/folder/");
    EXPECT_FALSE(loadSettings(settings, missing, ui));
    ASSERT_EQ(ui.messages.size(), 2u);
    expectBox(ui.messages[0], missing + "parameter.ini", "Not Found", MessageIcon::Error);
    expectBox(ui.messages[1], missing + "parameter.ini", "Write Error", MessageIcon::Error);
    EXPECT_TRUE(sameImage(imageOf(settings), expectedDefaultImage()));
    EXPECT_FALSE(test::fileExists(missing));
}

TEST(SettingsFile, WindowGeometryIsClamped)
{
    struct Case {
        int x, y, w, h;
        WindowGeometry expected;
    };
    const Case cases[] = {
        {10, 10, 600, 400, {10, 10, 600, 400}},
        {-16384, 16384, 160, 16384, {-16384, 16384, 160, 16384}},
        {-16385, 16385, 159, 16385, {-16384, 16384, 160, 16384}},
        {INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX, {-16384, 16384, 160, 16384}},
        {0, 0, 0, -1, {0, 0, 160, 160}},
    };
    for (const Case& c : cases) {
        Settings s;
        applyDefaultSettings(s);
        s.windowX = c.x;
        s.windowY = c.y;
        s.clientWidth = c.w;
        s.clientHeight = c.h;
        WindowGeometry g = clampWindowGeometry(s);
        EXPECT_EQ(g.x, c.expected.x) << c.x;
        EXPECT_EQ(g.y, c.expected.y) << c.y;
        EXPECT_EQ(g.width, c.expected.width) << c.w;
        EXPECT_EQ(g.height, c.expected.height) << c.h;
    }
}

// Every layout size is read back as its default when the file holds a value outside its range, and the
// file written at exit then holds the default too.
TEST(SettingsFile, LayoutFieldsOutOfRangeLoadAsTheirDefaults)
{
    struct Field {
        std::size_t offset;
        std::int32_t defaultValue;
        std::int32_t inRange;  // a value other than the default that is kept
    };
    const Field fields[] = {
        {0x080C, 600, 1000}, {0x0810, 400, 700}, {0x0814, 48, 60}, {0x0818, 60, 80}, {0x081C, 32, 40},
        {0x0820, 24, 30},    {0x0824, 64, 100},  {0x0828, 32, 20}, {0x082C, 32, 40}, {0x0838, 48, 50},
        {0x083C, 64, 70},    {0x0840, 64, 70},   {0x0844, 64, 70},
    };
    TempDir dir;
    for (const Field& f : fields) {
        for (std::int32_t value : {INT32_MIN, -1569479094, -1, 16385, INT32_MAX, f.inRange}) {
            SCOPED_TRACE(testing::Message() << "offset " << f.offset << " value " << value);
            Bytes expected = writeDefaultsWith(dir, f.offset, value);
            Settings settings;
            ScriptedUi ui;
            ASSERT_TRUE(loadSettings(settings, dir.path(), ui));
            ASSERT_TRUE(saveSettings(settings, dir.path(), ui));
            putI32(expected, f.offset, value == f.inRange ? value : f.defaultValue);
            EXPECT_TRUE(sameImage(readBytes(dir.file("parameter.ini")), expected));
            EXPECT_TRUE(ui.messages.empty());
        }
    }
}

TEST(SettingsFile, TheHarmonicCountLivesInTheLastFourBytesAndAnyOtherValueMeansEight)
{
    // The defaults leave it zero, so that every byte the record fixes stays as it was.
    TempDir dir;
    for (const auto& [stored, count] : {std::pair{0, 8}, {1, 1}, {12, 12}, {999, 999}, {1000, 8}, {-1, 8}, {INT32_MIN, 8}}) {
        SCOPED_TRACE(stored);
        writeDefaultsWith(dir, 0x176C, stored);
        Settings settings;
        ScriptedUi ui;
        ASSERT_TRUE(loadSettings(settings, dir.path(), ui));
        EXPECT_EQ(harmonicCount(settings), count);
    }
}

// The history's size limit is the word at 0x1360, in MiB; zero (the defaults) or less means the history's
// own default. It is written back where it was read.
TEST(SettingsFile, TheHistoryLimitLivesAt0x1360InMiB)
{
    TempDir dir;
    for (const auto& [stored, bytes] : {std::pair<std::int32_t, std::uint64_t>{0, 0}, {300, 300ull << 20}, {-5, 0}}) {
        SCOPED_TRACE(stored);
        const Bytes image = writeDefaultsWith(dir, 0x1360, stored);
        Settings settings;
        ScriptedUi ui;
        ASSERT_TRUE(loadSettings(settings, dir.path(), ui));
        EXPECT_EQ(historyLimitBytes(settings), bytes);
        ASSERT_TRUE(saveSettings(settings, dir.path(), ui));
        EXPECT_TRUE(sameImage(readBytes(dir.file("parameter.ini")), image));
    }
}

// A real folder whose path, trailing separator included, is exactly length characters long.
std::string makeDirOfLength(const std::string& base, std::size_t length)
{
    std::string path = base;
    while (length - path.size() > 250) {
        path += std::string(200, 'd') + "/";
        mkdir(path.c_str(), 0755);
    }
    path += std::string(length - path.size() - 1, 'e') + "/";
    mkdir(path.c_str(), 0755);
    return path;
}

TEST(ProgramDir, FromTheExecutablePath)
{
    TempDir dir;
    mkdir(dir.file("with blanks").c_str(), 0755);
    std::string longest = makeDirOfLength(dir.path(), 1023);
    ASSERT_TRUE(test::fileExists(longest));

    struct Case {
        std::string exePath;
        std::string expected;
        std::string message;
    };
    const Case cases[] = {
        {"", "", "コマンドラインがありません"},
        {"sonavik2", "", "コマンドラインが不正です(2)"},
        {dir.file("sonavik2"), dir.path(), ""},
        {dir.file("with blanks/sonavik 2"), dir.file("with blanks/"), ""},
        {longest + "sonavik2", longest, ""},
        {longest.substr(0, 1022) + "x/sonavik2", "", "バッファの長さが足りません"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.exePath.substr(0, 80));
        ScriptedUi ui;
        EXPECT_EQ(findProgramDir(ui, c.exePath), c.expected);
        if (c.message.empty()) {
            EXPECT_TRUE(ui.messages.empty());
        } else {
            ASSERT_EQ(ui.messages.size(), 1u);
            expectBox(ui.messages[0], c.message, "Error", MessageIcon::None);
        }
    }
}

TEST(ProgramDir, ReadOnlyInstallUsesThePerUserFolder)
{
    EXPECT_EQ(chooseProgramDir("/opt/s/", true, "/home/u/.config/sonavik2/"), "/opt/s/");
    EXPECT_EQ(chooseProgramDir("/opt/s/", false, "/home/u/.config/sonavik2/"), "/home/u/.config/sonavik2/");
    EXPECT_EQ(chooseProgramDir("/opt/s/", false, ""), "/opt/s/");

    // An executable folder that does not exist cannot be written to.
    TempDir config;
    std::string base = config.path().substr(0, config.path().size() - 1);
    const char* old = std::getenv("XDG_CONFIG_HOME");
    std::string saved = old ? old : "";
    setenv("XDG_CONFIG_HOME", base.c_str(), 1);
    ScriptedUi ui;
    std::string found = findProgramDir(ui, config.file("missing/bin/sonavik2"));
    if (old)
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(found, base + "/sonavik2/");
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(test::fileExists(found));
}

} // namespace
} // namespace sonavik
