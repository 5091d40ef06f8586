// Files the program keeps beside itself, where someone else may have put a link, a fifo or a folder
// only half writable, and names at the file-name limit.

#include "document/undo_store.h"
#include "document/wav_file.h"
#include "platform/os.h"
#include "settings/settings.h"
#include "spectrogram/spectrogram_export.h"
#include "support/run_cli.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <chrono>
#include <thread>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

// Room for the samples and 20 bytes more, not for the 44-byte header: the room set aside must be the
// whole file's, so the save fails before a byte of the old file is written (not even put back).
TEST(SafeFileWriter, InPlaceSaveWithRoomForTheSamplesOnlyKeepsTheOldFile)
{
    TempDir dir;
    const std::string wav = dir.file("kept.wav");
    const Bytes old(5000, 7);
    writeBytes(wav, old);
    ClosedFolder closed(dir.path());
    if (!closed.closed())
        GTEST_SKIP() << "this file system cannot close a folder";
    TempDir state;
    setenv("XDG_STATE_HOME", state.path().c_str(), 1);

    constexpr std::int32_t kFrames = 1 << 14;
    auto saveUnderLimit = [&] {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4 * kFrames + 20, RLIM_INFINITY};
        setrlimit(RLIMIT_FSIZE, &limit);
        SoundDocument doc;
        doc.format = {1, 2, 8000, 32000, 4, 16, 0};
        doc.frameCount = kFrames;
        doc.samples = SampleBuffer::allocate(doc.byteCount());
        std::fill(doc.samples.data(), doc.samples.data() + doc.byteCount(), 1);
        const int watch = inotify_init1(IN_NONBLOCK);
        if (watch < 0 || inotify_add_watch(watch, wav.c_str(), IN_MODIFY) < 0)
            std::exit(2);
        ScriptedUi ui;
        const bool written = writeWavFile(ui, doc, wav);
        char event[4096];
        const bool modified = read(watch, event, sizeof event) > 0;
        std::exit(!written && !modified && ui.texts() == std::vector<std::string>{wav + "の保存に失敗しました。"} ? 0 : 1);
    };
    EXPECT_EXIT(saveUnderLimit(), ::testing::ExitedWithCode(0), "");
    unsetenv("XDG_STATE_HOME");
    EXPECT_EQ(readBytes(wav), old);
}

// Points the state folder (where copies of files saved in place are kept) at a test folder.
class StateHome {
public:
    StateHome() { setenv("XDG_STATE_HOME", dir_.path().c_str(), 1); }
    ~StateHome() { unsetenv("XDG_STATE_HOME"); }
    std::string saves() const { return dir_.file("sonavik2/saves/"); }
    std::size_t filesKept() const
    {
        std::error_code error;
        auto it = std::filesystem::directory_iterator(saves(), error);
        return error ? 0 : static_cast<std::size_t>(std::distance(it, std::filesystem::directory_iterator()));
    }

private:
    TempDir dir_;
};

Bytes pattern(std::size_t size, unsigned seed)
{
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i)
        b[i] = static_cast<unsigned char>((i * 2654435761u + seed) >> 13);
    return b;
}

// Runs save in a child process and kills it (SIGKILL) either when save calls back the given step or
// after delay; returns once the child is gone.
void killedWhileSaving(const std::function<void(const std::function<void(int)>&)>& save, int killAt,
                       std::chrono::microseconds delay = {})
{
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        save([killAt](int step) {
            if (step == killAt)
                raise(SIGKILL);
        });
        std::_Exit(0);
    }
    if (killAt < 0) {
        std::this_thread::sleep_for(delay);
        kill(child, SIGKILL);
    }
    int status = 0;
    waitpid(child, &status, 0);
}

// A save in place killed anywhere, from the moment the copy is made to the last byte, is put back at
// the next start byte for byte, by the command-line tool as by the editor; the copy then goes.
TEST(SafeFileWriter, AnInPlaceSaveKilledHalfWayIsPutBackAtTheNextStart)
{
    TempDir dir;
    const std::string target = dir.file("song.wav");
    const Bytes old = pattern(3 << 20, 1);
    const Bytes fresh = pattern(5 << 20, 2);
    writeBytes(target, old);
    StateHome state;
    ClosedFolder closed(dir.path());
    if (!closed.closed())
        GTEST_SKIP() << "this file system cannot close a folder";

    // Step 0: the room set aside (the file made longer); 1: the first bytes; 2: half the new content;
    // 3: all of it, not yet committed.
    const auto save = [&](const std::function<void(int)>& step) {
        SafeFileWriter w(target);
        if (!w.open() || !w.reserve(fresh.size()))
            return;
        step(0);
        w.write(fresh.data(), 100000);
        step(1);
        w.write(fresh.data() + 100000, fresh.size() / 2 - 100000);
        step(2);
        w.write(fresh.data() + fresh.size() / 2, fresh.size() - fresh.size() / 2);
        step(3);
        w.commit();
    };
    for (int step = 0; step <= 3; ++step) {
        SCOPED_TRACE(testing::Message() << "killed after step " << step);
        killedWhileSaving(save, step);
        EXPECT_NE(readBytes(target), old) << "the kill left the old file as it was: nothing to put back";
        EXPECT_EQ(state.filesKept(), 1u);
        if (step == 3) {
            // The command-line tool puts it back before anything else and says so.
            TempDir out;
            const test::CliResult cli = test::runCli(out, {"--help"});
            EXPECT_EQ(cli.status, 0);
            EXPECT_NE(cli.err.find("restored " + target), std::string::npos) << cli.err;
        } else {
            const std::vector<UnfinishedSave> found = restoreUnfinishedSaves();
            ASSERT_EQ(found.size(), 1u);
            EXPECT_EQ(found[0].path, target);
            EXPECT_TRUE(found[0].restored);
        }
        EXPECT_EQ(readBytes(target), old);
        EXPECT_EQ(state.filesKept(), 0u);
        EXPECT_TRUE(restoreUnfinishedSaves().empty());
    }

    // Killed at moments nobody chose, within one large write: the file is the old or the new one after
    // the next start, never a mix, and nothing is left.
    const Bytes large = pattern(24 << 20, 3);
    const auto saveAtOnce = [&](const std::function<void(int)>&) {
        SafeFileWriter w(target);
        if (w.open() && w.reserve(large.size()) && w.write(large.data(), large.size()))
            w.commit();
    };
    for (int delay : {0, 2000, 8000, 20000, 60000}) {
        SCOPED_TRACE(testing::Message() << "killed after " << delay << " µs");
        writeBytes(target, old);
        killedWhileSaving(saveAtOnce, -1, std::chrono::microseconds(delay));
        restoreUnfinishedSaves();
        const Bytes now = readBytes(target);
        EXPECT_TRUE(now == old || now == large) << now.size();
        EXPECT_EQ(state.filesKept(), 0u);
    }
}

// The normal save killed before its rename leaves no temporary file; one left by a process that has
// ended (a named one, where a file cannot be made without a name) goes with the next save there.
TEST(SafeFileWriter, AKilledSaveLeavesNoTemporaryFileBehind)
{
    TempDir dir;
    const std::string target = dir.file("song.wav");
    writeBytes(target, {1, 2, 3});
    killedWhileSaving(
        [&](const std::function<void(int)>& step) {
            SafeFileWriter w(target);
            const Bytes data = pattern(4 << 20, 4);
            if (w.open() && w.write(data.data(), data.size()))
                step(0);
        },
        0);
    const auto names = [&] {
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    };
    EXPECT_EQ(names(), std::vector<std::string>{"song.wav"});
    EXPECT_EQ(readBytes(target), (Bytes{1, 2, 3}));

    // A process that has ended, and one that runs (pid 1, its start unknown).
    const pid_t ended = fork();
    if (ended == 0)
        std::_Exit(0);
    waitpid(ended, nullptr, 0);
    writeBytes(dir.file(".sonavik-" + std::to_string(ended) + "-12345-a1b2c3"), Bytes(1000, 1));
    writeBytes(dir.file(".sonavik-1-0-d4e5f6"), Bytes(1000, 1));
    SafeFileWriter w(target);
    ASSERT_TRUE(writeAll(w, {4}));
    EXPECT_EQ(names(), (std::vector<std::string>{".sonavik-1-0-d4e5f6", "song.wav"}));
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
