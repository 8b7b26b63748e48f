// Random sequences of seeks, reads, writes, positioned transfers, truncations, flushes and
// buffer-size changes on a buffered file, checked step by step against a plain byte string,
// and the line reading of the buffered file checked against byte-at-a-time reading.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "KsIO.h"
#include "MemoryStream.h"
#include "TempDir.h"

namespace {

using kstest::MemoryStream;

// What the file must hold and where its position must be.
struct Model {
    std::string bytes;
    std::size_t position = 0;

    void WriteAt(std::size_t at, const std::string& data) {
        if (data.empty()) {
            return;  // writing nothing extends nothing
        }
        if (bytes.size() < at + data.size()) {
            bytes.resize(at + data.size(), '\0');
        }
        bytes.replace(at, data.size(), data);
    }
    std::string ReadAt(std::size_t at, std::size_t count) const {
        return at >= bytes.size() ? std::string() : bytes.substr(at, count);
    }
};

std::string RandomBytes(std::mt19937& random, std::size_t count) {
    std::string data(count, '\0');
    for (char& c : data) {
        c = static_cast<char>('A' + random() % 26);
    }
    return data;
}

class KsIOModelTest : public ::testing::TestWithParam<unsigned> {};

void RunModel(unsigned seed);

TEST_P(KsIOModelTest, RandomOperationsMatchAPlainByteString) {
    try {
        RunModel(GetParam());
    } catch (const KsException& error) {
        FAIL() << error.GetErrorMessage() << "\n" << error.GetCallpath();
    }
}

void RunModel(unsigned seed) {
    kstest::TempDir dir;
    std::string path = dir.File("model.bin");
    std::mt19937 random(seed);
    Model model;
    KsIO file(path.c_str(), 27);
    auto size = [&](std::size_t largest) { return static_cast<std::size_t>(random() % largest); };
    for (int step = 0; step < 400; ++step) {
        // Mostly small transfers around the buffer's edges, sometimes larger than the buffer.
        std::size_t count = random() % 8 == 0 ? size(30000) : size(300);
        SCOPED_TRACE("seed " + std::to_string(seed) + " step " + std::to_string(step));
        unsigned operation = static_cast<unsigned>(random() % 10);
        SCOPED_TRACE("operation " + std::to_string(operation) + " count " + std::to_string(count));
        switch (operation) {
            case 0:
            case 1: {
                std::string data = RandomBytes(random, count);
                file.Write(data.data(), static_cast<std::int32_t>(data.size()));
                model.WriteAt(model.position, data);
                model.position += data.size();
                break;
            }
            case 2:
            case 3: {
                std::string data(count, '\0');
                std::int32_t got = file.Read(data.data(), static_cast<std::int32_t>(count), false);
                std::string expected = model.ReadAt(model.position, count);
                ASSERT_EQ(std::string(data.data(), static_cast<std::size_t>(got)), expected);
                model.position += expected.size();
                break;
            }
            case 4: {
                // Near the window: within a few buffers of the current position.
                std::size_t target = model.position + size(20000);
                target = target > 10000 ? target - 10000 : size(100);
                ASSERT_EQ(file.Seek(static_cast<std::int32_t>(target), 0),
                          static_cast<std::int32_t>(target));
                model.position = target;
                break;
            }
            case 5: {
                std::size_t at = size(model.bytes.size() + 9000);
                std::string data = RandomBytes(random, count);
                file.WriteTo(at, data.data(), static_cast<std::int32_t>(data.size()));
                model.WriteAt(at, data);
                break;
            }
            case 6: {
                std::size_t at = size(model.bytes.size() + 100);
                std::string data(count, '\0');
                std::int32_t got =
                    file.ReadFrom(at, data.data(), static_cast<std::int32_t>(count), false);
                ASSERT_EQ(std::string(data.data(), static_cast<std::size_t>(got)),
                          model.ReadAt(at, count));
                break;
            }
            case 7: {
                std::size_t back =
                    random() % 2 == 0 ? 0 : size(std::min<std::size_t>(50, model.bytes.size() + 1));
                std::int32_t moved = file.Seek(-static_cast<std::int32_t>(back), 2);
                model.position = model.bytes.size() - back;
                ASSERT_EQ(moved, static_cast<std::int32_t>(model.position));
                break;
            }
            case 8:
                if (random() % 4 == 0) {
                    std::int32_t cut = static_cast<std::int32_t>(size(model.bytes.size() / 4 + 1));
                    file.Truncate(cut);
                    model.bytes.resize(
                        cut == 0 ? 0 : model.bytes.size() - static_cast<std::size_t>(cut));
                    model.position = 0;
                } else {
                    file.Flush();
                }
                break;
            default:
                file.SetBufferSize(static_cast<std::int32_t>(8000 + size(12000)));
                break;
        }
        ASSERT_EQ(file.Tell64(), static_cast<std::int64_t>(model.position));
        ASSERT_EQ(file.GetFileSize64(), static_cast<std::int64_t>(model.bytes.size()));
    }
    file.Close();
    EXPECT_EQ(kstest::ReadWholeFile(path), model.bytes);
}

INSTANTIATE_TEST_SUITE_P(Seeds, KsIOModelTest, ::testing::Range(1u, 13u));

// ---- line reading: the buffered file against byte-at-a-time reading ----

// One observable step of line reading.
struct LineStep {
    std::int64_t result = 0;
    std::string text;
    bool containsNul = false;
    std::string error;
    std::int64_t position = 0;

    bool operator==(const LineStep&) const = default;
};

std::ostream& operator<<(std::ostream& out, const LineStep& step) {
    return out << "result " << step.result << " text of " << step.text.size() << " bytes, nul "
               << step.containsNul << ", error '" << step.error << "', at " << step.position;
}

// Reads `bytes` line by line through `stream` until the end or an error; `plan` picks the
// form of each call (a buffer of that size, or the whole-line forms when 0).
template <class Stream, class Position>
std::vector<LineStep> ReadSteps(Stream& stream, Position position, const std::vector<int>& plan) {
    std::vector<LineStep> steps;
    for (std::size_t i = 0;; ++i) {
        LineStep step;
        int size = plan[i % plan.size()];
        try {
            if (size > 0) {
                std::vector<char> buffer(static_cast<std::size_t>(size) + 1, '#');
                step.result = stream.ReadLine(buffer.data(), size);
                step.text = buffer.data();
            } else {
                KsString line;
                step.result = stream.ReadLine(line, step.containsNul);
                step.text = line.GetCString();
            }
        } catch (const KsException& error) {
            step.error = error.GetErrorMessage();
        }
        step.position = position();
        steps.push_back(step);
        if (step.result == 0 || !step.error.empty()) {
            return steps;
        }
    }
}

std::string RandomLines(std::mt19937& random, std::size_t length) {
    static const char kAlphabet[] = {'a', ',', '\r', '\n', '\0', 'b', ' ', '\n'};
    std::string bytes;
    while (bytes.size() < length) {
        std::size_t line = random() % 6 == 0 ? random() % 3000 : random() % 60;
        for (std::size_t i = 0; i < line; ++i) {
            // Mostly text; line-end and NUL bytes now and then, a lone return rarely.
            auto pick = static_cast<unsigned>(random() % 200);
            bytes += pick < 190   ? static_cast<char>('a' + pick % 26)
                     : pick < 199 ? kAlphabet[pick % 8]
                                  : '\r';
        }
        bytes += random() % 3 == 0 ? "\r\n" : "\n";
    }
    return bytes;
}

void ExpectSameLines(const std::string& bytes, const std::vector<int>& plan) {
    kstest::TempDir dir;
    std::string path = dir.File("lines.txt");
    kstest::WriteWholeFile(path, bytes);
    KsIO file(path.c_str(), IO_READ);
    MemoryStream memory(bytes);
    auto filePosition = [&] { return file.Tell64(); };
    auto memoryPosition = [&] { return static_cast<std::int64_t>(memory.Position()); };
    std::vector<LineStep> expected = ReadSteps(memory, memoryPosition, plan);
    std::vector<LineStep> actual = ReadSteps(file, filePosition, plan);
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(actual[i], expected[i]) << "line " << i;
    }
}

TEST(KsIOLineTest, RandomInputsReadAsByteAtATimeReadingDoes) {
    for (unsigned seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        std::string bytes = RandomLines(random, 20000 + random() % 40000);
        if (seed % 4 == 0) {
            bytes.pop_back();  // no line end at the end
        }
        ExpectSameLines(bytes, {0});
        ExpectSameLines(bytes, {0, 3, 1024, 1, 7, 0, 2});
    }
}

TEST(KsIOLineTest, LineEndsOnTheBufferEdge) {
    // The window holds 8000 bytes: put every kind of line end across its edge.
    for (std::size_t before = 7990; before <= 8002; ++before) {
        for (std::string end : {"\r\n", "\n", "\r", "\0\n"}) {
            std::string bytes(before, 'x');
            bytes[before / 2] = '\n';
            bytes += end;
            bytes += std::string(1030, 'y') + "\r\nlast";
            SCOPED_TRACE(std::to_string(before) + " " + std::to_string(end.size()));
            ExpectSameLines(bytes, {0});
            ExpectSameLines(bytes, {1024});
        }
    }
}

TEST(KsIOLineTest, ConvertedOutputReadsBackUnchanged) {
    kstest::TempDir dir;
    std::string path = dir.File("out.txt");
    std::vector<std::string> records;
    {
        KsIO out(path.c_str(), 27);
        for (int i = 0; i < 5000; ++i) {
            records.push_back(std::string(50, ' ') + std::to_string(i * 7919) +
                              std::string(i % 1500, 'r'));
            out.WriteString(records.back().c_str(), false);
            out.WriteString("\n", false);
        }
    }
    KsIO in(path.c_str(), IO_READ);
    KsString line;
    for (const std::string& record : records) {
        ASSERT_EQ(in.ReadLine(line), record.size() + 1);
        ASSERT_EQ(std::string(line.GetCString()), record);
    }
    EXPECT_EQ(in.ReadLine(line), 0u);
}

}  // namespace
