#include "audio/level_picture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace sonavik {
namespace {

// The picture as rows from the top, one digit per pixel: blue 1 + green 2 + red 4 for channels at 255.
std::vector<std::string> codes(const PixelImage& p)
{
    std::vector<std::string> rows;
    for (int y = 0; y < p.height(); ++y) {
        std::string row;
        for (int x = 0; x < p.width(); ++x) {
            const Rgb c = p.pixel(x, y);
            row += static_cast<char>('0' + (c.b == 255 ? 1 : 0) + (c.g == 255 ? 2 : 0) + (c.r == 255 ? 4 : 0));
        }
        rows.push_back(row);
    }
    return rows;
}

std::vector<unsigned char> bytes16(std::initializer_list<int> values)
{
    std::vector<unsigned char> out;
    for (int v : values) {
        const auto s = static_cast<std::int16_t>(v);
        unsigned char b[2];
        std::memcpy(b, &s, 2);
        out.insert(out.end(), b, b + 2);
    }
    return out;
}

TEST(LevelPicture, PixelsOfEachDrawing)
{
    struct Case {
        const char* name;
        int width;
        int height;
        LevelPictureOptions options;
        std::vector<unsigned char> packet;
        std::vector<std::string> expected;
        int level;
    };
    LevelPictureOptions mono8{1, 8};
    LevelPictureOptions mono8NoTrace = mono8;
    mono8NoTrace.monoTrace = false;
    LevelPictureOptions stereo16{2, 16};
    LevelPictureOptions lissajous8{2, 8};
    lissajous8.lissajousType = true;
    LevelPictureOptions lissajousNoTrace = lissajous8;
    lissajousNoTrace.lissajousTrace = false;
    const std::vector<unsigned char> monoPacket = {128, 128, 100, 160, 40, 60, 200, 220};
    const std::vector<unsigned char> lissajousPacket = {128, 128, 255, 0, 0, 255};  // (left, right) pairs
    const Case cases[] = {
        // Two frames per column; guides at rows 0, 4, 7; extremes 40 and 220 at rows 1 and 6.
        {"mono 8-bit", 4, 8, mono8, monoPacket,
         {"1111", "4446", "0200", "3311", "0200", "0000", "4464", "1111"}, 92},
        {"mono 8-bit without trace", 4, 8, mono8NoTrace, monoPacket,
         {"1111", "4444", "0000", "1111", "0000", "0000", "4444", "1111"}, 92},
        // Left band on top (0 and 16384), right band below (-32768 and -16384), each 4 rows high.
        {"stereo 16-bit waveform", 2, 8, stereo16, bytes16({0, -32768, 16384, -16384}),
         {"57", "75", "00", "11", "11", "11", "46", "75"}, 128},
        // A 4 x 4 square centred in 6 x 4: blue cross, three points, four 45-degree extreme lines.
        {"Lissajous 8-bit", 6, 4, lissajous8, lissajousPacket, {"004500", "015710", "060160", "004500"}, 128},
        {"Lissajous without trace", 6, 4, lissajousNoTrace, lissajousPacket, {"004500", "015510", "040140", "004500"}, 128},
        {"empty packet", 4, 8, mono8, {}, {"1111", "0000", "0000", "1111", "0000", "0000", "0000", "1111"}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PixelImage picture(c.width, c.height);
        picture.fill(Rgb{9, 9, 9});  // the picture is cleared for every packet
        const int level = drawLevelPicture(picture, c.packet.data(), c.packet.size(), c.options);
        EXPECT_EQ(codes(picture), c.expected);
        EXPECT_EQ(level, c.level);
    }
}

TEST(LevelPicture, LevelDoesNotDependOnThePictureOrTheDrawing)
{
    // The level decides what sound-activated recording stores.
    const auto packet = bytes16({100, -1536, 1535, 20});
    for (bool lissajous : {false, true}) {
        for (auto [w, h] : {std::pair{0, 0}, {1, 1}, {3, 1}, {200, 100}}) {
            LevelPictureOptions o{2, 16};
            o.lissajousType = lissajous;
            PixelImage picture(w, h);
            EXPECT_EQ(drawLevelPicture(picture, packet.data(), packet.size(), o), 6) << w << "x" << h << lissajous;
        }
    }
}

TEST(LevelPicture, DecoratedLissajousBrightensTheJoiningLines)
{
    LevelPictureOptions o{2, 8};
    o.lissajousType = true;
    o.lissajousDecor = true;
    PixelImage picture(6, 4);
    const unsigned char packet[] = {128, 128, 255, 0, 0, 255};
    drawLevelPicture(picture, packet, sizeof packet, o);
    // (3, row 1 from the bottom) lies on the blue cross and on the line from the second to the third point.
    EXPECT_EQ(picture.pixel(3, 2), (Rgb{64, 112, 255}));
    // The last point ends the last line; a red extreme line crosses it afterwards.
    EXPECT_EQ(picture.pixel(4, 2), (Rgb{255, 112, 240}));
    // Nothing outside the square.
    for (int y = 0; y < 4; ++y) {
        EXPECT_EQ(picture.pixel(0, y), Rgb{}) << y;
        EXPECT_EQ(picture.pixel(5, y), Rgb{}) << y;
    }
}

TEST(LevelPicture, RecordingMarkIsASevenPixelRedSquareThreeBelowTheTop)
{
    PixelImage picture(20, 30);
    markRecording(picture);
    int red = 0;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 20; ++x)
            if (picture.pixel(x, y) == Rgb{255, 0, 0}) {
                ++red;
                EXPECT_TRUE(x >= 3 && x <= 9 && y >= 3 && y <= 9) << x << "," << y;
            }
    EXPECT_EQ(red, 49);
    PixelImage tiny(2, 2);
    markRecording(tiny);  // too small: nothing inside, no write outside
    EXPECT_EQ(tiny.pixel(0, 0), Rgb{});
}

} // namespace
} // namespace sonavik
