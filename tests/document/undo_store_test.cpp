#include "document/undo_store.h"
#include "document/sound_document.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sys/stat.h>

namespace sonavik {
namespace {

using test::fileExists;
using test::readBytes;
using test::ScriptedUi;
using test::TempDir;
using test::writeBytes;
using Bytes = std::vector<unsigned char>;

const char* const kNames[] = {"tmp_l.hed", "tmp_l.bod", "tmp_r.hed", "tmp_r.bod"};

TEST(TransferFiles, CreatesMissingAndEmptiesExistingFiles)
{
    TempDir dir;
    writeBytes(dir.file("tmp_l.bod"), {1, 2, 3});
    writeBytes(dir.file("tmp_r.hed"), Bytes(70000, 9));
    ScriptedUi ui;
    EXPECT_TRUE(resetTransferFiles(dir.path(), ui));
    EXPECT_TRUE(ui.messages.empty());
    for (const char* name : kNames) {
        EXPECT_TRUE(fileExists(dir.file(name))) << name;
        EXPECT_TRUE(readBytes(dir.file(name)).empty()) << name;
    }
}

TEST(TransferFiles, StopsAtTheFirstFileThatCannotBeOpened)
{
    for (int blocked = 0; blocked < 4; ++blocked) {
        SCOPED_TRACE(kNames[blocked]);
        TempDir dir;
        for (int i = 0; i < 4; ++i) {
            if (i == blocked)
                mkdir(dir.file(kNames[i]).c_str(), 0755);
            else
                writeBytes(dir.file(kNames[i]), {1, 2, 3});
        }
        ScriptedUi ui;
        EXPECT_FALSE(resetTransferFiles(dir.path(), ui));
        ASSERT_EQ(ui.messages.size(), 1u);
        const MessageRequest& box = ui.messages[0];
        EXPECT_EQ(box.text, dir.file(kNames[blocked]) + "を開けません");
        EXPECT_EQ(box.caption, "Sonavik 2");
        EXPECT_EQ(box.icon, MessageIcon::Error);
        EXPECT_EQ(box.buttons, MessageButtons::Ok);
        EXPECT_EQ(box.owner, MessageOwner::None);
        for (int i = 0; i < 4; ++i) {
            if (i < blocked) {
                EXPECT_TRUE(readBytes(dir.file(kNames[i])).empty()) << kNames[i];
            } else if (i > blocked) {
                EXPECT_EQ(readBytes(dir.file(kNames[i])), (Bytes{1, 2, 3})) << kNames[i] << " touched after the failure";
            }
        }
    }

    TempDir dir;
    ScriptedUi ui;
    EXPECT_FALSE(resetTransferFiles(dir.file("gone/"), ui));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, dir.file("gone/tmp_l.hed") + "を開けません");
}

// A copy large enough to be made by several threads at once (shares of 2 MB pages, the last one short)
// has every byte at its place.
TEST(SampleBufferClone, ALargeCopyHasEveryByteAtItsPlace)
{
    const std::size_t size = (std::size_t{41} << 20) + 12345;
    SampleBuffer source = SampleBuffer::allocate(size);
    ASSERT_FALSE(source.isNull());
    for (std::size_t i = 0; i < size; ++i)
        source.data()[i] = static_cast<unsigned char>(((i * 0x9E3779B1u) >> 24) | 1); // never 0, as new pages are
    const SampleBuffer copy = source.clone();
    ASSERT_EQ(copy.size(), size);
    EXPECT_EQ(std::memcmp(copy.data(), source.data(), size), 0);
}

} // namespace
} // namespace sonavik
