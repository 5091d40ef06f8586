#include "edit/command_ids.h"
#include "edit/edit_dispatcher.h"
#include "edit/edit_test_support.h"
#include "history/edit_history.h"
#include "support/run_cli.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace sonavik {
namespace {

using test::TempDir;

// The data bytes of a canonical WAV file (after its 44-byte header).
std::vector<unsigned char> dataOf(const std::string& path)
{
    std::vector<unsigned char> bytes = test::readBytes(path);
    return bytes.size() < 44 ? bytes : std::vector<unsigned char>(bytes.begin() + 44, bytes.end());
}

// recover lists what an ended run left and writes its last state or any earlier one; with nothing left
// it says so and fails.
TEST(CliRecover, ListsAndWritesTheStatesOfAnEndedRun)
{
    TempDir dir;
    setenv("XDG_STATE_HOME", dir.path().c_str(), 1);
    const test::CliResult none = test::runCli(dir, {"recover", "--list"});
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("復元できる音はありません"), std::string::npos);

    std::vector<std::vector<unsigned char>> states;
    std::string folder;
    {
        test::ScriptedUi ui;
        EditHost host;
        std::string error;
        auto history = EditHistory::create(historyRoot(), &error);
        ASSERT_TRUE(history) << error;
        Workspace ws = test::workspaceWith(test::randomDocument(16, 2, 3000, 4));
        ws.document.path = "/music/take.wav";
        ws.history = history.get();
        history->begin(ws.document, HistoryOrigin::Opened);
        states.push_back(test::bytesOf(ws.document));
        for (int id : {cmd::Halve, cmd::Trim}) {
            ws.red = RedSelection{100, 1999, 0};
            ASSERT_TRUE(runEditCommand(ws, ui, host, id, id == cmd::Trim ? 12 : 0, 0));
            states.push_back(test::bytesOf(ws.document));
        }
        folder = history->folder();
    }
    const test::CliResult list = test::runCli(dir, {"recover", "--list"});
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(list.out.rfind(folder + "\t/music/take.wav\t2\t", 0), 0u) << list.out;

    const test::CliResult last = test::runCli(dir, {"recover", dir.file("last.wav")});
    EXPECT_EQ(last.status, 0) << last.err;
    EXPECT_EQ(dataOf(dir.file("last.wav")), states[2]);
    const test::CliResult first = test::runCli(dir, {"recover", "--from", folder, "--state", "0", dir.file("first.wav")});
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(dataOf(dir.file("first.wav")), states[0]);
    EXPECT_EQ(test::runCli(dir, {"recover", "--state", "3", dir.file("x.wav")}).status, 1);
    EXPECT_FALSE(test::fileExists(dir.file("x.wav")));
    EXPECT_EQ(test::runCli(dir, {"recover", "--list"}).out, list.out) << "the folder is left as it was";
    unsetenv("XDG_STATE_HOME");
}

} // namespace
} // namespace sonavik
