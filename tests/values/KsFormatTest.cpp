#include "KsFormat.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "KsErrorCapture.h"
#include "TempDir.h"

namespace {

using kstest::CaughtError;
using kstest::MessageOf;

// The label of a value given as text, or "-" when no line holds it.
std::string LabelOf(const KsFormat& format, const char* value) {
    KsString label;
    return format.Format(value, label) >= 0 ? label.GetCString() : "-";
}

TEST(KsFormatLine, RangesAndExclusiveBounds) {
    KsFormatLine line("1-3,7,9<-<12,20<-22,30-<32", "x", 'I');
    ASSERT_EQ(5, line.GetNumRanges());
    EXPECT_EQ(KsFormatRange::kClosed, line.GetRange(0)->GetKind());
    EXPECT_EQ(KsFormatRange::kSingle, line.GetRange(1)->GetKind());
    EXPECT_EQ(KsFormatRange::kOpen, line.GetRange(2)->GetKind());
    EXPECT_EQ(KsFormatRange::kLowOpen, line.GetRange(3)->GetKind());
    EXPECT_EQ(KsFormatRange::kHighOpen, line.GetRange(4)->GetKind());
    std::string held;
    for (std::int32_t v = 0; v <= 33; ++v) {
        if (line.GetIsInFormatLine(&v, 'I', false)) {
            held += std::to_string(v) + " ";
        }
    }
    EXPECT_EQ("1 2 3 7 10 11 21 22 30 31 ", held);
    EXPECT_TRUE(line.GetIsInFormatLine("7", 'I', true));
    EXPECT_EQ("\"x\" is not a valid long",
              MessageOf([&] { line.GetIsInFormatLine("x", 'I', true); }));
    EXPECT_EQ("Index 5 out of range; array is from 0 to 4", MessageOf([&] { line.GetRange(5); }));
}

TEST(KsFormatLine, NegativeNumbersBlankRangesAndTrailingDashes) {
    KsFormatLine line("-5--2, -1, 8-", "x", 'I');
    ASSERT_EQ(3, line.GetNumRanges());
    EXPECT_EQ(-5, line.GetRange(0)->GetLowNumber());
    EXPECT_EQ(-2, line.GetRange(0)->GetHighNumber());
    EXPECT_EQ(-1, line.GetRange(1)->GetLowNumber());
    EXPECT_EQ(8, line.GetRange(2)->GetLowNumber());
    EXPECT_EQ(KsFormatRange::kSingle, line.GetRange(2)->GetKind());

    KsFormatLine blank("", "missing", 'S');
    ASSERT_EQ(1, blank.GetNumRanges());
    EXPECT_EQ(-32768, blank.GetRange(0)->GetLowNumber());
    KsFormatLine blankNumber("", "missing", 'N');
    EXPECT_EQ(-1.0e30, blankNumber.GetRange(0)->GetLowNumber());
    KsFormatLine empty;
    EXPECT_EQ(0, empty.GetNumRanges());
    EXPECT_STREQ("", empty.GetLabel());

    EXPECT_EQ("Invalid character type", MessageOf([] { KsFormatLine bad("1", "x", 'Q'); }));
    EXPECT_EQ("Invalid format range",
              MessageOf([] { KsFormatLine longText(std::string(33, 'a').c_str(), "x", 'A'); }));
    EXPECT_EQ("Invalid format range", MessageOf([] { KsFormatRange range(nullptr, "b", 1); }));
}

TEST(KsFormat, LowAndHighLabelsOfAnIntegerFormat) {
    KsFormat format("Level", 'I');
    format.AddLine("1-5", "Low");
    format.AddLine("6<-10", "High");
    EXPECT_EQ("Low", LabelOf(format, "5"));
    EXPECT_EQ("-", LabelOf(format, "6"));
    EXPECT_EQ("High", LabelOf(format, "7"));
    std::int32_t six = 6;
    char label[8] = "unset";
    EXPECT_EQ(-1, format.Format(&six, false, label, sizeof label));
    EXPECT_STREQ("unset", label);
    std::int32_t ten = 10;
    EXPECT_EQ(1, format.Format(&ten, false, label, 3));
    EXPECT_STREQ("Hi", label);
    EXPECT_EQ("Null buffer", MessageOf([&] { format.Format(&ten, false, nullptr, 3); }));

    format.AddLine("3-7", "Mid", 0);
    std::int32_t low = 0;
    EXPECT_EQ(0, format.UnFormat("Mid", &low));
    EXPECT_EQ(3, low);
    EXPECT_EQ(-1, format.UnFormat("mid", &low));
    EXPECT_STREQ("Format=Level", format.CreateFormatHeader().GetCString());
}

TEST(KsFormat, QuotedSpecificationsAndCaseInsensitiveLabels) {
    KsFormat format("Letters", 'A');
    format.SetCaseSensitive(false);
    format.AddLine("\"a,b\"", "Both");
    format.AddLine("c-e", "Range");
    EXPECT_EQ("Both", LabelOf(format, "a,b"));
    EXPECT_EQ("Both", LabelOf(format, "A,B"));
    EXPECT_EQ("-", LabelOf(format, "a"));
    EXPECT_EQ("-", LabelOf(format, "b"));
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
                               "[FormatDataType]\r\n"
                               "Sex=A\r\n"
                               "Score=N\r\n"
                               "[FormatCaseSensitivity]\r\n"
                               "Sex=false\r\n"
                               "[FormatEditableByUser]\r\n"
                               "Score=no\r\n"
                               "[Format=Sex]\r\n"
                               "M=Male\r\n"
                               "F=Female\r\n"
                               "[Format=Score]\r\n"
                               "0-<50=Fail\r\n"
                               "50-100=Pass\r\n"
                               "[Format=Age]\r\n"
                               "0-17=Minor\r\n"
                               "18-150=Adult\r\n");
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
    EXPECT_FALSE(sex->GetCaseSensitive());
    EXPECT_EQ("Female", LabelOf(*sex, "f"));
    EXPECT_EQ(sex, dictionary.GetFormat("Sex"));

    KsFormat* score = dictionary.GetFormat("Score");
    EXPECT_EQ('N', score->GetType());
    EXPECT_FALSE(score->GetEditableByUser());
    EXPECT_EQ("Fail", LabelOf(*score, "49.99"));
    KsFormat* age = dictionary.GetFormat("Age");
    EXPECT_EQ('I', age->GetType());
    EXPECT_TRUE(age->GetEditableByUser());
    ASSERT_EQ(3, dictionary.GetNumLoadedFormats());
    EXPECT_STREQ("Age", dictionary.GetFormatName(0));
    EXPECT_STREQ("Score", dictionary.GetFormatName(1));
    EXPECT_STREQ("Sex", dictionary.GetFormatName(2));

    EXPECT_EQ(nullptr, dictionary.GetFormat("None"));
    EXPECT_EQ(-1, dictionary.GetLoadedFormatIndex("None"));
    EXPECT_EQ(3, dictionary.GetNumLoadedFormats());
}

TEST_F(KsFormatDictTest, AnotherTypeLetterReloadsTheFormat) {
    KsFormatDict dictionary(file_.c_str());
    KsFormat* age = dictionary.GetFormat("Age");
    EXPECT_EQ(age, dictionary.GetFormat("Age", 'I'));
    KsFormat* wide = dictionary.GetFormat("Age", 'W');
    ASSERT_NE(nullptr, wide);
    EXPECT_EQ('W', wide->GetType());
    EXPECT_EQ(1, dictionary.GetNumLoadedFormats());
    // A type the file names wins over the asked one.
    EXPECT_EQ('N', dictionary.GetFormat("Score", 'I')->GetType());

    // Loading a loaded name again refreshes the same object.
    KsFormat* again = dictionary.LoadFormat("Age", 'W');
    EXPECT_EQ(wide, again);
    EXPECT_EQ(2, again->GetNumLines());
    dictionary.UnloadFormat(0);
    EXPECT_EQ(1, dictionary.GetNumLoadedFormats());
    EXPECT_EQ("Index 4 out of range; array is from 0 to 0",
              MessageOf([&] { dictionary.UnloadFormat(4); }));
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
    EXPECT_EQ("Index 1 out of range; array is from 0 to 0",
              MessageOf([&] { loadedOnly.GetDictionary(1); }));

    KsFormatDict memory;
    EXPECT_EQ(nullptr, memory.GetFormat("Yes"));
    memory.AddFormat(new KsFormat("Own", 'U'));
    EXPECT_STREQ("Own", memory.GetFormat("Own")->GetName());
    EXPECT_EQ(0, KsDefaultFormatLib().GetNumDictionaries());
}

TEST_F(KsFormatDictTest, MissingDictionaryFileIsReported) {
    KsFormatDict dictionary(dir_.File("none.kfd").c_str());
    KsException error = CaughtError([&] { dictionary.GetFormat("Age"); });
    EXPECT_EQ("\"" + dir_.File("none.kfd") + "\" does not exist.", error.GetErrorMessage());
}

}  // namespace
