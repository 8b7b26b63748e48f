#include "KsStreamInterface.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "KsErrorCapture.h"
#include "MemoryStream.h"

namespace {

using kstest::CaughtError;
using kstest::MemoryStream;
using kstest::MessageOf;
using namespace std::string_literals;

TEST(KsStreamInterfaceTest, TypedWritesProduceLittleEndianBytes) {
    MemoryStream out;
    out.WriteBool(true);
    out.WriteBool(false);
    out.WriteShort(-2);
    out.WriteUnsignedShort(0x1234);
    out.WriteInt(0x01020304);
    out.WriteLong(-1);
    out.WriteUnsignedLong(0xA1B2C3D4u);
    out.WriteUnsignedNative(0x0102030405060708ull);
    out.WriteDouble(1.0);
    EXPECT_EQ(out.Bytes(),
              "\x01\x00"s
              "\xFE\xFF"s
              "\x34\x12"s
              "\x04\x03\x02\x01"s
              "\xFF\xFF\xFF\xFF"s
              "\xD4\xC3\xB2\xA1"s
              "\x08\x07\x06\x05\x04\x03\x02\x01"s
              "\x00\x00\x00\x00\x00\x00\xF0\x3F"s);

    MemoryStream in(out.Bytes());
    EXPECT_TRUE(in.ReadBool());
    EXPECT_FALSE(in.ReadBool());
    EXPECT_EQ(in.ReadShort(), -2);
    EXPECT_EQ(in.ReadUnsignedShort(), 0x1234);
    EXPECT_EQ(in.ReadInt(), 0x01020304);
    EXPECT_EQ(in.ReadLong(), -1);
    EXPECT_EQ(in.ReadUnsignedLong(), 0xA1B2C3D4u);
    EXPECT_EQ(in.ReadUnsignedNative(), 0x0102030405060708ull);
    EXPECT_EQ(in.ReadDouble(), 1.0);
}

TEST(KsStreamInterfaceTest, AnyNonZeroByteReadsAsTrue) {
    MemoryStream in("\x02\x80"s);
    EXPECT_TRUE(in.ReadBool());
    EXPECT_TRUE(in.ReadBool());
}

TEST(KsStreamInterfaceTest, ShortTypedReadIsAnErrorWithCallPath) {
    MemoryStream in("\x01\x02\x03"s);
    KsException error = CaughtError([&] { in.ReadLong(); });
    EXPECT_STREQ(error.GetErrorMessage(),
                 "Unable to perform a required read at offset 3 of \"memory\"");
    EXPECT_STREQ(error.GetCallpath(), "ReadLong() of KsInputStreamInterface");
}

TEST(KsStreamInterfaceTest, CStringsCarryTheirLengthAndNul) {
    MemoryStream out;
    out.WriteCString("ab");
    out.WriteCString(nullptr);
    out.WriteCString("");
    EXPECT_EQ(out.Bytes(),
              "\x03\x00\x00\x00"
              "ab\0"s
              "\x00\x00\x00\x00"s
              "\x01\x00\x00\x00\x00"s);

    MemoryStream in(out.Bytes());
    char* text = new char[4]{'o', 'l', 'd', '\0'};  // each read releases what it holds
    EXPECT_STREQ(in.ReadCString(text), "ab");
    EXPECT_STREQ(in.ReadCString(text), "");
    EXPECT_STREQ(in.ReadCString(text), "");
    delete[] text;
}

TEST(KsStreamInterfaceTest, DamagedCStringLengthsAreRefused) {
    // A stored string that lost its NUL still comes back terminated.
    MemoryStream unterminated("\x02\x00\x00\x00xy"s);
    char* text = nullptr;
    unterminated.ReadCString(text);
    std::unique_ptr<char[]> owner(text);
    EXPECT_STREQ(text, "xy");

    MemoryStream negative("\xFF\xFF\xFF\xFF"s);
    char* none = nullptr;
    KsIOStreamingException error =
        CaughtError<KsIOStreamingException>([&] { negative.ReadCString(none); });
    EXPECT_STREQ(error.GetErrorMessage(), "Invalid string length -1");
    EXPECT_EQ(none, nullptr);

    // A length beyond the data: the error leaves no dangling pointer behind.
    MemoryStream truncated(
        "\x10\x00\x00\x00"
        "abc"s);
    char* partial = new char[1]{};
    EXPECT_EQ(MessageOf([&] { truncated.ReadCString(partial); }),
              "Unable to perform a required read at offset 7 of \"memory\"");
    EXPECT_EQ(partial, nullptr);
}

TEST(KsStreamInterfaceTest, HeadersHoldMarkerAndVersion) {
    MemoryStream out;
    out.WriteKsHeader('K', 540);
    out.WriteKsHeader('\xE9', -1);
    EXPECT_EQ(out.Bytes(),
              "K\x00\x00\x00\x1C\x02"s
              "\xE9\xFF\xFF\xFF\xFF\xFF"s);

    MemoryStream in(out.Bytes());
    EXPECT_EQ(in.ReadKsHeader('K'), 540);
    EXPECT_EQ(in.ReadKsHeader('\xE9'), -1);

    // Only the low byte of the marker word counts.
    MemoryStream high("K\x7F\x7F\x7F\x05\x00"s);
    EXPECT_EQ(high.ReadKsHeader('K'), 5);

    MemoryStream wrong("L\x00\x00\x00\x05\x00"s);
    KsIOStreamingException error =
        CaughtError<KsIOStreamingException>([&] { wrong.ReadKsHeader('K'); });
    EXPECT_STREQ(error.GetErrorMessage(), "Invalid header found");
    EXPECT_STREQ(error.GetClassName(), "KsInputStreamInterface");
    EXPECT_EQ(wrong.Position(), 4u);  // the version is not read
}

TEST(KsStreamInterfaceTest, WriteStringForms) {
    MemoryStream out;
    out.WriteString("x", false);
    out.WriteString("x", true);
    out.WriteLine("x");
    out.WriteString("abc", 5, ';');
    out.WriteString("abcdef", 5, ';');
    out.WriteString("abcde", 5, ';');
    out.WriteString(nullptr, 2, '#');
    out.WriteString(nullptr, 0, '#');
    EXPECT_EQ(out.Bytes(),
              "x"
              "x\0"
              "x\r\n"
              "abc;"
              "abcde"
              "abcde"
              "#"s);

    KsException error = CaughtError([&] { out.WriteString(nullptr, false); });
    EXPECT_STREQ(error.GetErrorMessage(), "Null pointer passed to WriteString");
    EXPECT_STREQ(error.GetClassName(), "KsOutputStreamInterface");
}

TEST(KsStreamInterfaceTest, ReadStringKeepsItsTerminator) {
    MemoryStream in("ab;cd\0ef"s);
    KsString text;
    in.ReadString(text, ';');
    EXPECT_STREQ(text.GetCString(), "ab;");
    in.ReadString(text, '\0');
    EXPECT_STREQ(text.GetCString(), "cd");
    EXPECT_EQ(MessageOf([&] { in.ReadString(text, ';'); }),
              "Unable to perform a required read at offset 8 of \"memory\"");
}

TEST(KsStreamInterfaceTest, KsStringStreamForm) {
    MemoryStream out;
    KsString("abc").Write(out);
    KsString().Write(out);
    EXPECT_EQ(out.Bytes(),
              "\x04\x00\x00\x00"
              "abc\0"
              "\x01\x00\x00\x00\0"s);
    MemoryStream in(out.Bytes() + "\x00\x00\x00\x00"s);
    KsString text("old");
    text.Read(in);
    EXPECT_STREQ(text.GetCString(), "abc");
    text.Read(in);
    EXPECT_STREQ(text.GetCString(), "");
    text.Copy("x");
    text.Read(in);  // the null form
    EXPECT_STREQ(text.GetCString(), "");
}

// ---- line reading ----

TEST(KsStreamInterfaceTest, ReadLineCountsTheBytesOfEachLineEnd) {
    MemoryStream in("a\r\nb\nc"s);
    KsString line;
    EXPECT_EQ(in.ReadLine(line), 3u);
    EXPECT_STREQ(line.GetCString(), "a");
    EXPECT_EQ(in.ReadLine(line), 2u);
    EXPECT_STREQ(line.GetCString(), "b");
    EXPECT_EQ(in.ReadLine(line), 1u);
    EXPECT_STREQ(line.GetCString(), "c");
    EXPECT_EQ(in.ReadLine(line), 0u);
    EXPECT_STREQ(line.GetCString(), "");

    MemoryStream empty("\n\r\n"s);
    EXPECT_EQ(empty.ReadLine(line), 1u);
    EXPECT_EQ(empty.ReadLine(line), 2u);
    EXPECT_STREQ(line.GetCString(), "");
    EXPECT_EQ(empty.ReadLine(line), 0u);
}

TEST(KsStreamInterfaceTest, ALoneReturnIsAnError) {
    for (std::string bytes : {"a\rb"s, "a\r"s}) {
        MemoryStream in(bytes);
        KsString line;
        KsException error = CaughtError([&] { in.ReadLine(line); });
        EXPECT_STREQ(error.GetErrorMessage(),
                     "Return character not followed by newline; unknown end of line type");
        EXPECT_STREQ(error.GetClassName(), "KsInputStreamInterface");
        EXPECT_STREQ(
            error.GetCallpath(),
            "ReadLine() of KsInputStreamInterface\r\nReadLine() of KSInputStreamInterface");
    }
}

TEST(KsStreamInterfaceTest, LongLinesComeBackWholeWithoutTheNextLine) {
    struct Case {
        std::size_t length;
        std::string end;
    };
    for (const Case& c :
         {Case{1021, "\r\n"}, Case{1022, "\n"}, Case{1022, "\r\n"}, Case{1023, "\n"},
          Case{1023, "\r\n"}, Case{1024, "\n"}, Case{2046, "\n"}, Case{5000, "\n"}}) {
        std::string text(c.length, 'q');
        text[0] = 'A';
        text[c.length - 1] = 'Z';
        MemoryStream in(text + c.end + "next\n");
        KsString line;
        EXPECT_EQ(in.ReadLine(line), c.length + c.end.size()) << c.length;
        EXPECT_EQ(std::string(line.GetCString()), text) << c.length;
        EXPECT_EQ(in.ReadLine(line), 5u);
        EXPECT_STREQ(line.GetCString(), "next");
    }
}

TEST(KsStreamInterfaceTest, ReadLineIntoABufferGivesPiecesOfSizeMinusOne) {
    MemoryStream in("abcdefg\nhi\r\n"s);
    char buffer[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(in.ReadLine(buffer, 0), 0);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(in.ReadLine(buffer, 1), 0);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(in.ReadLine(buffer, 4), 3);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(in.ReadLine(buffer, 4), 3);
    EXPECT_STREQ(buffer, "def");
    EXPECT_EQ(in.ReadLine(buffer, 4), 2);
    EXPECT_STREQ(buffer, "g");
    // The "\n" after a return fills the return's own slot, so "hi\r\n" fits in 4 bytes.
    EXPECT_EQ(in.ReadLine(buffer, 4), 4);
    EXPECT_STREQ(buffer, "hi");
    EXPECT_EQ(in.ReadLine(buffer, 4), 0);
    EXPECT_STREQ(buffer, "");
}

TEST(KsStreamInterfaceTest, NulBytesShortenTheTextOfTheirPiece) {
    MemoryStream in("ab\0cd\nxy\n"s);
    KsString line;
    bool containsNul = false;
    EXPECT_EQ(in.ReadLine(line, containsNul), 6u);
    EXPECT_STREQ(line.GetCString(), "ab");
    EXPECT_TRUE(containsNul);
    EXPECT_EQ(in.ReadLine(line, containsNul), 3u);
    EXPECT_STREQ(line.GetCString(), "xy");
    EXPECT_FALSE(containsNul);

    // A NUL in the last slot of a full piece ends the line there; the rest of the bytes
    // come back as the next line.
    std::string bytes = std::string(1022, 'x') + '\0' + "yz\n";
    MemoryStream split(bytes);
    EXPECT_EQ(split.ReadLine(line, containsNul), 1023u);
    EXPECT_EQ(std::string(line.GetCString()), std::string(1022, 'x'));
    EXPECT_TRUE(containsNul);
    EXPECT_EQ(split.ReadLine(line, containsNul), 3u);
    EXPECT_STREQ(line.GetCString(), "yz");

    // In a later piece the NUL cuts only that piece's text.
    std::string later = std::string(1500, 'a') + '\0' + "bb\n";
    MemoryStream tail(later);
    EXPECT_EQ(tail.ReadLine(line, containsNul), 1504u);
    EXPECT_EQ(std::string(line.GetCString()), std::string(1500, 'a'));
    EXPECT_TRUE(containsNul);
}

}  // namespace
