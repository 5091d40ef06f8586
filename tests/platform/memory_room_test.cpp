// How much memory an analysis may still ask for: the machine's, a control group's and the address
// space's limits, whichever is tightest.

#include "platform/os.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/resource.h>

namespace sonavik {
namespace {

using test::TempDir;

void put(const std::string& path, const std::string& text)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    test::writeBytes(path, std::vector<unsigned char>(text.begin(), text.end()));
}

TEST(MemoryRoom, ControlGroupLimitsLessTheirUsageCountUpToTheRoot)
{
    TempDir dir;
    const std::string root = dir.path() + "cg";
    // Version 2: the group's own limit, then a tighter one on its parent; "max" is no limit.
    put(root + "/user/app/memory.max", "1073741824\n");
    put(root + "/user/app/memory.current", "73741824\n");
    put(root + "/user/memory.max", "max\n");
    put(root + "/user/memory.current", "900000000\n");
    EXPECT_EQ(cgroupMemoryRoom("0::/user/app\n", root), std::optional<std::uint64_t>(1000000000));
    put(root + "/user/memory.max", "950000000\n");
    EXPECT_EQ(cgroupMemoryRoom("0::/user/app\n", root), std::optional<std::uint64_t>(50000000));
    // Usage above the limit leaves no room rather than wrapping round.
    put(root + "/user/memory.current", "990000000\n");
    EXPECT_EQ(cgroupMemoryRoom("0::/user/app\n", root), std::optional<std::uint64_t>(0));
    // No limit anywhere, or no files to read: nothing known.
    put(root + "/other/memory.max", "max\n");
    EXPECT_EQ(cgroupMemoryRoom("0::/other\n", root), std::nullopt);
    EXPECT_EQ(cgroupMemoryRoom("0::/missing\n", root), std::nullopt);
    EXPECT_EQ(cgroupMemoryRoom("", root), std::nullopt);

    // Version 1: the memory controller's own hierarchy; a huge limit stands for none.
    put(root + "/memory/box/memory.limit_in_bytes", "536870912\n");
    put(root + "/memory/box/memory.usage_in_bytes", "36870912\n");
    const std::string v1 = "12:pids:/box\n4:cpu,memory:/box\n1:name=systemd:/box\n";
    EXPECT_EQ(cgroupMemoryRoom(v1, root), std::optional<std::uint64_t>(500000000));
    put(root + "/memory/box/memory.limit_in_bytes", "9223372036854771712\n");
    EXPECT_EQ(cgroupMemoryRoom(v1, root), std::nullopt);
}

TEST(MemoryRoom, TheAddressSpaceLimitBoundsTheAvailableMemory)
{
    // In a child, so the limit does not reach the other tests.
    EXPECT_EXIT(
        {
            dropKeptLargeBuffers(); // what earlier tests left for reuse would count as room too
            const std::uint64_t before = availableMemoryBytes();
            constexpr rlim_t kRoom = rlim_t{256} << 20;
            rlimit limit{};
            getrlimit(RLIMIT_AS, &limit);
            // The limit counts what the process has mapped already.
            const std::uint64_t mapped = addressSpaceBytes();
            limit.rlim_cur = static_cast<rlim_t>(mapped) + kRoom;
            if (before <= kRoom || mapped == 0 || setrlimit(RLIMIT_AS, &limit) != 0)
                std::_Exit(2);
            const std::uint64_t after = availableMemoryBytes();
            std::_Exit(after > 0 && after <= kRoom ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(LargeBuffers, AReleasedBufferIsHandedToTheNextRequestItCanHoldAndCountsAsRoom)
{
    dropKeptLargeBuffers();
    constexpr std::size_t kMiB = std::size_t{1} << 20;
    auto fill = [](void* data, std::size_t bytes, int value) {
        ASSERT_TRUE(data);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(data) % (2 * kMiB), 0u); // large pages can back it
        std::memset(data, value, bytes);
    };
    void* big = allocateLargeBuffer(40 * kMiB);
    void* small = allocateLargeBuffer(10 * kMiB);
    fill(big, 40 * kMiB, 1);
    fill(small, 10 * kMiB, 2);
    releaseLargeBuffer(big, 40 * kMiB);
    releaseLargeBuffer(small, 10 * kMiB);
    EXPECT_EQ(keptLargeBufferBytes(), 50 * kMiB);
    // The smallest one that holds a request serves it; a larger one is cut to size.
    void* again = allocateLargeBuffer(9 * kMiB + 1);
    EXPECT_EQ(again, small);
    void* cut = allocateLargeBuffer(30 * kMiB);
    EXPECT_EQ(cut, big);
    EXPECT_EQ(keptLargeBufferBytes(), 0u);
    fill(cut, 30 * kMiB, 3);
    releaseLargeBuffer(again, 10 * kMiB);
    releaseLargeBuffer(cut, 30 * kMiB);
    // A request none can hold lets them go; of three released, the two newest are kept.
    void* fresh = allocateLargeBuffer(64 * kMiB);
    EXPECT_EQ(keptLargeBufferBytes(), 0u);
    fill(fresh, 64 * kMiB, 4);
    void* second = allocateLargeBuffer(4 * kMiB);
    void* third = allocateLargeBuffer(6 * kMiB);
    releaseLargeBuffer(fresh, 64 * kMiB);
    releaseLargeBuffer(second, 4 * kMiB);
    releaseLargeBuffer(third, 6 * kMiB);
    EXPECT_EQ(keptLargeBufferBytes(), 10 * kMiB);
    // Under an address-space limit, the kept memory is room: it goes before anything new is mapped.
    EXPECT_EXIT(
        {
            rlimit limit{};
            getrlimit(RLIMIT_AS, &limit);
            limit.rlim_cur = static_cast<rlim_t>(addressSpaceBytes() + kMiB);
            if (setrlimit(RLIMIT_AS, &limit) != 0)
                std::_Exit(2);
            const std::uint64_t room = availableMemoryBytes();
            std::_Exit(room >= 10 * kMiB && room <= 12 * kMiB ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    dropKeptLargeBuffers();
    EXPECT_EQ(keptLargeBufferBytes(), 0u);
}

} // namespace
} // namespace sonavik
