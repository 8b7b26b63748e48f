#include "values/KsFormat.h"

#include <gtest/gtest.h>

#include <string>

#include "support/KsErrorCapture.h"
#include "support/TempDir.h"

namespace {

using kstest::MessageOf;

// The label of a value given as text, or "-" when no line holds it.
std::string LabelOf(const KsFormat& format, const char* value) {
    KsString label;
    return format.Format(value, label) >= 0 ? label.GetCString() : "-";
}

// The numbers from -6 to 33 that a line of type I holds.
std::string Held(const char* values) {
    KsFormatLine line(values, "x", 'I');
    std::string held;
    for (std::int32_t v = -6; v <= 33; ++v) {
        held += line.GetIsInFormatLine(&v, 'I', false) ? std::to_string(v) + " " : "";
    }
    return held;
}

TEST(KsFormatLine, SingleValuesAndRanges) {
    EXPECT_EQ("1 2 3 7 10 11 21 22 30 31 ", Held("1-3,7,9<-<12,20<-22,30-<32"));
    // A "-" before a number is its sign; a trailing dash is dropped.
    EXPECT_EQ("-5 -4 -3 -2 -1 8 ", Held("-5--2, -1, 8-"));
    // An empty list of values holds the blank value of the type.
    EXPECT_EQ(-32768, KsFormatLine("", "missing", 'S').GetRange(0)->GetLowNumber());
    EXPECT_EQ(-1.0e30, KsFormatLine("", "missing", 'N').GetRange(0)->GetLowNumber());

    EXPECT_EQ("Invalid character type", MessageOf([] { KsFormatLine bad("1", "x", 'Q'); }));
    EXPECT_EQ("Invalid format range",
              MessageOf([] { KsFormatLine longText(std::string(33, 'a').c_str(), "x", 'A'); }));
    EXPECT_EQ("Invalid format range", MessageOf([] { KsFormatRange range(nullptr, "b", 1); }));
    EXPECT_EQ("Invalid character type", MessageOf([] { KsFormatRange range(1, 2, 0, 'A'); }));
}

TEST(KsFormat, LowAndHighLabelsOfAnIntegerFormat) {
    KsFormat format("Level", 'I');
    format.AddLine("1-5", "Low");
    format.AddLine("6<-10", "High");
    EXPECT_EQ("Low", LabelOf(format, "5"));
    EXPECT_EQ("-", LabelOf(format, "6"));
    EXPECT_EQ("High", LabelOf(format, "7"));
    EXPECT_EQ("\"x\" is not a valid long", MessageOf([&] { LabelOf(format, "x"); }));
    std::int32_t six = 6, ten = 10;
    char label[8] = "unset";
    EXPECT_EQ(-1, format.Format(&six, false, label, sizeof label));
    EXPECT_STREQ("unset", label);
    EXPECT_EQ(1, format.Format(&ten, false, label, 3));
    EXPECT_STREQ("Hi", label);
    std::int32_t two = 2;  // the first line's label is copied too
    EXPECT_EQ(std::to_string(format.Format(&two, false, label, sizeof label)) + label, "0Low");
    EXPECT_EQ("Null buffer", MessageOf([&] { format.Format(&ten, false, nullptr, 3); }));

    // Labels read back as the low value of the line's first range.
    format.AddLine("3-7", "Mid", 0);
    std::int32_t low = 0;
    EXPECT_EQ(0, format.UnFormat("Mid", &low));
    EXPECT_EQ(3, low);
    EXPECT_EQ(-1, format.UnFormat("mid", &low));
}

TEST(KsFormat, QuotedValuesAndCaseInsensitiveLabels) {
    KsFormat format("Letters", 'A');
    format.AddLine("\"a,b\"", "Both");
    format.AddLine("c-e", "Range");
    format.SetCaseSensitive(false);
    EXPECT_EQ("Both", LabelOf(format, "a,b"));
    EXPECT_EQ("Both", LabelOf(format, "A,B"));
    EXPECT_EQ("-", LabelOf(format, "a"));
    EXPECT_EQ("Range", LabelOf(format, "D"));
    char value[KsFormatRange::kMaximumTextLength + 1];
    EXPECT_EQ(1, format.UnFormat("RANGE", value));
    EXPECT_STREQ("c", value);

    KsFormat exact("Letters", 'A');
    exact.AddLine("c-e", "Range");
    EXPECT_EQ("-", LabelOf(exact, "D"));
    EXPECT_EQ(-1, exact.UnFormat("range", value));
}

class KsFormatDictTest : public ::testing::Test {
protected:
    void SetUp() override {
        kstest::WriteWholeFile(file_,
                               "[FormatDataType]\r\nSex=A\r\nScore=N\r\n"
                               "[FormatCaseSensitivity]\r\nSex=false\r\n"
                               "[FormatEditableByUser]\r\nScore=no\r\n"
                               "[Format=Sex]\r\nM=Male\r\nF=Female\r\n"
                               "[Format=Score]\r\n0-<50=Fail\r\n50-100=Pass\r\n"
                               "[Format=Age]\r\n0-17=Minor\r\n18-150=Adult\r\n");
    }
    kstest::TempDir dir_;
    std::string file_ = dir_.File("formats.kfd");
};

TEST_F(KsFormatDictTest, LoadsOnDemandAndKeepsFormatsSortedByName) {
    KsFormatDict dictionary(file_.c_str());
    EXPECT_EQ(0, dictionary.GetNumLoadedFormats());
    KsFormat* sex = dictionary.GetFormat("Sex");
    ASSERT_NE(nullptr, sex);
    EXPECT_EQ('A', sex->GetType());
    EXPECT_EQ("Female", LabelOf(*sex, "f"));
    EXPECT_EQ(sex, dictionary.GetFormat("Sex"));
    KsFormat* score = dictionary.GetFormat("Score");
    EXPECT_FALSE(score->GetEditableByUser());
    EXPECT_EQ("Fail", LabelOf(*score, "49.99"));
    // A type the file names wins over the asked one, and asking again with the other
    // letter reloads the same object instead of freeing the one handed out.
    EXPECT_EQ(score, dictionary.GetFormat("Score", 'I'));
    EXPECT_EQ(score, dictionary.GetFormat("Score", 'I'));
    EXPECT_EQ('N', score->GetType());
    EXPECT_EQ("Fail", LabelOf(*score, "49.99"));
    KsFormat* age = dictionary.GetFormat("Age");
    EXPECT_EQ('I', age->GetType());
    EXPECT_TRUE(age->GetEditableByUser());
    EXPECT_EQ(nullptr, dictionary.GetFormat("None"));
    ASSERT_EQ(3, dictionary.GetNumLoadedFormats());
    EXPECT_EQ("Age Score Sex", std::string(dictionary.GetFormatName(0)) + " " +
                                   dictionary.GetFormatName(1) + " " + dictionary.GetFormatName(2));

    // Another type letter loads the format again; loading a loaded name refreshes it.
    EXPECT_EQ(age, dictionary.GetFormat("Age", 'I'));
    KsFormat* wide = dictionary.GetFormat("Age", 'W');
    EXPECT_EQ('W', wide->GetType());
    EXPECT_EQ(wide, dictionary.LoadFormat("Age", 'W'));
    EXPECT_EQ(2, wide->GetNumLines());
    EXPECT_EQ(3, dictionary.GetNumLoadedFormats());

    KsFormatDict missing(dir_.File("none.kfd").c_str());
    EXPECT_EQ("\"" + dir_.File("none.kfd") + "\" does not exist.",
              MessageOf([&] { missing.GetFormat("Age"); }));
}

TEST_F(KsFormatDictTest, LibrarySearchesItsDictionaries) {
    std::string second = dir_.File("more.kfd");
    kstest::WriteWholeFile(second, "[Format=Yes]\r\n1=Yes\r\n0=No\r\n");
    KsFormatLib library;
    library.AddDictionary(new KsFormatDict(file_.c_str()));
    library.AddDictionary(new KsFormatDict(second.c_str()));
    KsFormat* yes = library.GetFormat("Yes");
    ASSERT_NE(nullptr, yes);
    EXPECT_EQ(yes, library.GetDictionary(1)->GetFormat("Yes"));
    EXPECT_EQ(0, library.GetDictionary(0)->GetNumLoadedFormats());
    EXPECT_EQ(nullptr, library.GetFormat("Nowhere"));

    KsFormatLib loadedOnly(false);
    loadedOnly.AddDictionary(new KsFormatDict(second.c_str()));
    EXPECT_EQ(nullptr, loadedOnly.GetFormat("Yes"));
    loadedOnly.GetDictionary(0)->GetFormat("Yes");
    EXPECT_NE(nullptr, loadedOnly.GetFormat("Yes"));

    KsFormatDict memory;
    EXPECT_EQ(nullptr, memory.GetFormat("Yes"));
    memory.AddFormat(new KsFormat("Own", 'U'));
    EXPECT_STREQ("Own", memory.GetFormat("Own")->GetName());
}

}  // namespace
