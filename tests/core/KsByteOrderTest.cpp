#include "core/KsByteOrder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// Stores `value` both ways into a buffer of guard bytes, compares the bytes with `little`
// and its reverse, checks that nothing beyond the value's width was touched, and loads
// the golden bytes back.
template <class T>
void CheckBothOrders(T value, const Bytes& little) {
    SCOPED_TRACE(testing::Message() << sizeof(T) * 8 << "-bit value " << +value);
    ASSERT_EQ(little.size(), sizeof(T));
    const Bytes big(little.rbegin(), little.rend());
    const Bytes guard(4, 0xA5);
    Bytes buffer(sizeof(T) + guard.size(), 0xA5);

    KsByteOrder::StoreLittle(buffer.data(), value);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + sizeof(T)), little);
    EXPECT_EQ(Bytes(buffer.begin() + sizeof(T), buffer.end()), guard);
    KsByteOrder::StoreBig(buffer.data(), value);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + sizeof(T)), big);
    EXPECT_EQ(Bytes(buffer.begin() + sizeof(T), buffer.end()), guard);

    EXPECT_EQ(KsByteOrder::LoadLittle<T>(little.data()), value);
    EXPECT_EQ(KsByteOrder::LoadBig<T>(big.data()), value);
}

// One value per width and signedness, with the top bit set where the type allows.
TEST(KsByteOrderTest, GoldenBytesInBothOrders) {
    CheckBothOrders<std::uint16_t>(0x8001, {0x01, 0x80});
    CheckBothOrders<std::int16_t>(-2, {0xFE, 0xFF});
    CheckBothOrders<std::uint32_t>(0xDEADBEEF, {0xEF, 0xBE, 0xAD, 0xDE});
    CheckBothOrders<std::int32_t>(std::numeric_limits<std::int32_t>::min() + 0x7F,
                                  {0x7F, 0x00, 0x00, 0x80});
    CheckBothOrders<std::uint64_t>(0x8123456789ABCDEF,
                                   {0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x81});
    CheckBothOrders<std::int64_t>(-0x0102030405060708,
                                  {0xF8, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE});
}

}  // namespace
