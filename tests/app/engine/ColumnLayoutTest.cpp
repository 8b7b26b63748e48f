#include "ColumnLayout.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "support/FaultInjectingFile.h"
#include "support/TempDir.h"

namespace {

using kstest::ReadWholeFile;
using kstest::WriteWholeFile;

// Splits a line at its commas.
std::vector<std::string> Split(const std::string& line) {
    std::vector<std::string> fields(1);
    for (char c : line) {
        if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

std::vector<std::uint32_t> WidthsOf(const std::string& line) {
    std::vector<std::uint32_t> widths;
    for (const std::string& field : Split(line)) {
        widths.push_back(static_cast<std::uint32_t>(field.size()));
    }
    return widths;
}

// What the width check must find in the lines of a conversion that succeeds: the first
// record's widths, and "field,firstRecord,firstWidth,record,width,firstFields,fields,line"
// of the first record that differs from it.
struct Expected {
    std::vector<std::uint32_t> widths;
    std::string mismatch;
};

Expected Reference(const std::vector<std::string>& records, std::int64_t firstLine) {
    Expected expected;
    for (std::size_t r = 0; r < records.size(); ++r) {
        const std::vector<std::uint32_t> widths = WidthsOf(records[r]);
        if (r == 0) {
            expected.widths = widths;
            continue;
        }
        if (widths == expected.widths) {
            continue;
        }
        std::size_t field = 0;
        while (field < widths.size() && field < expected.widths.size() &&
               widths[field] == expected.widths[field]) {
            ++field;
        }
        auto at = [field](const std::vector<std::uint32_t>& w) {
            return std::to_string(field < w.size() ? w[field] : 0);
        };
        expected.mismatch = std::to_string(field + 1) + ",1," + at(expected.widths) + "," +
                            std::to_string(r + 1) + "," + at(widths) + "," +
                            std::to_string(expected.widths.size()) + "," +
                            std::to_string(widths.size()) + "," +
                            std::to_string(firstLine + static_cast<std::int64_t>(r));
        break;
    }
    return expected;
}

std::string Text(const std::optional<FieldWidthMismatch>& m) {
    if (!m) {
        return "";
    }
    return std::to_string(m->field) + "," + std::to_string(m->firstRecord) + "," +
           std::to_string(m->firstWidth) + "," + std::to_string(m->record) + "," +
           std::to_string(m->width) + "," + std::to_string(m->firstFields) + "," +
           std::to_string(m->fields) + "," + std::to_string(m->lineNumber);
}

class ColumnLayoutTest : public ::testing::Test {
protected:
    kstest::TempDir dir;
    std::string in = dir.File("in.csv");
    std::string out = dir.File("out.txt");
    std::string layout = dir.File("out.layout.csv");
    ConversionObserver observer;

    ConversionOptions Options(bool dropHeader, std::uint16_t header) {
        return {.inputFile = in,
                .outputFile = out,
                .removeColumnHeaders = dropHeader,
                .insertHeaderField = header > 0,
                .headerSize = header,
                .checkFieldWidths = true};
    }
};

// Records of one length whose commas move now and then (one place either way, or one
// comma more, or one field's character moved to another), in blocks as small as a byte:
// the check finds the first record that differs, and the output is the one an unchecked
// run writes.
TEST_F(ColumnLayoutTest, RandomRecordsMatchAFieldByFieldReference) {
    std::mt19937 random(20261208);
    auto upTo = [&random](int most) { return std::uniform_int_distribution<int>(0, most)(random); };
    for (int round = 0; round < 1500; ++round) {
        std::vector<int> widths(static_cast<std::size_t>(1 + upTo(round % 10 == 0 ? 30 : 6)));
        for (int& w : widths) {
            w = upTo(3);
        }
        std::vector<std::string> records;
        for (int r = upTo(6); r >= 0; --r) {
            std::string line;
            for (std::size_t f = 0; f < widths.size(); ++f) {
                line += (f > 0 ? "," : "") +
                        std::string(static_cast<std::size_t>(widths[f]), "xyz9"[upTo(3)]);
            }
            const auto at = static_cast<std::size_t>(upTo(static_cast<int>(line.size())));
            switch (records.empty() ? 0 : upTo(12)) {
                case 1:  // a comma one place on
                    if (at + 1 < line.size() && (line[at] == ',') != (line[at + 1] == ',')) {
                        std::swap(line[at], line[at + 1]);
                    }
                    break;
                case 2:  // one comma more
                    line.insert(at, 1, ',');
                    break;
                case 3:  // a field's character moved to the end
                    if (line.find_first_not_of(',') != std::string::npos) {
                        line.erase(line.find_first_not_of(','), 1);
                        line += 'q';
                    }
                    break;
                default:
                    break;
            }
            records.push_back(line.find(',') == std::string::npos ? line + "," : line);
        }
        // Records of another length fail the conversion: they are not this test's concern.
        for (std::string& record : records) {
            const auto kept = [](const std::string& l) {
                return l.size() - static_cast<std::size_t>(std::count(l.begin(), l.end(), ','));
            };
            while (kept(record) < kept(records[0])) {
                record += 'p';
            }
            while (kept(record) > kept(records[0])) {
                record.erase(record.find_last_not_of(','), 1);
            }
        }
        const bool dropHeader = upTo(1) == 0;
        const std::string header = dropHeader ? " A ,B,,A\r\n" : "";
        const bool mark = upTo(3) == 0;
        std::string input = (mark ? "\xEF\xBB\xBF" : "") + header;
        for (const std::string& record : records) {
            input += record + (upTo(1) == 0 ? "\n" : "\r\n");
        }
        std::filesystem::remove(in);
        WriteWholeFile(in, input);
        ConversionOptions options = Options(dropHeader, static_cast<std::uint16_t>(upTo(2)));
        options.blockSize = std::vector<std::size_t>{1, 3, 8, 64, 4096}[random() % 5];
        const ConversionResult result = ConvertFile(options, observer);
        const std::string checked = ReadWholeFile(out);
        options.checkFieldWidths = false;
        ConvertFile(options, observer);
        ASSERT_EQ(checked, ReadWholeFile(out)) << input;

        const Expected expected = Reference(records, dropHeader ? 2 : 1);
        ASSERT_EQ(result.fieldWidths, expected.widths) << input;
        ASSERT_EQ(Text(result.widthMismatch), expected.mismatch) << input;
        const std::vector<std::string> names =
            dropHeader ? std::vector<std::string>{" A ", "B", "", "A"} : std::vector<std::string>();
        ASSERT_EQ(result.columnNames, names) << input;
    }
}

// A name that needs quotes, an empty one, a repeated one, one the header line lacks, a
// field empty in every record and a name in UTF-8, in each of the three formats.
TEST_F(ColumnLayoutTest, EachFormatOfAnAwkwardLayout) {
    ConversionResult result;
    result.fieldWidths = {3, 0, 2, 1, 1, 4};
    result.columnNames = {" id ", "", "say \"hi\", then", "id", "Größe"};
    ConversionOptions options = Options(true, 10);
    options.outputFile = "data/a \"b\".txt";
    const std::vector<ColumnLayoutEntry> entries = MakeColumnLayout(options, result);

    const std::string csv = FormatColumnLayout(entries, ColumnLayoutFormat::kCsv, "x");
    EXPECT_EQ(csv,
              "field,name,start,end,width\n"
              "0,Scanner header,1,10,10\n"
              "1,id,11,13,3\n"
              "2,Field2,14,13,0\n"
              "3,\"say \"\"hi\"\", then\",14,15,2\n"
              "4,Field4,16,16,1\n"
              "5,Größe,17,17,1\n"
              "6,Field6,18,21,4\n");
    // Read back as RFC 4180 says, the file gives the entries.
    std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
    bool quoted = false;
    for (std::size_t i = 0; i < csv.size(); ++i) {
        const char c = csv[i];
        if (quoted && c == '"' && i + 1 < csv.size() && csv[i + 1] == '"') {
            rows.back().back() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && c == ',') {
            rows.back().emplace_back();
        } else if (!quoted && c == '\n') {
            rows.emplace_back(1);
        } else {
            rows.back().back() += c;
        }
    }
    rows.pop_back();
    ASSERT_EQ(rows.size(), entries.size() + 1);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const ColumnLayoutEntry& e = entries[i];
        EXPECT_EQ(rows[i + 1], (std::vector<std::string>{
                                   std::to_string(e.field), e.name, std::to_string(e.start),
                                   std::to_string(e.end), std::to_string(e.width)}));
    }

    EXPECT_EQ(FormatColumnLayout(entries, ColumnLayoutFormat::kText, "x"),
              "Field  Name            Start  End  Width\n"
              "    0  Scanner header      1   10     10\n"
              "    1  id                 11   13      3\n"
              "    2  Field2             14   13      0\n"
              "    3  say \"hi\", then     14   15      2\n"
              "    4  Field4             16   16      1\n"
              "    5  Größe              17   17      1\n"
              "    6  Field6             18   21      4\n");
    EXPECT_EQ(
        FormatColumnLayout(entries, ColumnLayoutFormat::kR, options.outputFile),
        "# The fixed-width file \"data/a \\\"b\\\".txt\" read into a data frame.\n"
        "# Empty in every record, so left out: Field2.\n"
        "read.fwf(\"data/a \\\"b\\\".txt\",\n"
        "         widths = c(10, 3, 2, 1, 1, 4),\n"
        "         col.names = c(\"Scanner header\", \"id\", \"say \\\"hi\\\", then\", \"Field4\",\n"
        "                       \"Größe\", \"Field6\"),\n"
        "         colClasses = \"character\", check.names = FALSE)\n");
}

TEST_F(ColumnLayoutTest, FileNamesAndFormatNames) {
    for (auto [output, layoutFile] : std::initializer_list<std::pair<const char*, const char*>>{
             {"answers.txt", "answers.layout.csv"},
             {"answers", "answers.layout.csv"},
             {"a.b/answers", "a.b/answers.layout.csv"},
             {"a/.answers", "a/.answers.layout.csv"},
             {"answers.v2.dat", "answers.v2.layout.csv"},
         }) {
        EXPECT_EQ(DefaultColumnLayoutFile(output), layoutFile);
    }
    EXPECT_EQ(ParseColumnLayoutFormat("csv"), ColumnLayoutFormat::kCsv);
    EXPECT_EQ(ParseColumnLayoutFormat("text"), ColumnLayoutFormat::kText);
    EXPECT_EQ(ParseColumnLayoutFormat("r"), ColumnLayoutFormat::kR);
    EXPECT_FALSE(ParseColumnLayoutFormat("R"));
    EXPECT_FALSE(ParseColumnLayoutFormat(""));
}

// A layout is written whole or not at all, replaces the old one, follows a link, and goes
// when the records have none; a device named as the layout is written, never removed.
TEST_F(ColumnLayoutTest, WritingReplacingAndRemovingTheFile) {
    auto convert = [&](const std::string& input) {
        std::filesystem::remove(in);
        WriteWholeFile(in, input);
        return ConvertFile(Options(true, 2), observer);
    };
    auto refusal = [&](const ConversionResult& result, const std::string& file) {
        try {
            WriteColumnLayout(Options(true, 2), result, file, ColumnLayoutFormat::kCsv);
        } catch (const ConversionDataError& e) {
            return std::string(e.GetErrorMessage()) + " (" + e.GetClassName() + ") line " +
                   std::to_string(e.GetLineNumber());
        }
        return std::string("written");
    };
    const std::string good =
        "field,name,start,end,width\n0,Scanner header,1,2,2\n1,Q1,3,4,2\n"
        "2,Field2,5,5,1\n";
    ConversionResult result = convert("Q1,\n12,3\n45,6\n");
    EXPECT_EQ(refusal(result, layout), "written");
    EXPECT_EQ(ReadWholeFile(layout), good);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 3);

    result = convert("Q1,Q2\n12,3\n4,56\n");
    EXPECT_EQ(refusal(result, layout),
              "Field 1 (\"Q1\") is 2 columns wide in record 1 but 1 in record 2, so the "
              "records have no common column layout; \"" +
                  layout + "\" was not written. (Column Layout) line 3");
    EXPECT_FALSE(std::filesystem::exists(layout));
    result = convert("Q1,Q2\n1,2\n1,2,\n");
    EXPECT_EQ(refusal(result, layout),
              "Record 2 has 3 fields but record 1 has 2, so the records have no common column "
              "layout; \"" +
                  layout + "\" was not written. (Column Layout) line 3");
    result = convert("Q1,Q2\n");
    EXPECT_EQ(refusal(result, layout), "\"" + in +
                                           "\" has no records, so it has no column layout; \"" +
                                           layout + "\" was not written. (Column Layout) line 0");
    WriteWholeFile(layout, "old");
    result = convert("Q1,\n12,3\n");
    result.cancelled = true;
    EXPECT_EQ(refusal(result, layout), "written");
    EXPECT_FALSE(std::filesystem::exists(layout));
    EXPECT_EQ(refusal(convert("Q1,Q2\n1,2\n12,\n"), "/dev/null"),
              "Field 1 (\"Q1\") is 1 column wide in record 1 but 2 in record 2, so the records "
              "have no common column layout; \"/dev/null\" was not written. (Column Layout) "
              "line 3");
    EXPECT_TRUE(std::filesystem::exists("/dev/null"));

    // Through a link, the file it names gets the layout.
    WriteWholeFile(dir.File("real.csv"), "old");
    std::filesystem::create_symlink(dir.File("real.csv"), dir.File("link.csv"));
    EXPECT_EQ(refusal(convert("Q1,\n12,3\n"), dir.File("link.csv")), "written");
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.csv")));
    EXPECT_EQ(ReadWholeFile(dir.File("real.csv")), good);

    // A write that fails leaves the old layout; a rename that fails, none. Nothing is left
    // beside them.
    for (kstest::FaultOp op : {kstest::FaultOp::kFlush, kstest::FaultOp::kRename}) {
        WriteWholeFile(layout, "old");
        kstest::FaultInjectingFactory full;
        full.Plan().Fail(op, 1, ENOSPC, true);
        EXPECT_THROW(WriteColumnLayout(Options(true, 2), convert("Q1,\n12,3\n"), layout,
                                       ColumnLayoutFormat::kCsv, full),
                     KsException);
        EXPECT_EQ(std::filesystem::exists(layout) ? ReadWholeFile(layout) : "none",
                  op == kstest::FaultOp::kFlush ? "old" : "none");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}),
                  op == kstest::FaultOp::kFlush ? 5 : 4);
    }
}

// The bundled example's layout, as checked into the examples.
TEST_F(ColumnLayoutTest, TheBundledExample) {
    ConversionOptions options = Options(true, 50);
    options.inputFile = EXAMPLES_DIR "/questionnaire.csv";
    const ConversionResult result = ConvertFile(options, observer);
    EXPECT_EQ(FormatColumnLayout(MakeColumnLayout(options, result), ColumnLayoutFormat::kCsv, out),
              ReadWholeFile(EXAMPLES_DIR "/questionnaire.layout.csv"));
}

}  // namespace
