#include "platform/os.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <filesystem>
#include <unistd.h>
#include <sys/stat.h>

namespace sonavik {
namespace {

using test::readBytes;
using test::TempDir;
using test::writeBytes;

TEST(SafeFileWriter, ReplacesTheFileOnlyOnCommit)
{
    TempDir dir;
    std::string target = dir.file("a.bin");
    writeBytes(target, {1, 2, 3});
    {
        SafeFileWriter w(target);
        ASSERT_TRUE(w.open());
        ASSERT_TRUE(w.write("xyz", 3));
        EXPECT_EQ(readBytes(target), (std::vector<unsigned char>{1, 2, 3})) << "target changed before commit";
        // dropped without commit
    }
    EXPECT_EQ(readBytes(target), (std::vector<unsigned char>{1, 2, 3}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "temporary file left behind";

    SafeFileWriter w(target);
    ASSERT_TRUE(w.open());
    ASSERT_TRUE(w.writeU32(0x04030201));
    std::vector<unsigned char> big(200000, 7);
    ASSERT_TRUE(w.write(big.data(), big.size()));
    ASSERT_TRUE(w.commit());
    auto bytes = readBytes(target);
    ASSERT_EQ(bytes.size(), 200004u);
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(bytes[3], 4);
    EXPECT_EQ(bytes[200003], 7);
}

TEST(SafeFileWriter, RefusesReadOnlyFilesAndMissingFolders)
{
    TempDir dir;
    std::string target = dir.file("ro.bin");
    writeBytes(target, {9});
    chmod(target.c_str(), 0444);
    SafeFileWriter w(target);
    EXPECT_FALSE(w.open());
    SafeFileWriter missing(dir.file("no/such/folder/x.bin"));
    EXPECT_FALSE(missing.open());
    EXPECT_EQ(readBytes(target), (std::vector<unsigned char>{9}));
}

TEST(SafeFileWriter, KeepsTheModeOfTheFileItReplaces)
{
    TempDir dir;
    std::string target = dir.file("m.bin");
    writeBytes(target, {1});
    chmod(target.c_str(), 0640);
    SafeFileWriter w(target);
    ASSERT_TRUE(w.open());
    ASSERT_TRUE(w.write("a", 1));
    ASSERT_TRUE(w.commit());
    struct stat st {};
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

} // namespace
} // namespace sonavik
