#include "platform/os.h"

#include <gtest/gtest.h>

#include <cstring>

namespace sonavik {
namespace {

TEST(AddressReservation, CommitsPiecesOfALargeReservation)
{
    EXPECT_FALSE(AddressReservation::reserve(0));
    // A gigabyte of address space costs nothing until it is committed.
    auto area = AddressReservation::reserve(std::size_t{1} << 30);
    ASSERT_TRUE(area);
    const std::size_t page = memoryPageSize();
    // Unaligned ranges commit every page they touch.
    ASSERT_TRUE(area->commit(page - 3, 10));
    std::memset(area->data() + page - 3, 0x5A, 10);
    EXPECT_EQ(area->data()[page + 6], 0x5A);
    EXPECT_EQ(area->data()[page + 7], 0) << "new pages are zero";
    EXPECT_TRUE(area->commit(area->size() - 1, 1));
    EXPECT_FALSE(area->commit(area->size() - 1, 2));
    EXPECT_FALSE(area->commit(area->size() + 1, 0));

    AddressReservation moved = std::move(*area);
    EXPECT_EQ(moved.size(), std::size_t{1} << 30);
    EXPECT_EQ(area->data(), nullptr);
    EXPECT_EQ(moved.data()[page], 0x5A);
}

} // namespace
} // namespace sonavik
