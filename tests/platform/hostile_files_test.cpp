// Files the program keeps beside itself, where someone else may have put a link, a fifo or a folder
// only half writable, and names at the file-name limit.

#include "document/undo_store.h"
#include "document/wav_file.h"
#include "platform/os.h"
#include "settings/settings.h"
#include "spectrogram/spectrogram_export.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <optional>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sonavik {
namespace {

using test::readBytes;
using test::ScriptedUi;
using test::TempDir;
using test::writeBytes;
using Bytes = std::vector<unsigned char>;

// A folder that takes no new file: read-only for an ordinary user, immutable for root, who ignores
// permission bits. Undone when the object goes.
class ClosedFolder {
public:
    explicit ClosedFolder(const std::string& dir) : dir_(dir)
    {
        if (geteuid() != 0) {
            closed_ = chmod(dir.c_str(), 0555) == 0;
            return;
        }
        closed_ = setImmutable(true);
    }
    ~ClosedFolder()
    {
        if (geteuid() != 0)
            chmod(dir_.c_str(), 0755);
        else if (closed_)
            setImmutable(false);
    }
    bool closed() const { return closed_; }

private:
    bool setImmutable(bool on)
    {
        const int fd = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY);
        if (fd < 0)
            return false;
        int flags = 0;
        bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ok && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        ::close(fd);
        return ok;
    }
    std::string dir_;
    bool closed_ = false;
};

bool writeAll(SafeFileWriter& w, const Bytes& bytes) { return w.open() && w.write(bytes.data(), bytes.size()) && w.commit(); }

TEST(SafeFileWriter, WritesInPlaceWhenTheFolderTakesNoNewFile)
{
    TempDir dir;
    const std::string target = dir.file("kept.wav");
    writeBytes(target, Bytes(100, 7));
    ClosedFolder closed(dir.path());
    if (!closed.closed())
        GTEST_SKIP() << "this file system cannot close a folder";

    SafeFileWriter shorter(target);
    EXPECT_TRUE(writeAll(shorter, {1, 2, 3}));
    EXPECT_EQ(readBytes(target), (Bytes{1, 2, 3}));
    SafeFileWriter longer(target);
    EXPECT_TRUE(writeAll(longer, Bytes(70000, 9)));
    EXPECT_EQ(readBytes(target), Bytes(70000, 9));
    // A new file still cannot be made there.
    SafeFileWriter fresh(dir.file("new.wav"));
    EXPECT_FALSE(fresh.open());
}

// Overwritten in place on a disk too small for the new content (a file-size limit stands in for the
// full disk): the save fails with its message and the old sound and picture stay byte for byte.
TEST(SafeFileWriter, InPlaceSaveWithoutRoomKeepsTheOldFile)
{
    TempDir dir;
    const std::string wav = dir.file("kept.wav");
    const std::string bmp = dir.file("kept.bmp");
    const Bytes old(5000, 7);
    writeBytes(wav, old);
    writeBytes(bmp, old);
    ClosedFolder closed(dir.path());
    if (!closed.closed())
        GTEST_SKIP() << "this file system cannot close a folder";

    auto saveUnderLimit = [&] {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{64 << 10, RLIM_INFINITY};
        setrlimit(RLIMIT_FSIZE, &limit);
        SoundDocument doc;
        doc.format = {1, 2, 8000, 32000, 4, 16, 0};
        doc.frameCount = 1 << 16;
        doc.samples = SampleBuffer::allocate(doc.byteCount());
        std::fill(doc.samples.data(), doc.samples.data() + doc.byteCount(), 1);
        Spectrogram s;
        s.fftSize = 16;
        s.binCount = 9;
        s.spectrumCount = 10000;
        s.colourBitmap.assign(Spectrogram::bitmapStrideOf(s.spectrumCount) * 9, 3);
        ScriptedUi ui;
        const bool wavWritten = writeWavFile(ui, doc, wav);
        const bool bmpWritten = writeSpectrogramBitmap(ui, s, bmp);
        const bool told = ui.texts() == std::vector<std::string>{wav + "の保存に失敗しました。", "保存失敗"};
        std::exit(!wavWritten && !bmpWritten && told ? 0 : 1);
    };
    EXPECT_EXIT(saveUnderLimit(), ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(readBytes(wav), old);
    EXPECT_EQ(readBytes(bmp), old);
}

TEST(SafeFileWriter, ReplacesFilesWhoseNamesAreAtTheLimit)
{
    TempDir dir;
    for (std::size_t length : {200u, 248u, 255u}) {
        const std::string target = dir.file(std::string(length - 4, 'n') + ".wav");
        writeBytes(target, {1});
        SafeFileWriter w(target);
        EXPECT_TRUE(writeAll(w, {4, 5})) << length;
        EXPECT_EQ(readBytes(target), (Bytes{4, 5})) << length;
    }
}

TEST(SafeFileWriter, FollowsOrRefusesLinksAsAsked)
{
    TempDir dir;
    const std::string victim = dir.file("victim");
    writeBytes(victim, {1, 2});
    ASSERT_EQ(symlink(victim.c_str(), dir.file("link").c_str()), 0);
    SafeFileWriter refused(dir.file("link"), SafeFileWriter::Links::Refuse);
    EXPECT_FALSE(refused.open());
    EXPECT_EQ(readBytes(victim), (Bytes{1, 2}));
    SafeFileWriter followed(dir.file("link"));
    EXPECT_TRUE(writeAll(followed, {3}));
    EXPECT_EQ(readBytes(victim), (Bytes{3}));
}

// parameter.ini and the transfer files as links to someone's file, or as fifos: refused with the usual
// messages, the linked file untouched, and nothing waits.
TEST(ProgramFiles, LinksAndFifosAreRefused)
{
    for (bool fifo : {false, true}) {
        SCOPED_TRACE(fifo ? "fifo" : "link");
        TempDir dir;
        const std::string victim = dir.file("victim.wav");
        writeBytes(victim, Bytes(6000, 5));
        auto plant = [&](const std::string& name) {
            const std::string path = dir.file(name);
            ASSERT_EQ(fifo ? mkfifo(path.c_str(), 0666) : symlink(victim.c_str(), path.c_str()), 0);
        };
        plant("parameter.ini");
        plant("tmp_l.hed");

        Settings settings;
        ScriptedUi ui;
        EXPECT_FALSE(loadSettings(settings, dir.path(), ui));
        ASSERT_EQ(ui.messages.size(), 2u);
        EXPECT_EQ(ui.messages[0].caption, fifo ? "Data Error" : "Not Found");
        EXPECT_EQ(ui.messages[1].caption, "Write Error");
        EXPECT_EQ(settings.clientWidth, 600);

        ui.clear();
        EXPECT_FALSE(resetTransferFiles(dir.path(), ui));
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0].text, dir.file("tmp_l.hed") + "を開けません");
        EXPECT_EQ(readBytes(victim), Bytes(6000, 5));
    }
}

TEST(ProgramFiles, PrivateFolderIsNeverOneSomeoneElsePrepared)
{
    const std::string own = "sonavik2-" + std::to_string(geteuid());
    struct Case {
        const char* name;
        void (*prepare)(const std::string& parent, const std::string& own);
        bool sameName;
    };
    const Case cases[] = {
        {"nothing there", [](const std::string&, const std::string&) {}, true},
        {"our own folder", [](const std::string& p, const std::string& o) { mkdir((p + o).c_str(), 0700); }, true},
        {"a folder others may enter", [](const std::string& p, const std::string& o) {
             mkdir((p + o).c_str(), 0777);
             chmod((p + o).c_str(), 0777);
         }, false},
        {"a link to another folder", [](const std::string& p, const std::string& o) {
             mkdir((p + "elsewhere").c_str(), 0700);
             symlink((p + "elsewhere").c_str(), (p + o).c_str());
         }, false},
        {"a file", [](const std::string& p, const std::string& o) { writeBytes(p + o, {1}); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir parent;
        c.prepare(parent.path(), own);
        const std::string folder = privateUserFolder(parent.path());
        ASSERT_FALSE(folder.empty());
        EXPECT_EQ(folder == parent.file(own + "/"), c.sameName) << folder;
        struct stat st {};
        ASSERT_EQ(lstat(folder.substr(0, folder.size() - 1).c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & 077, 0u);
        EXPECT_EQ(st.st_uid, geteuid());
    }
}

TEST(ProgramFiles, WithoutAHomeTheRuntimeFolderIsUsed)
{
    struct SavedVariable {
        const char* name;
        std::optional<std::string> value;
    };
    std::vector<SavedVariable> saved;
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"}) {
        const char* v = std::getenv(name);
        saved.push_back({name, v ? std::optional<std::string>(v) : std::nullopt});
    }
    TempDir runtime;
    chmod(runtime.path().c_str(), 0700);
    unsetenv("HOME");
    unsetenv("XDG_CONFIG_HOME");
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    const std::string folder = userConfigDir();
    for (const SavedVariable& v : saved) {
        if (v.value)
            setenv(v.name, v.value->c_str(), 1);
        else
            unsetenv(v.name);
    }
    EXPECT_EQ(folder, runtime.file("sonavik2-" + std::to_string(geteuid()) + "/"));
}

} // namespace
} // namespace sonavik
