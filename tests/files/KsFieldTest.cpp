#include "files/KsField.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "core/KsScopeExit.h"
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

KsIniSection SectionOf(std::initializer_list<const char*> lines) {
    KsIniSection section("F");
    for (const char* line : lines) {
        section.AddLine(line);
    }
    return section;
}

std::string TextOf(KsIniSection& section) {
    kstest::MemoryStream out;
    section.Write(out);
    return out.Bytes();
}

// The text a field writes into a fresh section.
std::string Written(const KsField& field, const KsField::FlagTypes* extra = nullptr) {
    KsIniSection section("F");
    field.Write(section, extra);
    return TextOf(section);
}

TEST(KsField, SectionsWithEveryKeyAreWrittenInOrderAndReadBack) {
    RegisteredLevel level;
    KsPointerVector<KsFlagType> extra;
    extra.push_back(new KsFlagType("Export", "", 0x01, false));

    KsField amount;
    amount.SetName("Amount", "Amount paid", nullptr, 3);
    amount.SetAttributes(4, 'N', 4, 2, 3);
    amount.SetByteOffset(12);
    amount.SetIndexCount(2);
    amount.SetUserDefined("app text");
    amount.SetFormat(KsField::kFormatted, "Money", nullptr);
    // 0x20 lies under the mask of Level, a type of the other word: it goes to Flags.
    amount.SetFlags(kKsFieldHidden | kKsFieldReadOnly | 0x20 | 0x100);
    amount.SetFlags(0x20 | 0x40, false);
    amount.SetExtraFlags(0x01 | 0x80);
    KsField born;
    born.SetName("Born");
    born.SetAttributes(5, 'D', 8, -1, -1);
    born.SetByteOffset(16);
    born.SetFormat(KsField::kFiltered, nullptr, std::make_unique<KsTimestampFilter>("%d/%m/%y", 4));
    KsField paid(amount);
    paid.SetName("Paid", nullptr, "Amount", 7);

    kstest::TempDir dir;
    std::string name = dir.File("table.kss");
    kstest::WriteWholeFile(name, "");
    {
        KsIniFile ini(name.c_str(), true);
        amount.Write(*ini.AddSection("Field1"), &extra);
        born.Write(*ini.AddSection("Field2"), &extra);
        paid.Write(*ini.AddSection("Field3"), &extra);
        ini.Write(true, IO_READ);
    }
    EXPECT_EQ(
        "[Field1]\r\nFieldName=Amount\r\nFormat=Money\r\nUserDefined=app text\r\nType=N\r\n"
        "Length=4\r\nByteOffset=12\r\nDescription=Amount paid\r\nPrecision=2\r\n"
        "FormatOption=1\r\nCategory=3\r\nIndex=2\r\nHidden=true\r\nReadOnly=true\r\n"
        "Flags=288\r\nLevel=2\r\nUserFlags=64\r\nExport=true\r\n\r\n"
        "[Field2]\r\nFieldName=Born\r\nType=D\r\nLength=8\r\nByteOffset=16\r\nFormatOption=2\r\n"
        "FilterType=4\r\nKsFilter.RegistryIndex=KsTimestampFilter\r\n"
        "Date Format String=%d/%m/%y\r\n\r\n"
        "[Field3]\r\nFieldName=Paid\r\nMappedTo=Amount\r\n\r\n",
        kstest::ReadWholeFile(name));

    KsIniFile ini(name.c_str(), true);
    KsField amountRead, bornRead, paidRead;
    amountRead.Read(0, *ini.GetSection("Field1"), &extra);
    bornRead.Read(1, *ini.GetSection("Field2"), &extra);
    paidRead.Read(0, *ini.GetSection("Field1"), &extra);
    paidRead.ReadMappedField(2, *ini.GetSection("Field3"));
    EXPECT_EQ(0x129u, amountRead.GetFlags());
    EXPECT_EQ(0x60u, amountRead.GetFlags(false));
    EXPECT_EQ(0x01u, amountRead.GetExtraFlags());  // bits of no extra type are not kept
    EXPECT_EQ(0, amountRead.GetFieldNumber());
    EXPECT_EQ(Written(amount, &extra), Written(amountRead, &extra));
    EXPECT_STREQ("%d/%m/%y", dynamic_cast<KsTimestampFilter&>(*bornRead.GetFilter()).GetFormat());
    EXPECT_EQ(Written(born), Written(bornRead));
    EXPECT_EQ(2, paidRead.GetFieldNumber());
    EXPECT_STREQ("", paidRead.GetDescription());
    EXPECT_STREQ("Money", paidRead.GetFormatName());
    EXPECT_EQ('N', paidRead.GetType());
    EXPECT_STREQ("Amount", paidRead.GetMappedFieldName());
}

TEST(KsField, HostileSectionsFailNamingTheSection) {
    RegisteredLevel level;
    const char* valid = "Type=A";
    struct Case {
        std::initializer_list<const char*> lines;
        const char* message;
    };
    const Case cases[] = {
        {{"FieldName=X"}, "Section \"F\": Type \"\" is not a valid field type"},
        {{"Type=x"}, "Section \"F\": Type \"x\" is not a valid field type"},
        {{valid, "Length=-1"}, "Section \"F\": Length=-1 is out of range [0, 32767]"},
        {{valid, "Length=99999999999"},
         "Section \"F\": Length=99999999999 is out of range [0, 32767]"},
        {{valid, "ByteOffset=0x10000"},
         "Section \"F\": ByteOffset=0x10000 is out of range [0, 65535]"},
        {{valid, "Precision=32768"},
         "Section \"F\": Precision=32768 is out of range [-32768, "
         "32767]"},
        {{valid, "Category=-32769"},
         "Section \"F\": Category=-32769 is out of range [-32768, "
         "32767]"},
        {{valid, "FormatOption=256"}, "Section \"F\": FormatOption=256 is out of range [0, 255]"},
        {{valid, "Level=4"}, "Section \"F\": Level=4 is out of range [0, 3]"},
        {{valid, "Level=-1"}, "Section \"F\": Level=-1 is out of range [0, 3]"},
        {{valid, "Index=33"}, "Invalid parameter for index count."},
        {{valid, "Index=-1"}, "Invalid parameter for index count."},
        {{valid, "FilterType=4", "Format="}, "Field 7 can not be both filtered and formatted."},
        {{valid, "FilterType=99"}, "Unknown filter type 99"},
    };
    for (const Case& c : cases) {
        KsIniSection section = SectionOf(c.lines);
        KsField field;
        KsException error = CaughtError([&] { field.Read(7, section); });
        EXPECT_EQ(std::string(c.message), error.GetErrorMessage());
        EXPECT_NE(nullptr, std::strstr(error.GetCallpath(), "Read() of KsField ([F])"))
            << error.GetCallpath();
    }
    KsIniSection limits = SectionOf({"Type=$", "Length=32767", "ByteOffset=65535", "Index=32",
                                     "Level=3", "Category=-32768", "Flags=-1"});
    KsField field;
    field.Read(0, limits);
    EXPECT_EQ(32767, field.GetLength());
    EXPECT_EQ(65535, field.GetByteOffset());
    EXPECT_EQ(32, field.GetIndexCount());
    EXPECT_EQ(0x30u, field.GetFlags(false));
    EXPECT_EQ(0xFFFFFFFFu, field.GetFlags());

    KsIniSection mapped = SectionOf({"MappedTo=A", "FilterType=1", "Format=M"});
    EXPECT_EQ("Field 3 can not be both filtered and formatted.",
              MessageOf([&] { field.ReadMappedField(3, mapped); }));
}

TEST(KsField, MappedSectionOverridesHiddenCategoryAndFormat) {
    KsIniSection target = SectionOf({"FieldName=Amount", "Type=N", "Format=Money", "Category=2"});
    KsField field;
    field.Read(0, target);
    KsIniSection own = SectionOf({"FieldName=Paid", "MappedTo=Amount", "Hidden=yes", "Format="});
    field.ReadMappedField(4, own);
    EXPECT_TRUE(field.IsHidden());
    EXPECT_EQ(2, field.GetCategory());  // kept when the section has none
    EXPECT_STREQ("", field.GetFormatName());
    EXPECT_EQ(KsField::kFormatted, field.GetFormatOption());
    EXPECT_EQ("[F]\r\nFieldName=Paid\r\nMappedTo=Amount\r\n\r\n", Written(field));
}

TEST(KsField, RewritingASectionRemovesKeysTheFieldNoLongerHas) {
    KsIniSection section =
        SectionOf({"FieldName=Born", "Type=D", "Precision=2", "FormatOption=2", "Category=1",
                   "Index=3", "Hidden=true", "Flags=256", "FilterType=4", "Date Format String=%y"});
    KsField field;
    field.Read(0, section);
    field.SetAttributes(0, 'D', 8, 0, -1);
    field.SetIndexCount(0);
    field.SetFlags(0);
    field.SetFormat(KsField::kNoFormat, nullptr, nullptr);
    field.Write(section);
    EXPECT_EQ(
        "[F]\r\nFieldName=Born\r\nType=D\r\nDate Format String=%y\r\nLength=8\r\n"
        "ByteOffset=0\r\n\r\n",
        TextOf(section));

    // Reading into a used field leaves nothing of its former format.
    KsIniSection plain = SectionOf({"Type=A"});
    field.SetFormat(KsField::kFormatted, "Money", nullptr);
    field.Read(0, plain);
    EXPECT_STREQ("", field.GetFormatName());
    EXPECT_EQ(KsField::kNoFormat, field.GetFormatOption());
}

TEST(KsField, SettersKeepTheirBounds) {
    KsField field;
    EXPECT_EQ(KsField::kUnnumbered, field.GetFieldNumber());
    EXPECT_EQ(-1, field.GetCategory());
    EXPECT_TRUE(field.GetFilterFlag());
    field.SetIndexCount(32);
    for (std::int32_t bad : {33, -1}) {
        KsException error = CaughtError([&] { field.SetIndexCount(bad); });
        EXPECT_STREQ("Invalid parameter for index count.", error.GetErrorMessage());
        EXPECT_STREQ("SetIndexCount() of KsField", error.GetCallpath());
    }
    EXPECT_EQ(32, field.GetIndexCount());
    field.SetAttributes(1, 'A', 10, 3, 5);
    field.SetLength(0);
    field.SetLength(-4);
    field.SetAttributes(2, 'S', 0, -1, 6);
    EXPECT_EQ(10, field.GetLength());
    EXPECT_EQ(3, field.GetPrecision());
    EXPECT_EQ(6, field.GetCategory());
    field.SetName("N", "D", "M", -1);
    field.SetName("N2");
    EXPECT_STREQ("", field.GetDescription());
    EXPECT_FALSE(field.IsMapped());
    EXPECT_EQ(6, field.GetCategory());
    field.SetFlags(0x80);
    field.SetHidden(true);
    EXPECT_EQ(0x81u, field.GetFlags());
    field.SetHidden(false);
    EXPECT_EQ(0x80u, field.GetFlags());
}

TEST(KsField, FormatsAreFoundByNameAndTypeInTheFieldsLibrary) {
    kstest::TempDir dir;
    std::string dictionary = dir.File("formats.ini");
    kstest::WriteWholeFile(dictionary, "[Format=Sizes]\r\n1-5=Small\r\n6-10=Large\r\n");
    KsFormatLib library;
    library.AddDictionary(new KsFormatDict(dictionary.c_str(), 'I'));
    KsField byName, byType;
    for (KsField* field : {&byName, &byType}) {
        field->SetAttributes(0, 'N', 4, 0, -1);
        field->SetFormat(KsField::kFormatted, "Sizes", nullptr);
        field->SetOwnerFile(nullptr, &library);
    }
    KsField unknown(byType);
    unknown.SetFormat(KsField::kFormatted, "Nope", nullptr);
    EXPECT_EQ(nullptr, unknown.GetFormat());
    byName.SetFlags(kKsFieldNonNativeDataSource);
    ASSERT_NE(nullptr, byName.GetFormat());
    EXPECT_EQ('I', byName.GetFormat()->GetType());
    ASSERT_NE(nullptr, byType.GetFormat());
    EXPECT_EQ('N', byType.GetFormat()->GetType());
    KsString label;
    EXPECT_EQ(1, byType.GetFormat()->Format("7", label));
    EXPECT_STREQ("Large", label.GetCString());

    KsField owner;
    owner.SetFormat(*byType.GetFormat());
    EXPECT_TRUE(owner.OwnsFormat());
    EXPECT_NE(byType.GetFormat(), owner.GetFormat());
    std::unique_ptr<KsField> clone(owner.Clone());
    EXPECT_TRUE(clone->OwnsFormat());
    EXPECT_NE(owner.GetFormat(), clone->GetFormat());
    EXPECT_STREQ("Sizes", clone->GetFormat()->GetName());
    EXPECT_EQ(KsField::kFormatted, clone->GetFormatOption());
}

TEST(KsField, CopyTakesTheSourcesFilterAndNeedsALibraryForAFormatName) {
    KsField filtered, ownsFormat, target;
    filtered.SetFormat(KsField::kFiltered, nullptr, std::make_unique<KsTimestampFilter>("%y", 6));
    ownsFormat.SetFormat(KsFormat("Own", 'I'));
    target.SetFormat(KsFormat("Old", 'I'));
    target.Copy(filtered);
    ASSERT_NE(nullptr, target.GetFilter());
    EXPECT_NE(filtered.GetFilter(), target.GetFilter());
    EXPECT_FALSE(target.OwnsFormat());
    target.Copy(ownsFormat);  // an owned format and no filter: the filter goes
    EXPECT_EQ(nullptr, target.GetFilter());
    EXPECT_STREQ("Own", target.GetFormat()->GetName());

    KsField formatted;
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
    KsException error = CaughtError([&] { target.Copy(formatted); });
    EXPECT_STREQ("No format library set", error.GetErrorMessage());
    EXPECT_STREQ("Target", target.GetName());  // a failed copy changes nothing
    error = CaughtError([&] { KsField copy(formatted); });
    EXPECT_STREQ("SetFormat() of KsField\r\nCopy Constructor of KsField", error.GetCallpath());
    KsIniSection section = SectionOf({"Type=N", "Format=Money"});
    error = CaughtError([&] { target.Read(1, section); });
    EXPECT_STREQ("SetFormat() of KsField\r\nRead() of KsField ([F])", error.GetCallpath());
}

}  // namespace
