#include "document/undo_store.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
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

} // namespace
} // namespace sonavik
