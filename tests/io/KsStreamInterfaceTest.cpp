#include "io/KsStreamInterface.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/KsErrorCapture.h"
#include "support/MemoryStream.h"

namespace {

using kstest::CaughtError;
using kstest::ErrorOf;
using kstest::MemoryStream;
using kstest::MessageOf;
using namespace std::string_literals;

TEST(KsStreamInterfaceTest, TypedWritesProduceLittleEndianBytesAndReadBack) {
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
    out.WriteKsHeader('K', 540);
    out.WriteKsHeader('\xE9', -1);
    out.WriteCString("ab");
    out.WriteCString(nullptr);
    out.WriteCString("");
    KsString("abc").Write(out);
    KsString().Write(out);
    // One field after another: bools, shorts, int, long, unsigned long, 64 bits, double,
    // two headers, three C strings (the null one with length 0), two KsStrings.
    EXPECT_EQ(out.Bytes(),
              "\x01\x00\xFE\xFF\x34\x12\x04\x03\x02\x01\xFF\xFF\xFF\xFF\xD4\xC3\xB2\xA1"s
              "\x08\x07\x06\x05\x04\x03\x02\x01\x00\x00\x00\x00\x00\x00\xF0\x3F"s
              "K\x00\x00\x00\x1C\x02\xE9\xFF\xFF\xFF\xFF\xFF"s
              "\x03\x00\x00\x00"
              "ab\0\x00\x00\x00\x00\x01\x00\x00\x00\x00"s
              "\x04\x00\x00\x00"
              "abc\0\x01\x00\x00\x00\0"s);

    MemoryStream in(out.Bytes() + "\x00\x00\x00\x00"s);
    EXPECT_TRUE(in.ReadBool() && !in.ReadBool());
    std::vector<std::int64_t> numbers{in.ReadShort(), in.ReadUnsignedShort(), in.ReadInt(),
                                      in.ReadLong(), in.ReadUnsignedLong()};
    EXPECT_EQ(numbers, (std::vector<std::int64_t>{-2, 0x1234, 0x01020304, -1, 0xA1B2C3D4}));
    EXPECT_EQ(in.ReadUnsignedNative(), 0x0102030405060708ull);
    EXPECT_EQ(in.ReadDouble(), 1.0);
    EXPECT_EQ(in.ReadKsHeader('K'), 540);
    EXPECT_EQ(in.ReadKsHeader('\xE9'), -1);
    char* text = new char[4]{'o', 'l', 'd', '\0'};  // each read releases what it holds
    EXPECT_STREQ(in.ReadCString(text), "ab");
    EXPECT_STREQ(in.ReadCString(text), "");
    EXPECT_STREQ(in.ReadCString(text), "");
    delete[] text;
    KsString string("old");
    string.Read(in);
    std::string texts = string.GetCString();
    string.Read(in);
    texts += "|" + std::string(string.GetCString());
    string.Copy("x");
    string.Read(in);  // the null form
    EXPECT_EQ(texts + "|" + string.GetCString(), "abc||");
}

TEST(KsStreamInterfaceTest, DamagedDataIsRefused) {
    MemoryStream truthy("\x02\x80"s);
    EXPECT_TRUE(truthy.ReadBool() && truthy.ReadBool());  // any non-zero byte
    MemoryStream shortLong("\x01\x02\x03"s);
    EXPECT_EQ(ErrorOf([&] { shortLong.ReadLong(); }),
              "Unable to perform a required read at offset 3 of \"memory\" / MemoryStream / "
              "ReadLong() of KsInputStreamInterface");

    // A stored string that lost its NUL still comes back terminated.
    MemoryStream unterminated("\x02\x00\x00\x00xy"s);
    char* text = nullptr;
    unterminated.ReadCString(text);
    std::unique_ptr<char[]> owner(text);
    EXPECT_STREQ(text, "xy");
    MemoryStream negative("\xFF\xFF\xFF\xFF"s);
    char* none = nullptr;
    EXPECT_STREQ(
        CaughtError<KsIOStreamingException>([&] { negative.ReadCString(none); }).GetErrorMessage(),
        "Invalid string length -1");
    EXPECT_EQ(none, nullptr);
    // A length beyond the data: the error leaves no dangling pointer behind.
    MemoryStream truncated(
        "\x10\x00\x00\x00"
        "abc"s);
    char* partial = new char[1]{};
    EXPECT_EQ(MessageOf([&] { truncated.ReadCString(partial); }),
              "Unable to perform a required read at offset 7 of \"memory\"");
    EXPECT_EQ(partial, nullptr);

    // Only the low byte of a header's marker word counts.
    MemoryStream high("K\x7F\x7F\x7F\x05\x00"s);
    EXPECT_EQ(high.ReadKsHeader('K'), 5);
    MemoryStream wrong("L\x00\x00\x00\x05\x00"s);
    EXPECT_EQ(
        ErrorOf<KsIOStreamingException>([&] { wrong.ReadKsHeader('K'); }),
        "Invalid header found / KsInputStreamInterface / ReadKsHeader() of KsInputStreamInterface");
    EXPECT_EQ(wrong.Position(), 4u);  // the version is not read
}

TEST(KsStreamInterfaceTest, WriteAndReadStringForms) {
    MemoryStream out;
    out.WriteString("x", false);
    out.WriteString("x", true);
    out.WriteLine("x");
    out.WriteString("abc", 5, ';');
    out.WriteString("abcdef", 5, ';');
    out.WriteString("abcde", 5, ';');
    out.WriteString(nullptr, 2, '#');
    out.WriteString(nullptr, 0, '#');
    EXPECT_EQ(out.Bytes(), "xx\0x\r\nabc;abcdeabcde#"s);
    EXPECT_EQ(ErrorOf([&] { out.WriteString(nullptr, false); }),
              "Null pointer passed to WriteString / KsOutputStreamInterface / WriteString() of "
              "KsOutputStreamInterface");

    MemoryStream in("ab;cd\0ef"s);
    KsString text;
    in.ReadString(text, ';');  // keeps its terminator
    EXPECT_STREQ(text.GetCString(), "ab;");
    in.ReadString(text, '\0');
    EXPECT_STREQ(text.GetCString(), "cd");
    EXPECT_EQ(MessageOf([&] { in.ReadString(text, ';'); }),
              "Unable to perform a required read at offset 8 of \"memory\"");
}

// ---- line reading (the buffered file's fast reader is checked against this one) ----

// Each line that ReadLine(KsString&) reads from `bytes`, as "count:text ", up to the end or
// an error, whose message ends the text.
std::string Lines(const std::string& bytes) {
    MemoryStream in(bytes);
    KsString line;
    std::string lines;
    try {
        while (std::uint32_t count = in.ReadLine(line)) {
            lines += std::to_string(count) + ":" + line.GetCString() + " ";
        }
    } catch (const KsException& error) {
        lines += error.GetErrorMessage();
    }
    return lines;
}

TEST(KsStreamInterfaceTest, ReadLineCountsTheBytesOfEachLineEnd) {
    EXPECT_EQ(Lines("a\r\nb\nc\n\r\n"), "3:a 2:b 2:c 2: ");
    EXPECT_EQ(Lines("a\r\nb\nc"), "3:a 2:b 1:c ");
    const std::string lone = "Return character not followed by newline; unknown end of line type";
    EXPECT_EQ(Lines("x\na\rb"), "2:x " + lone);
    EXPECT_EQ(Lines("a\r"), lone);
    MemoryStream in("\r"s);
    KsString line;
    EXPECT_EQ(ErrorOf([&] { in.ReadLine(line); }),
              lone +
                  " / KsInputStreamInterface / ReadLine() of KsInputStreamInterface\r\n"
                  "ReadLine() of KSInputStreamInterface");
    // Long lines come back whole, without the next line.
    for (std::size_t length : {1021u, 1022u, 1023u, 1024u, 2046u, 5000u}) {
        for (std::string end : {"\n", "\r\n"}) {
            std::string text = "A" + std::string(length - 2, 'q') + "Z";
            EXPECT_EQ(Lines(text + end + "next\n"),
                      std::to_string(length + end.size()) + ":" + text + " 5:next ")
                << length << " " << end.size();
        }
    }
}

TEST(KsStreamInterfaceTest, ReadLineIntoABufferGivesPiecesOfSizeMinusOne) {
    MemoryStream in("abcdefg\nhi\r\n"s);
    char buffer[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(in.ReadLine(buffer, 0), 0);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(in.ReadLine(buffer, 1), 0);
    EXPECT_EQ(buffer[0], '\0');
    // The "\n" after a return fills the return's own slot, so "hi\r\n" fits in 4 bytes.
    for (auto [count, text] : {std::pair{3, "abc"}, {3, "def"}, {2, "g"}, {4, "hi"}, {0, ""}}) {
        EXPECT_EQ(in.ReadLine(buffer, 4), count);
        EXPECT_STREQ(buffer, text);
    }
}

TEST(KsStreamInterfaceTest, NulBytesShortenTheTextOfTheirPiece) {
    // A NUL in the last slot of a full piece ends the line there; the rest of the bytes
    // come back as the next line. In a later piece the NUL cuts only that piece's text.
    MemoryStream in("ab\0cd\nxy\n"s + std::string(1022, 'x') + '\0' + "yz\n" +
                    std::string(1500, 'a') + '\0' + "bb\n");
    struct Step {
        unsigned count;
        std::string text;
        bool nul;
    };
    for (const Step& step :
         {Step{6, "ab", true}, Step{3, "xy", false}, Step{1023, std::string(1022, 'x'), true},
          Step{3, "yz", false}, Step{1504, std::string(1500, 'a'), true}}) {
        KsString line;
        bool containsNul = !step.nul;
        EXPECT_EQ(in.ReadLine(line, containsNul), step.count);
        EXPECT_EQ(std::string(line.GetCString()), step.text);
        EXPECT_EQ(containsNul, step.nul);
    }
}

}  // namespace
