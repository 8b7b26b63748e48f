#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "core/KsException.h"
#include "files/TableTestSupport.h"
#include "index/KsIndex.h"
#include "index/KsSet.h"
#include "io/KsIOFactory.h"
#include "progress/KsNullProgress.h"
#include "support/KsErrorCapture.h"
#include "support/MemoryStream.h"
#include "support/TempDir.h"

namespace {

// The 3-byte comparable key of a text of at most 3 characters.
std::string Key3(const char* text) {
    std::string key(text);
    key.resize(3, '\0');
    return key;
}

using Records = std::vector<std::int32_t>;

// An Alpha index of key length 3 over `count` records holding the texts given.
std::unique_ptr<KsIndex> AlphaIndex(const std::vector<const char*>& values) {
    auto index = std::make_unique<KsIndex>('A', 3, 0);
    for (std::size_t i = 0; i < values.size(); ++i) {
        index->InsertRecord(static_cast<std::int32_t>(i + 1), Key3(values[i]).data());
    }
    return index;
}

Records Found(KsIndex& index, const char* low, const char* high = nullptr, bool alternate = false) {
    std::string lowKey = Key3(low), highKey = Key3(high != nullptr ? high : "");
    KsSet result;
    index.Search(lowKey.data(), high != nullptr ? highKey.data() : nullptr, result, alternate);
    return kstest::Members(result);
}

Records RecordsOf(const KsIndexKey& key) {
    KsVector<std::int32_t> records = key.GetRecords();
    return Records(records.begin(), records.end());
}

std::string Bytes(KsIndex& index, std::int16_t version = KsIndex::kVersion) {
    kstest::MemoryStream stream;
    index.Write(stream, version);
    return stream.Bytes();
}

// The records a search finds, or the message of its error.
std::string Answer(KsIndex& index, const std::string& low, const std::string* high,
                   const KsSet* mask, bool alternate) {
    KsSet result;
    try {
        const char* top = high ? high->data() : nullptr;
        mask ? index.MaskedSearch(low.data(), top, result, *mask, alternate)
             : index.Search(low.data(), top, result, alternate);
    } catch (const KsException& error) {
        return error.GetErrorMessage();
    }
    return testing::PrintToString(kstest::Members(result));
}

TEST(KsIndexKey, TurnsIntoASetAtTheTwelfthRecordOf320AndRenumbersInBothForms) {
    KsIndexKey key(KsRecordKey::Instantiate('N', 0), 320);
    for (std::int32_t r = 1; r <= 11; ++r) {
        key.SetRecord(r * 20);
    }
    EXPECT_FALSE(key.IsSetForm());
    key.SetRecord(5);
    EXPECT_TRUE(key.IsSetForm());
    EXPECT_EQ(12, key.GetRecordCount());
    EXPECT_EQ((Records{5, 20, 40, 60, 80, 100, 120, 140, 160, 180, 200, 220}), RecordsOf(key));
    EXPECT_EQ("Set record value of 321 not valid for set with 320 records.",
              kstest::MessageOf([&] { key.SetRecord(321); }));
    // Deleted and inserted records renumber those after them, in both forms.
    for (bool asSet : {false, true}) {
        KsIndexKey small(KsRecordKey::Instantiate('N', 0), 10);
        for (std::int32_t r : {3, 5, 9}) {
            small.SetRecord(r);
        }
        if (asSet) {
            small.ConvertArrayToSet();
        }
        EXPECT_FALSE(small.DeleteRecordIsEmpty(5));
        EXPECT_EQ((Records{3, 8}), RecordsOf(small));
        small.InsertRecord(3);
        EXPECT_EQ((Records{4, 9}), RecordsOf(small));
        EXPECT_EQ(10, small.GetUniverse());
    }
}

TEST(KsIndex, DeletingTheOnlyRecordOfAKeyRemovesItAndLowersLaterKeyNumbers) {
    auto index = AlphaIndex({"B", "A", "C", "C"});
    index->BuildInverseIndex(KsNullProgress::Instance());
    index->DeleteRecord(1);  // the only "B"
    ASSERT_EQ(2, index->GetKeyCount());
    EXPECT_EQ((Records{2, 3}), Found(*index, "C"));
    // Record 2 (was 3) now has key 1: updating it to its value changes nothing.
    index->SetModified(false);
    index->UpdateRecord(2, "C\0");
    EXPECT_FALSE(index->IsModified());
    index->UpdateRecord(2, "A\0");
    EXPECT_TRUE(index->IsModified());
    EXPECT_EQ((Records{1, 2}), Found(*index, "A"));
    EXPECT_EQ((Records{3}), Found(*index, "C"));
}

TEST(KsIndex, SearchesIncludeBothEndsAndTheAlternateOrderIgnoresCase) {
    auto index = AlphaIndex({"A", "B", "b", "C", "D", "E", "d"});
    EXPECT_EQ((Records{2, 4, 5}), Found(*index, "B", "D"));
    EXPECT_EQ((Records{2, 3, 4, 5, 7}), Found(*index, "b", "D", true));
    EXPECT_EQ((Records{5, 7}), Found(*index, "D", nullptr, true));
    EXPECT_EQ((Records{}), Found(*index, "F"));
    KsSet mask(7);
    mask.SelectRecord(4, true);
    mask.SelectRecord(6, true);
    const std::string z = Key3("Z");
    EXPECT_EQ("{ 4, 6 }", Answer(*index, Key3("A"), &z, &mask, false));
    KsIndex numbers('N', 0, 0);
    EXPECT_EQ("Cannot search on the given order; no alternate key array.",
              Answer(numbers, std::string(8, '\0'), nullptr, nullptr, true));
}

// Spaces in the expected bytes only separate their fields.
TEST(KsIndex, WritesItsFileFormat) {
    auto index = AlphaIndex({"AB", "C", "AB"});
    const std::string vector400 = "00000000 9001 0400 80000000 ";
    // "AB" holds 2 of 3 records, past (3 / 32) + 1: a set (records 1 and 3: bits 0xA0).
    std::string expected = "03000000 FE01 41 0300 03000000 02000000 " +
                           std::string("4142000000000000 01 0B000000 9001 03000000 01000000 ") +
                           "02000000 A0 4300000000000000 00 " + vector400 +
                           "04000000 01000000 00000000 02000000 01 " + vector400 +
                           "10000000 04000000 00000000 FFFFFFFF 00000000 01000000 00000000";
    std::erase(expected, ' ');
    EXPECT_EQ(expected, kstest::Hex(Bytes(*index)));
}

// Versions 510, 420 and 400 are read from a file holding an index and more, which the read
// leaves just after the index; a file of another table is refused.
TEST(KsIndex, ReadsVersions420And400AndChecksWhatItReads) {
    auto source = AlphaIndex({"AB", "C", "AB"});
    std::string v510 = Bytes(*source);
    std::string v400 = Bytes(*source, KsIndex::kVersion400);
    std::string v420 = Bytes(*source, KsIndex::kVersion420);
    EXPECT_EQ(v400, v510.substr(0, v400.size()).replace(4, 2, "\x90\x01", 2));
    EXPECT_EQ(v420.substr(v400.size()), "\x01" + v510.substr(v510.size() - 16));
    kstest::TempDir directory;
    const std::string name = directory.File("index.kix");
    for (const std::string& bytes : {v510, v420, v400}) {
        kstest::WriteWholeFile(name, bytes + "tail");
        std::unique_ptr<KsIOInterface> file = KsIOFactory::Default().Open(name.c_str(), IO_READ);
        KsIndex read('A', 3, 3);
        read.Read(*file);
        char tail[5] = {};
        EXPECT_EQ(4, file->Read(tail, 5, false));
        EXPECT_STREQ("tail", tail);
        EXPECT_TRUE(read.IsSameAs(*source));
        EXPECT_EQ((Records{1, 3}), Found(read, "AB", "B"));
    }
    const std::tuple<char, std::uint16_t, std::int32_t, std::string> mismatches[] = {
        {'A', 3, 4, "Index file \"memory\" has 3 records, but file has 4 records"},
        {'A', 4, 3, "Index file \"memory\" has field length of 3, but field length is 4"},
        {'Y', 3, 3, "Index file \"memory\" is for field of type 'A', but field  is of type 'Y'"},
    };
    for (const auto& [type, length, records, message] : mismatches) {
        KsIndex index(type, length, records);
        kstest::MemoryStream stream(v510);
        EXPECT_EQ(message, kstest::MessageOf([&] { index.Read(stream); }));
    }
    KsIndex other('A', 3, 4);
    kstest::MemoryStream stream(v510);
    other.Read(stream, true);
    EXPECT_EQ(3, other.GetRecordCount());
    // The compact vector (version 530: count, growth, records) is read and searched too.
    const std::string vector400("\0\0\0\0\x90\x01\x04\0\x80\0\0\0\x04\0\0\0", 16);
    const std::string vector530("\0\0\0\0\x12\x02", 6);
    std::string compact = v400;
    compact.replace(compact.find(vector400), vector400.size(), vector530);
    KsIndex read('A', 3, 3);
    kstest::MemoryStream compactStream(compact);
    read.Read(compactStream);
    EXPECT_EQ((Records{2}), Found(read, "C"));
    EXPECT_EQ((Records{1, 2, 3}), Found(read, "A", "D"));
    EXPECT_TRUE(read.IsSameAs(*source));
}

// Every cut of a file gives an error, and the index read into stays as it was (other damage
// is the index file fuzzer's).
TEST(KsIndex, HostileFilesGiveErrorsAndLeaveTheIndexAlone) {
    std::string bytes = Bytes(*AlphaIndex({"AB", "C", "AB", "D", "C"}));
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        auto read = AlphaIndex({"X", "Y", "Z", "X", "X"});
        kstest::MemoryStream stream(bytes.substr(0, cut));
        EXPECT_THROW(read->Read(stream), KsException) << cut;
        EXPECT_EQ((Records{1, 4, 5}), Found(*read, "X"));
    }
    KsIndex read('A', 3, 5);
    kstest::MemoryStream cut(bytes.substr(0, 40));
    EXPECT_EQ("Unable to perform a required read at offset 40 of \"memory\"",
              kstest::MessageOf([&] { read.Read(cut); }));
}

// A read index answers from its file's bytes until it changes: every search before and after
// a change must answer as the index the file was written from.
TEST(KsIndex, ReadIndexAnswersAndChangesLikeTheIndexItWasWrittenFrom) {
    std::mt19937 random(21);
    const std::int16_t versions[] = {KsIndex::kVersion, KsIndex::kVersion420, KsIndex::kVersion400};
    for (int trial = 0; trial < 120; ++trial) {
        std::uint16_t length = trial % 2 == 0 ? 3 : 10;     // stored padded, or with 2 zeros
        auto spread = static_cast<int>(random() % 30) + 1;  // few values make set-form keys
        auto value = [&] {
            std::string text(1 + random() % 2, static_cast<char>('A' + random() % spread));
            text.resize(length, '\0');
            return text;
        };
        auto count = static_cast<std::int32_t>(random() % 120) + 1;
        KsIndex source('A', length, 0);
        for (std::int32_t r = 1; r <= count; ++r) {
            source.InsertRecord(r, value().data());
        }
        KsIndex read('A', length, count);
        kstest::MemoryStream stream(Bytes(source, versions[trial % 3]));
        read.Read(stream);
        ASSERT_EQ(source.GetKeyCount(), read.GetKeyCount());
        KsSet mask(count - static_cast<std::int32_t>(random() % 2));  // too small: an error
        for (std::int32_t r = 1; r <= mask.GetSize(); r += 2) {
            mask.SelectRecord(r, true);
        }
        auto compare = [&](bool alternate) {
            for (int q = 0; q < 12; ++q) {
                std::string low = value(), high = value();
                const std::string* top = q % 3 == 0 ? nullptr : &high;
                const KsSet* masked = q % 2 == 0 ? &mask : nullptr;
                ASSERT_EQ(Answer(source, low, top, masked, alternate),
                          Answer(read, low, top, masked, alternate))
                    << trial << " " << q;
            }
        };
        compare(false);
        std::int32_t r = static_cast<std::int32_t>(random() % count) + 1;
        std::string changed = value();
        for (KsIndex* index : {&source, &read}) {
            if (trial % 5 == 0) {
                index->InsertRecord(r, changed.data());
            } else if (trial % 5 == 1) {
                index->DeleteRecord(r);
            } else if (trial % 5 == 2) {
                index->UpdateRecord(r, changed.data());
            } else if (trial % 5 == 3) {
                index->SetRecord(r, changed.data());
            }  // else the case-blind order is made from the bytes
        }
        compare(trial % 5 == 4);
        ASSERT_TRUE(read.IsSameAs(source)) << trial;
        ASSERT_EQ(Bytes(source), Bytes(read)) << trial;
    }
}

// Thousands of random inserts, deletes and updates against a plain list of values.
TEST(KsIndex, FollowsRandomRecordChangesLikeAPlainList) {
    std::mt19937 random(15);
    std::vector<std::string> model;
    KsIndex index('A', 3, 0);
    auto value = [&] { return std::string(1, static_cast<char>('A' + random() % 6)); };
    for (int step = 0; step < 4000; ++step) {
        auto count = static_cast<std::int32_t>(model.size());
        std::int32_t r = count == 0 ? 1 : static_cast<std::int32_t>(random() % count) + 1;
        std::string text = value();
        char key[3] = {text[0], 0, 0};
        switch (count == 0 ? 0 : random() % 4) {
            case 0:
            case 1:
                r = static_cast<std::int32_t>(random() % (count + 1)) + 1;
                index.InsertRecord(r, key);
                model.insert(model.begin() + (r - 1), text);
                break;
            case 2:
                index.DeleteRecord(r);
                model.erase(model.begin() + (r - 1));
                break;
            default:
                index.UpdateRecord(r, key);
                model[r - 1] = text;
        }
        std::string low = value(), high = value();
        Records expected;
        for (std::size_t i = 0; i < model.size(); ++i) {
            if (model[i] >= low && model[i] <= std::max(low, high)) {
                expected.push_back(static_cast<std::int32_t>(i + 1));
            }
        }
        ASSERT_EQ(expected, Found(index, low.c_str(), std::max(low, high).c_str())) << step;
        // The case-blind order, made at the first such search, follows every change after.
        ASSERT_EQ(expected, Found(index, low.c_str(), std::max(low, high).c_str(), step > 100))
            << step;
        if (step % 500 == 0) {
            KsIndex copy('A', 3, static_cast<std::int32_t>(model.size()));
            kstest::MemoryStream stream(Bytes(index));
            copy.Read(stream);
            ASSERT_TRUE(copy.IsSameAs(index));
        }
    }
}

// An index file of Alpha keys of length 3 (8 value bytes each) or 10 (12 bytes) over
// `records` records, its record lists in the vector form, with an inverse index of these
// entries when given.
std::string AlphaFile(std::int32_t records,
                      const std::vector<std::pair<std::string, Records>>& keys,
                      const Records* inverse = nullptr, std::uint16_t length = 3) {
    std::string out;
    auto put = [&out](std::int64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            out += static_cast<char>((value >> (8 * i)) & 0xFF);
        }
    };
    auto vector = [&](const Records& entries) {
        put(0, 4), put(400, 2), put(4, 2), put(128, 4);
        put(4 * static_cast<std::int64_t>(entries.size()), 4), put(std::ssize(entries), 4);
        put(0, 4);
        for (std::int32_t entry : entries) {
            put(entry, 4);
        }
    };
    put(3, 4), put(510, 2), out += 'A', put(length, 2), put(records, 4), put(std::ssize(keys), 4);
    for (const auto& [text, list] : keys) {
        out += text + std::string((length < 8 ? 8 : length + 2) - text.size(), '\0') + '\0';
        vector(list);
    }
    out += inverse != nullptr ? '\1' : '\0';
    if (inverse != nullptr) {
        vector(*inverse);
    }
    return out;
}

// Every fault of a file's keys, record lists and inverse index is found and named, and
// texts compare only up to their first NUL.
TEST(KsIndex, ReadFindsEveryFaultOfTheKeysAndRecords) {
    const Records agreeing{-1, 0, 1, 0}, disagreeing{-1, 0, 0, 0}, outside{-1, 1, 0, 7};
    const std::tuple<std::int32_t, std::vector<std::pair<std::string, Records>>, const Records*,
                     std::string>
        cases[] = {
            {3, {{"AB", {1}}, {"AB", {2, 3}}}, nullptr, "has key 1 out of order"},
            {3, {{"AB", {1, 2}}, {"AA", {3}}}, nullptr, "has key 1 out of order"},
            {3,
             {{std::string("A\0X", 3), {1, 2}}, {std::string("A\0Y", 3), {3}}},
             nullptr,
             "has key 1 out of order"},
            {3, {{"AB", {}}, {"C", {1, 2, 3}}}, nullptr, "has key 0 without records"},
            {3, {{"AB", {1, 2}}, {"C", {2}}}, nullptr, "lists record 2 under two keys"},
            {3, {{"AB", {1, 2}}, {"C", {2, 3}}}, nullptr, "lists 4 records for 3 records"},
            {3, {{"AB", {1}}, {"C", {3}}}, nullptr, "lists 2 records for 3 records"},
            {3, {{"AB", {2, 1, 3}}}, nullptr, "holds record 1 out of order or range"},
            {3, {{"AB", {1, 2, 4}}}, nullptr, "holds record 4 out of order or range"},
            {3,
             {{"AB", {1, 3}}, {"C", {2}}},
             &disagreeing,
             "has an inverse index that disagrees with its keys"},
            {3, {{"AB", {1, 3}}, {"C", {2}}}, &outside, "has an inverse entry of key 7"},
            {0x7FFFFFFF, {{"AB", {1}}}, nullptr, "lists 1 records for 2147483647 records"},
        };
    for (const auto& [records, keys, inverse, message] : cases) {
        KsIndex index('A', 3, 0);
        kstest::MemoryStream stream(AlphaFile(records, keys, inverse));
        EXPECT_EQ("Index file \"memory\" " + message,
                  kstest::MessageOf([&] { index.Read(stream, true); }));
    }
    // A vector count whose byte size would pass 32 bits is still held against the bytes.
    std::string huge = AlphaFile(0x7FFFFFFF, {{"AB", {1}}});
    huge.replace(17 + 9 + 16, 4, std::string("\0\0\0\x40", 4));
    KsIndex hugeIndex('A', 3, 0);
    kstest::MemoryStream hugeStream(huge);
    EXPECT_EQ("Index file \"memory\" holds a vector of 1073741824 records for 2147483647 records",
              kstest::MessageOf([&] { hugeIndex.Read(hugeStream, true); }));
    // Longer texts are compared eight bytes at a time, still only up to their first NUL.
    KsIndex longer('A', 10, 3);
    kstest::MemoryStream longStream(AlphaFile(3,
                                              {{"ABCDEF", {1}},
                                               {std::string("ABCDEFG\0XX", 10), {2}},
                                               {std::string("ABCDEFG\0YY", 10), {3}}},
                                              nullptr, 10));
    EXPECT_EQ("Index file \"memory\" has key 2 out of order",
              kstest::MessageOf([&] { longer.Read(longStream); }));
    KsIndex index('A', 3, 3);
    kstest::MemoryStream good(AlphaFile(3, {{"AB", {1, 3}}, {"C", {2}}}, &agreeing));
    index.Read(good);
    EXPECT_TRUE(index.HasInverseIndex());
    EXPECT_EQ((Records{1, 3}), Found(index, "AB"));
    // A vector that declares bytes beyond its records is read, its extra bytes skipped.
    std::string padded = AlphaFile(3, {{"AB", {1, 3}}, {"C", {2}}});
    padded.replace(17 + 9 + 12, 4, std::string("\x0C\0\0\0", 4)).insert(17 + 9 + 32, "pad!");
    kstest::MemoryStream paddedStream(padded);
    index.Read(paddedStream);
    EXPECT_EQ((Records{2}), Found(index, "C"));
}

// Files far larger than the pieces they are read in, from a file and from a stream: Alpha
// keys of one record each but the last, and Long keys, some holding many records as sets
// (many values lie across the pieces' ends).
TEST(KsIndex, ReadsLargeFilesAcrossItsReadingPieces) {
    std::mt19937 random(5);
    kstest::TempDir directory;
    std::string name = directory.File("large.kix");
    for (char type : {'A', 'I'}) {
        const std::int32_t count = type == 'A' ? 60000 : 200000;
        std::uint16_t length = type == 'A' ? 10 : 4;
        std::vector<std::pair<std::int32_t, std::int32_t>> values;  // value, record
        for (std::int32_t r = 1; r <= count; ++r) {
            auto value = static_cast<std::int32_t>(random() % (r % 7 == 0 ? 3 : 10000000));
            values.emplace_back(type == 'A' ? (r > count - 100 ? 9999999 : r) : value, r);
        }
        std::sort(values.begin(), values.end());  // every new key goes to the end
        std::unique_ptr<KsRecordKey> key(KsRecordKey::Instantiate(type, length));
        KsIndex source(type, length, count);
        for (const auto& [value, r] : values) {
            std::string bytes(length, '\0');
            if (type == 'A') {
                std::snprintf(bytes.data(), length, "K%07d", value);
            } else {
                static_cast<KsRecordKeyLong&>(*key).SetNumber(value);
                key->GetComparableKey(bytes.data());
            }
            source.SetRecord(r, bytes.data());
        }
        std::string bytes = Bytes(source);
        kstest::WriteWholeFile(name, bytes + "tail");
        std::unique_ptr<KsIOInterface> file = KsIOFactory::Default().Open(name.c_str(), IO_READ);
        KsIndex fromFile(type, length, count), fromStream(type, length, count);
        fromFile.Read(*file);
        EXPECT_EQ(static_cast<std::int64_t>(bytes.size()), file->Tell64()) << type;
        kstest::MemoryStream stream(bytes);
        fromStream.Read(stream);
        for (KsIndex* read : {&fromFile, &fromStream}) {
            for (std::int32_t k = 0; k < source.GetKeyCount(); k += 97) {
                std::string low(length, '\0');
                source.GetKey(k).Value().GetComparableKey(low.data());
                KsSet found, expected;
                read->Search(low.data(), nullptr, found);
                source.Search(low.data(), nullptr, expected);
                ASSERT_EQ(expected.GetSelectedCount(), found.GetSelectedCount()) << type << k;
                ASSERT_EQ(expected.GetNextInSet(0), found.GetNextInSet(0)) << type << k;
            }
            EXPECT_EQ(bytes, Bytes(*read)) << type;
        }
    }
}

// Runs of keys holding one record each are read a batch at a time: a fault inside a run is
// named with its own key number, and keys of other forms between runs are read whole.
TEST(KsIndex, RunsOfKeysOfOneRecordAreCheckedKeyByKey) {
    std::vector<std::pair<std::string, Records>> keys;
    for (std::int32_t k = 0; k < 20; ++k) {
        keys.emplace_back(std::string(1, static_cast<char>('A' + k)), Records{k * 7 % 20 + 1});
    }
    keys[9].second.push_back(21);  // two records; an odd vector header after it
    const std::pair<std::function<void(std::vector<std::pair<std::string, Records>>&)>, std::string>
        faults[] = {
            {[](auto& ks) { ks[13].first = ks[12].first; }, "has key 13 out of order"},
            {[](auto& ks) { ks[13].second = {0}; }, "holds record 0 out of order or range"},
            {[](auto& ks) { ks[13].second = {22}; }, "holds record 22 out of order or range"},
            {[](auto& ks) { ks[13].second = ks[4].second; }, "lists record 9 under two keys"},
        };
    for (const auto& [fault, message] : faults) {
        auto faulty = keys;
        fault(faulty);
        KsIndex index('A', 3, 0);
        kstest::MemoryStream stream(AlphaFile(21, faulty));
        EXPECT_EQ("Index file \"memory\" " + message,
                  kstest::MessageOf([&] { index.Read(stream, true); }));
    }
    std::string file = AlphaFile(21, keys);
    const std::size_t key11 = 17 + 37 * 11 + 4;  // keys of one record take 37 bytes
    file.replace(key11 + 9 + 12, 4, std::string("\x08\0\0\0", 4)).insert(key11 + 37, "pad!");
    KsIndex index('A', 3, 21);
    kstest::MemoryStream stream(file);
    index.Read(stream);
    for (const auto& [text, records] : keys) {
        EXPECT_EQ(records, Found(index, text.c_str())) << text;
    }
    // Texts of ten bytes: the last two are compared with the six before them.
    using Ten = std::string;
    const std::tuple<Ten, Ten, std::string> tens[] = {
        {"ABCDEFGHI", "ABCDEFGHIJ", ""},
        {"ABCDEFGHIA", "ABCDEFGHIJ", ""},
        {"ABCDEFGHIJ", "ABCDEFGHIA", "has key 1 out of order"},
        {"ABCDEFGHIJ", "ABCDEFGHIJ", "has key 1 out of order"},
        {Ten("ABCDEFGH\0X", 10), Ten("ABCDEFGH\0Y", 10), "has key 1 out of order"}};
    for (const auto& [first, second, message] : tens) {
        KsIndex longer('A', 10, 2);
        kstest::MemoryStream longStream(AlphaFile(2, {{first, {2}}, {second, {1}}}, nullptr, 10));
        if (message.empty()) {
            EXPECT_NO_THROW(longer.Read(longStream)) << second;
        } else {
            EXPECT_EQ("Index file \"memory\" " + message,
                      kstest::MessageOf([&] { longer.Read(longStream); }));
        }
    }
    KsIndex cut('A', 3, 21);
    kstest::MemoryStream cutStream(file.substr(0, 17 + 37 * 15 + 8 + 30));
    EXPECT_EQ("Unable to perform a required read at offset 610 of \"memory\"",
              kstest::MessageOf([&] { cut.Read(cutStream); }));
}

}  // namespace
