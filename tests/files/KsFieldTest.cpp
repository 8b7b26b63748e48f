#include "files/KsField.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <utility>

#include "core/KsScopeExit.h"
#include "files/KsFieldType.h"
#include "ini/KsIniFile.h"
#include "support/KsErrorCapture.h"
#include "support/MemoryStream.h"
#include "support/TempDir.h"
#include "values/KsFormat.h"
#include "values/KsTimestampFilter.h"

namespace {

using kstest::CaughtError;
using kstest::MessageOf;

// A non-system flag type of the registry for the length of one test.
struct RegisteredLevel {
    KsFlagType type{"Level", "Level of detail", 0x30, false};
    RegisteredLevel() { KsFlagType::RegisterFieldFlagType(type); }
    ~RegisteredLevel() { KsFlagType::UnregisterFieldFlagType(type); }
};

// A section "[F]" of the lines of `text`, separated by "\n".
KsIniSection SectionOf(const std::string& text) {
    KsIniSection section("F");
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        section.AddLine(line.c_str());
    }
    return section;
}

// The text of a section, fresh unless one is given, after the field wrote into it.
std::string Written(const KsField& field, KsIniSection section = KsIniSection("F"),
                    const KsField::FlagTypes* extra = nullptr) {
    field.Write(section, extra);
    kstest::MemoryStream out;
    section.Write(out);
    return out.Bytes();
}

// Every key of a field section, in the order fields write them. 0x20 of Flags lies under
// the mask of Level, a flag type of the user word.
constexpr const char* kGolden =
    "[Field1]\r\nFieldName=Amount\r\nFormat=Money\r\nUserDefined=app text\r\nType=N\r\n"
    "Length=4\r\nByteOffset=12\r\nDescription=Amount paid\r\nPrecision=2\r\nFormatOption=1\r\n"
    "Category=3\r\nIndex=2\r\nHidden=true\r\nReadOnly=true\r\nFlags=288\r\nLevel=2\r\n"
    "UserFlags=64\r\nExport=true\r\n\r\n"
    "[Field2]\r\nFieldName=Born\r\nType=D\r\nLength=8\r\nByteOffset=16\r\nFormatOption=2\r\n"
    "FilterType=4\r\nKsFilter.RegistryIndex=KsTimestampFilter\r\n"
    "Date Format String=%d/%m/%y\r\n\r\n"
    "[Field3]\r\nFieldName=Paid\r\nMappedTo=Amount\r\n\r\n";

TEST(KsField, StructureSectionsReadAndWriteBackEveryKey) {
    RegisteredLevel level;
    KsPointerVector<KsFlagType> extra;
    extra.Add(std::make_unique<KsFlagType>("Export", "", 0x01, false));
    kstest::TempDir dir;
    kstest::WriteWholeFile(dir.File("table.kss"), kGolden);
    KsIniFile in(dir.File("table.kss").c_str(), true);
    KsField amount, born, paid;
    amount.Read(0, *in.GetSection("Field1"), &extra.GetPointers());
    born.Read(1, *in.GetSection("Field2"), &extra.GetPointers());
    paid.Read(0, *in.GetSection("Field1"), &extra.GetPointers());
    paid.ReadMappedField(2, *in.GetSection("Field3"));
    EXPECT_EQ(0x129u, amount.GetFlags());
    EXPECT_EQ(0x60u, amount.GetFlags(false));
    EXPECT_EQ(0x01u, amount.GetExtraFlags());
    amount.SetExtraFlags(0x81);  // bits of no extra flag type are not stored
    EXPECT_EQ(2, paid.GetFieldNumber());
    EXPECT_STREQ("", paid.GetDescription());
    EXPECT_TRUE(paid.IsHidden());
    EXPECT_EQ(Written(amount), Written(KsField(amount)));
    EXPECT_EQ(kGolden, Written(amount, KsIniSection("Field1"), &extra.GetPointers()) +
                           Written(born, KsIniSection("Field2"), &extra.GetPointers()) +
                           Written(paid, KsIniSection("Field3"), &extra.GetPointers()));
    KsIniSection own = SectionOf("MappedTo=Amount\nHidden=no\nFormat=");
    paid.ReadMappedField(2, own);  // Category stays: the section has none
    EXPECT_FALSE(paid.IsHidden());
    EXPECT_EQ(3, paid.GetCategory());
    EXPECT_STREQ("", paid.GetFormatName());
}

TEST(KsField, HostileSectionsFailNamingTheSection) {
    RegisteredLevel level;
    const std::pair<const char*, const char*> cases[] = {
        {"Type=", "Section \"F\": Type \"\" is not a valid field type"},
        {"Type=x", "Section \"F\": Type \"x\" is not a valid field type"},
        {"Length=-1", "Section \"F\": Length=-1 is out of range [0, 32767]"},
        {"ByteOffset=0x10000", "Section \"F\": ByteOffset=0x10000 is out of range [0, 65535]"},
        {"Precision=32768", "Section \"F\": Precision=32768 is out of range [-32768, 32767]"},
        {"FormatOption=256", "Section \"F\": FormatOption=256 is out of range [0, 255]"},
        {"Level=4", "Section \"F\": Level=4 is out of range [0, 3]"},
        {"Index=33", "Invalid parameter for index count."},
        {"Index=-1", "Invalid parameter for index count."},
        {"FilterType=4\nFormat=", "Field 7 can not be both filtered and formatted."},
    };
    for (auto [lines, message] : cases) {
        KsIniSection section = SectionOf(std::string(lines) + "\nType=A");
        KsException error = CaughtError([&] { KsField().Read(7, section); });
        EXPECT_STREQ(message, error.GetErrorMessage());
        EXPECT_NE(std::string::npos,
                  std::string(error.GetCallpath()).find("Read() of KsField ([F])"));
    }
    KsIniSection limits =
        SectionOf("Type=$\nLength=32767\nByteOffset=65535\nIndex=32\nLevel=3\nFlags=-1");
    KsField field;
    field.Read(0, limits);
    EXPECT_EQ(0x30u, field.GetFlags(false));
    EXPECT_EQ(0xFFFFFFFFu, field.GetFlags());
    KsIniSection mapped = SectionOf("MappedTo=A\nFilterType=1\nFormat=M");
    EXPECT_EQ("Field 3 can not be both filtered and formatted.",
              MessageOf([&] { field.ReadMappedField(3, mapped); }));
}

TEST(KsField, RewritingASectionRemovesKeysTheFieldNoLongerHas) {
    KsIniSection section = SectionOf(
        "FieldName=Born\nType=D\nPrecision=2\nFormatOption=2\nCategory=1\nIndex=3\n"
        "Hidden=true\nFlags=256\nFilterType=4\nDate Format String=%y");
    KsField field;
    field.Read(0, section);
    field.SetAttributes(0, 'D', 8, 0, -1);
    field.SetIndexCount(0);
    field.SetFlags(0);
    field.SetFormat(KsField::kNoFormat, nullptr, nullptr);
    EXPECT_EQ(
        "[F]\r\nFieldName=Born\r\nType=D\r\nDate Format String=%y\r\nLength=8\r\n"
        "ByteOffset=0\r\n\r\n",
        Written(field, section));
    // Reading into a used field leaves nothing of its former format.
    KsIniSection plain = SectionOf("Type=A");
    field.SetFormat(KsField::kFormatted, "Money", nullptr);
    field.Read(0, plain);
    EXPECT_STREQ("", field.GetFormatName());
    EXPECT_EQ(KsField::kNoFormat, field.GetFormatOption());
}

TEST(KsField, SettersKeepTheirBounds) {
    KsField field;
    EXPECT_EQ("[F]\r\nLength=0\r\nByteOffset=0\r\n\r\n", Written(field));
    field.SetIndexCount(32);
    field.SetAttributes(1, 'A', 10, 3, 5);
    field.SetLength(0);
    field.SetLength(-4);
    field.SetAttributes(2, 'S', 0, -1, 6);
    field.SetName("N", "D", "M", -1);
    field.SetName("N2");
    field.SetFlags(0x80);
    field.SetHidden(true);
    EXPECT_EQ(
        "[F]\r\nFieldName=N2\r\nType=S\r\nLength=10\r\nByteOffset=0\r\nPrecision=3\r\n"
        "Category=6\r\nIndex=32\r\nHidden=true\r\nFlags=128\r\n\r\n",
        Written(field));
}

TEST(KsField, FormatsAreFoundByNameOrTypeAndOwnedAsClones) {
    kstest::TempDir dir;
    kstest::WriteWholeFile(dir.File("formats.ini"), "[Format=Sizes]\r\n1-5=Small\r\n");
    KsFormatLib library;
    library.AddDictionary(new KsFormatDict(dir.File("formats.ini").c_str(), 'I'));
    KsField byName, byType;
    for (KsField* field : {&byName, &byType}) {
        field->SetAttributes(0, 'N', 4, 0, -1);
        field->SetFormat(KsField::kFormatted, "Sizes", nullptr);
        field->SetOwnerFile(nullptr, &library);
    }
    byName.SetFlags(kKsFieldNonNativeDataSource);
    EXPECT_EQ('I', byName.GetFormat()->GetType());
    EXPECT_EQ('N', byType.GetFormat()->GetType());
    EXPECT_EQ(byType.GetFormat(), KsField(byType).GetFormat());

    KsField owner, filtered;
    owner.SetFormat(*byType.GetFormat());
    std::unique_ptr<KsField> clone(owner.Clone());
    EXPECT_NE(owner.GetFormat(), clone->GetFormat());
    filtered.SetFormat(KsField::kFiltered, nullptr, std::make_unique<KsTimestampFilter>("%y", 6));
    clone->Copy(filtered);
    EXPECT_FALSE(clone->OwnsFormat());
    EXPECT_NE(filtered.GetFilter(), clone->GetFilter());
    clone->Copy(owner);  // an owned format and no filter: the filter goes
    EXPECT_EQ(nullptr, clone->GetFilter());
    byType.SetOwnerFile(nullptr);  // the default library has no such format
    EXPECT_EQ(nullptr, byType.GetFormat());
}

TEST(KsField, AFormatNameNeedsAProcessFormatLibrary) {
    KsField formatted, target;
    formatted.SetFormat(KsField::kFormatted, "Money", nullptr);
    KsFormatLib* library = KsField::GetProcessFormatLib();
    EXPECT_EQ(&KsDefaultFormatLib(), library);
    KsScopeExit restore([&] { KsField::SetProcessFormatLib(library); });
    KsField::SetProcessFormatLib(nullptr);
    EXPECT_EQ(nullptr, formatted.GetFormat());
    EXPECT_EQ("No format library set",
              MessageOf([&] { target.SetFormat(KsField::kFormatted, "Money", nullptr); }));
    target.SetFormat(KsField::kNoFormat, "", nullptr);  // no name needs no library
    target.SetName("Target");
    EXPECT_EQ("No format library set", MessageOf([&] { target.Copy(formatted); }));
    EXPECT_STREQ("Target", target.GetName());  // a failed copy changes nothing
    KsException error = CaughtError([&] { KsField copy(formatted); });
    EXPECT_STREQ("SetFormat() of KsField\r\nCopy Constructor of KsField", error.GetCallpath());
}

TEST(KsFieldType, TypeLettersNameTheirConstantsAndDescriptors) {
    KsString names, descriptors;
    for (char letter : std::string("AYBDT@IWSUNL$")) {
        names << KsField::GetTypeCString(letter) << ' ';
    }
    EXPECT_STREQ(
        "KS_ALPHA_FLD KS_BINARY_FLD KS_BLOB_FLD KS_DATE_FLD KS_TIME_FLD KS_STAMP_FLD KS_LONG_FLD "
        "KS_ULONG_FLD KS_SHORT_FLD KS_USHORT_FLD KS_NUMBER_FLD KS_BOOLEAN_FLD KS_CURRENCY_FLD ",
        names.GetCString());
    KsException error = CaughtError([] { KsField::GetTypeCString('x'); });
    EXPECT_STREQ("The character, 'x', is not a valid field type.", error.GetErrorMessage());
    EXPECT_STREQ("GetTypeCString() of KsField", error.GetCallpath());

    for (const KsFieldType* type : KsFieldType::GetAll()) {
        EXPECT_EQ(type, KsFieldType::Find(type->GetLetter()));
        descriptors << KsString().printf("%c %s %d %.17g %.17g %d|", type->GetLetter(),
                                         type->GetName(), type->IsNumeric(), type->GetLowerBound(),
                                         type->GetUpperBound(), type->GetSecondFlag());
    }
    EXPECT_STREQ(
        "A Alpha 0 0 255 1|Y Binary 0 0 255 1|I Long 1 -2147483648 2147483647 1|"
        "S Short 1 -32768 32767 1|U Unsigned Short 1 0 65535 1|"
        "W Unsigned Long 1 0 4294967295 1|"
        "N Number 1 2.2250738585072014e-308 1.7976931348623157e+308 1|D Date 0 8 8 1|"
        "T Time 0 9 9 1|@ Timestamp 0 17 17 1|L Boolean 1 0 1 0|B Blob 0 0 4294967295 1|",
        descriptors.GetCString());
    EXPECT_EQ(nullptr, KsFieldType::Find('$'));
}

TEST(KsFlagType, RegistryHoldsTheStandardTypesAndRefusesBadOnes) {
    KsString registered;
    for (const KsFlagType* type : KsFlagType::GetFieldFlagRegistry()) {
        registered << type->GetName() << '=' << type->GetMask() << type->IsSystem() << ' ';
    }
    EXPECT_STREQ(
        "Hidden=1true Required=2true System=4true ReadOnly=8true "
        "NonNativeDataSource=16true ",
        registered.GetCString());

    KsFlagType unnamed("", "", 1, false), empty("Empty", "", 0, false), hidden("HIDDEN", "", 1, 0);
    EXPECT_EQ("A flag type needs a name",
              MessageOf([&] { KsFlagType::RegisterFieldFlagType(unnamed); }));
    EXPECT_EQ("Flag type \"Empty\" has no bits",
              MessageOf([&] { KsFlagType::RegisterFieldFlagType(empty); }));
    EXPECT_EQ("A flag type named \"HIDDEN\" is already registered",
              MessageOf([&] { KsFlagType::RegisterFieldFlagType(hidden); }));

    EXPECT_EQ(0, empty.GetShift());  // shift and width follow the mask
    empty.SetMask(0x500);
    EXPECT_EQ(8, empty.GetShift());
    EXPECT_EQ(3, empty.GetBitWidth());
}

}  // namespace
