// Random sequences of seeks, reads, writes, positioned transfers, truncations, flushes and
// buffer-size changes on the buffered and the unbuffered file, checked step by step against
// a plain byte string; the line reading of the buffered file checked against byte-at-a-time
// reading.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "io/KsIO.h"
#include "io/KsIOUnbuffered.h"
#include "support/MemoryStream.h"
#include "support/TempDir.h"

namespace {

using namespace std::string_literals;

// What the file must hold.
void WriteAt(std::string& bytes, std::size_t at, const std::string& data) {
    if (!data.empty()) {  // writing nothing extends nothing
        bytes.resize(std::max(bytes.size(), at + data.size()), '\0');
        bytes.replace(at, data.size(), data);
    }
}

// Seeds 1 to 12 drive the buffered file, the others the unbuffered file.
class KsIOModelTest : public ::testing::TestWithParam<unsigned> {};

TEST_P(KsIOModelTest, RandomOperationsMatchAPlainByteString) {
    kstest::TempDir dir;
    std::string path = dir.File("model.bin");
    std::mt19937 random(GetParam());
    std::unique_ptr<KsIOInterface> opened;
    if (GetParam() <= 12) {
        opened = std::make_unique<KsIO>(path.c_str(), 27);
    } else {
        opened = std::make_unique<KsIOUnbuffered>(path.c_str(), 27);
    }
    KsIOInterface& file = *opened;
    auto* buffered = dynamic_cast<KsIO*>(&file);
    auto size = [&](std::size_t largest) { return static_cast<std::size_t>(random() % largest); };
    auto text = [&](std::size_t count) {
        std::string data(count, '\0');
        for (char& c : data) {
            c = static_cast<char>('A' + random() % 26);
        }
        return data;
    };
    std::string model;
    std::size_t position = 0;
    try {
        for (int step = 0; step < 400; ++step) {
            // Mostly small transfers around the buffer's edges, sometimes larger than it.
            std::size_t count = random() % 8 == 0 ? size(30000) : size(300);
            unsigned operation = static_cast<unsigned>(random() % 10);
            SCOPED_TRACE("step " + std::to_string(step) + " operation " +
                         std::to_string(operation) + " count " + std::to_string(count));
            std::string data(count, '\0');
            if (operation <= 1) {
                data = text(count);
                file.Write(data.data(), static_cast<std::int32_t>(count));
                WriteAt(model, position, data);
                position += count;
            } else if (operation <= 3) {
                data.resize(static_cast<std::size_t>(
                    file.Read(data.data(), static_cast<std::int32_t>(count), false)));
                ASSERT_EQ(data, position < model.size() ? model.substr(position, count) : "");
                position += data.size();
            } else if (operation == 4) {  // within a few buffers, from the start or from here
                std::size_t target = position + size(20000);
                target = target > 10000 ? target - 10000 : size(100);
                const bool fromHere = random() % 2 == 0;
                const std::int64_t offset = static_cast<std::int64_t>(target) -
                                            static_cast<std::int64_t>(fromHere ? position : 0);
                position = target;
                ASSERT_EQ(file.Seek(static_cast<std::int32_t>(offset), fromHere ? 1 : 0),
                          static_cast<std::int32_t>(position));
            } else if (operation == 5) {
                std::size_t at = size(model.size() + 9000);
                data = text(count);
                file.WriteTo(at, data.data(), static_cast<std::int32_t>(count));
                WriteAt(model, at, data);
            } else if (operation == 6) {
                std::size_t at = size(model.size() + 100);
                data.resize(static_cast<std::size_t>(
                    file.ReadFrom(at, data.data(), static_cast<std::int32_t>(count), false)));
                ASSERT_EQ(data, at < model.size() ? model.substr(at, count) : "");
            } else if (operation == 7) {
                std::size_t back =
                    random() % 2 == 0 ? 0 : size(std::min<std::size_t>(50, model.size() + 1));
                position = model.size() - back;
                ASSERT_EQ(file.Seek(-static_cast<std::int32_t>(back), 2),
                          static_cast<std::int32_t>(position));
            } else if (operation == 8 && random() % 4 == 0) {
                std::size_t cut = size(model.size() / 4 + 1);
                file.Truncate(static_cast<std::int32_t>(cut));
                model.resize(cut == 0 ? 0 : model.size() - cut);
                position = 0;
            } else if (operation == 8) {
                file.Flush();
            } else if (buffered != nullptr) {
                buffered->SetBufferSize(static_cast<std::int32_t>(8000 + size(12000)));
            }
            ASSERT_EQ(file.Tell64(), static_cast<std::int64_t>(position));
            ASSERT_EQ(file.GetFileSize64(), static_cast<std::int64_t>(model.size()));
            ASSERT_EQ(file.IsEOF(), position >= model.size());
        }
        file.Close();
    } catch (const KsException& error) {
        FAIL() << error.GetErrorMessage() << "\n" << error.GetCallpath();
    }
    EXPECT_EQ(kstest::ReadWholeFile(path), model);
}

INSTANTIATE_TEST_SUITE_P(Seeds, KsIOModelTest, ::testing::Range(1u, 19u));

// ---- line reading: the buffered file against byte-at-a-time reading ----

// Reads line by line through `stream` until the end or an error, one text line per call
// ("result|text|NUL seen|error|position"); `plan` picks the form of each call: a buffer of
// that size, or the whole-line form when 0.
template <class Stream, class Position>
std::vector<std::string> ReadSteps(Stream& stream, Position position,
                                   const std::vector<int>& plan) {
    std::vector<std::string> steps;
    for (std::size_t i = 0;; ++i) {
        std::int64_t result = 0;
        std::string text;
        bool containsNul = false;
        std::string error;
        int size = plan[i % plan.size()];
        try {
            if (size > 0) {
                std::vector<char> buffer(static_cast<std::size_t>(size) + 1, '#');
                result = stream.ReadLine(buffer.data(), size);
                text = buffer.data();
            } else {
                KsString line;
                result = stream.ReadLine(line, containsNul);
                text = line.GetCString();
            }
        } catch (const KsException& e) {
            error = e.GetErrorMessage();
        }
        steps.push_back(std::to_string(result) + "|" + text + "|" + (containsNul ? "NUL" : "") +
                        "|" + error + "|" + std::to_string(position()));
        if (result == 0 || !error.empty()) {
            return steps;
        }
    }
}

void ExpectSameLines(const std::string& bytes, const std::vector<int>& plan) {
    kstest::TempDir dir;
    kstest::WriteWholeFile(dir.File("lines.txt"), bytes);
    KsIO file(dir.File("lines.txt").c_str(), IO_READ);
    kstest::MemoryStream memory(bytes);
    std::vector<std::string> expected = ReadSteps(
        memory, [&] { return static_cast<std::int64_t>(memory.Position()); }, plan);
    ASSERT_EQ(ReadSteps(
                  file, [&] { return file.Tell64(); }, plan),
              expected);
}

TEST(KsIOLineTest, RandomInputsReadAsByteAtATimeReadingDoes) {
    static const char kRare[] = {'a', ',', '\r', '\n', '\0', 'b', ' ', '\n'};
    for (unsigned seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        std::string bytes;
        for (std::size_t length = 20000 + random() % 40000; bytes.size() < length;) {
            std::size_t line = random() % 6 == 0 ? random() % 3000 : random() % 60;
            for (std::size_t i = 0; i < line; ++i) {
                // Mostly text; line-end and NUL bytes now and then, a lone return rarely.
                auto pick = static_cast<unsigned>(random() % 200);
                bytes += pick < 190   ? static_cast<char>('a' + pick % 26)
                         : pick < 199 ? kRare[pick % 8]
                                      : '\r';
            }
            bytes += random() % 3 == 0 ? "\r\n" : "\n";
        }
        // Line ends across the edge of the 8000-byte window.
        bytes.replace(7998 + seed % 4, 2,
                      seed % 3 == 0   ? "\r\n"
                      : seed % 3 == 1 ? "\0\n"s
                                      : "\n\n");
        if (seed % 4 == 0) {
            bytes.pop_back();  // no line end at the end
        }
        ExpectSameLines(bytes, {0});
        ExpectSameLines(bytes, {0, 3, 1024, 1, 7, 0, 2});
    }
}

}  // namespace
