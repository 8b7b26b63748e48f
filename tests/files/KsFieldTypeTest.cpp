#include <gtest/gtest.h>

#include <cfloat>
#include <string>

#include "files/KsField.h"
#include "files/KsFieldType.h"
#include "files/KsFlagType.h"
#include "support/KsErrorCapture.h"

namespace {

using kstest::CaughtError;
using kstest::MessageOf;

TEST(KsFieldType, TypeLettersNameTheirConstantsAndDescriptors) {
    struct Case {
        char letter;
        const char* constant;
        const char* name;  // null: no descriptor
        bool numeric;
        double low, high;
    };
    const Case cases[] = {
        {'A', "KS_ALPHA_FLD", "Alpha", false, 0, 255},
        {'Y', "KS_BINARY_FLD", "Binary", false, 0, 255},
        {'I', "KS_LONG_FLD", "Long", true, -2147483648.0, 2147483647.0},
        {'S', "KS_SHORT_FLD", "Short", true, -32768, 32767},
        {'U', "KS_USHORT_FLD", "Unsigned Short", true, 0, 65535},
        {'W', "KS_ULONG_FLD", "Unsigned Long", true, 0, 4294967295.0},
        {'N', "KS_NUMBER_FLD", "Number", true, DBL_MIN, DBL_MAX},
        {'D', "KS_DATE_FLD", "Date", false, 8, 8},
        {'T', "KS_TIME_FLD", "Time", false, 9, 9},
        {'@', "KS_STAMP_FLD", "Timestamp", false, 17, 17},
        {'L', "KS_BOOLEAN_FLD", "Boolean", true, 0, 1},
        {'B', "KS_BLOB_FLD", "Blob", false, 0, 4294967295.0},
        {'$', "KS_CURRENCY_FLD", nullptr, false, 0, 0},
    };
    ASSERT_EQ(12u, KsFieldType::GetAll().size());
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.letter);
        EXPECT_STREQ(c.constant, KsField::GetTypeCString(c.letter));
        const KsFieldType* type = KsFieldType::Find(c.letter);
        if (c.name == nullptr) {
            EXPECT_EQ(nullptr, type);
            continue;
        }
        ASSERT_NE(nullptr, type);
        EXPECT_EQ(type, KsFieldType::GetAll()[static_cast<std::int32_t>(i)]);
        EXPECT_STREQ(c.name, type->GetName());
        EXPECT_EQ(c.numeric, type->IsNumeric());
        EXPECT_EQ(c.low, type->GetLowerBound());
        EXPECT_EQ(c.high, type->GetUpperBound());
        EXPECT_EQ(c.letter != 'L', type->GetSecondFlag());
    }
    for (char letter : {'a', '0', 'Z', '\0'}) {
        EXPECT_EQ(nullptr, KsFieldType::Find(letter));
    }
    KsException error = CaughtError([] { KsField::GetTypeCString('x'); });
    EXPECT_STREQ("The character, 'x', is not a valid field type.", error.GetErrorMessage());
    EXPECT_STREQ("GetTypeCString() of KsField", error.GetCallpath());
}

TEST(KsFlagType, MaskGivesShiftWidthAndStorageKind) {
    struct Case {
        std::uint32_t mask;
        std::uint16_t shift, width;
        bool singleBit;
    };
    for (Case c : {Case{0x01, 0, 1, true}, Case{0x30, 4, 2, false}, Case{0, 0, 0, false},
                   Case{0x80000000, 31, 1, true}, Case{0xFFFFFFFF, 0, 32, false},
                   Case{0x500, 8, 3, false}}) {
        KsFlagType type("T", "", 0x02, false);
        type.SetMask(c.mask);
        EXPECT_EQ(c.shift, type.GetShift()) << c.mask;
        EXPECT_EQ(c.width, type.GetBitWidth()) << c.mask;
        EXPECT_EQ(c.singleBit, type.IsSingleBit()) << c.mask;
    }
}

TEST(KsFlagType, RegistryHoldsTheStandardTypesAndRefusesBadOnes) {
    const auto& registry = KsFlagType::GetFieldFlagRegistry();
    ASSERT_EQ(5u, registry.size());
    const char* names[] = {"Hidden", "Required", "System", "ReadOnly", "NonNativeDataSource"};
    for (std::int32_t i = 0; i < 5; ++i) {
        EXPECT_STREQ(names[i], registry[i]->GetName());
        EXPECT_EQ(1u << i, registry[i]->GetMask());
        EXPECT_TRUE(registry[i]->IsSystem());
    }
    EXPECT_STREQ("Field can not be updated", registry[3]->GetDescription());
    EXPECT_EQ(registry[4], KsFlagType::FindFieldFlagType("nonnativedatasource"));

    KsFlagType unnamed("", "", 1, false), empty("Empty", "", 0, false), hidden("HIDDEN", "", 1, 0);
    EXPECT_EQ("A flag type needs a name",
              MessageOf([&] { KsFlagType::RegisterFieldFlagType(unnamed); }));
    EXPECT_EQ("Flag type \"Empty\" has no bits",
              MessageOf([&] { KsFlagType::RegisterFieldFlagType(empty); }));
    EXPECT_EQ("A flag type named \"HIDDEN\" is already registered",
              MessageOf([&] { KsFlagType::RegisterFieldFlagType(hidden); }));
    EXPECT_FALSE(KsFlagType::UnregisterFieldFlagType(hidden));

    KsFlagType level("Level", "", 0x30, false);
    KsFlagType::RegisterFieldFlagType(level);
    EXPECT_EQ(&level, KsFlagType::FindFieldFlagType("LEVEL"));
    EXPECT_TRUE(KsFlagType::UnregisterFieldFlagType(level));
    EXPECT_EQ(5u, registry.size());
}

}  // namespace
