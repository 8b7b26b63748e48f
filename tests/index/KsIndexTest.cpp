#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
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
#include "support/FaultInjectingFile.h"
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

// The message of the error that reading `file` gives, or "" when it reads.
std::string ReadError(KsIndex& index, const std::string& file) {
    kstest::MemoryStream stream(file);
    try {
        index.Read(stream, true);
    } catch (const KsException& error) {
        return error.GetErrorMessage();
    }
    return "";
}

// Index files written once each under a name of their own, since a file that an opened
// index may still map is never written again; opened for reading as a table opens them.
class IndexFiles {
public:
    std::unique_ptr<KsIOInterface> Write(const std::string& bytes) {
        name_ = directory_.File("index" + std::to_string(++count_) + ".kix");
        kstest::WriteWholeFile(name_, bytes);
        return KsIOFactory::Default().Open(name_.c_str(), IO_READ);
    }
    // The last file's name.
    const std::string& Name() const { return name_; }

private:
    kstest::TempDir directory_;
    std::string name_;
    int count_ = 0;
};

// The message of the error that opening `bytes` as an index file (mapped) gives, or "" when
// it opens; the file's name reads "memory" in the message, as a stream's does.
std::string OpenError(KsIndex& index, IndexFiles& files, const std::string& bytes,
                      bool ignoreRecordCount = true) {
    std::unique_ptr<KsIOInterface> file = files.Write(bytes);
    try {
        index.Open(*file, ignoreRecordCount);
    } catch (const KsException& error) {
        std::string message = error.GetErrorMessage();
        std::size_t at = message.find(files.Name());
        return at == std::string::npos ? message
                                       : message.replace(at, files.Name().size(), "memory");
    }
    EXPECT_TRUE(index.IsMapped());
    return "";
}

// The message of the error that reading an opened index whole gives, named as OpenError
// names it, or "".
std::string UnmapError(KsIndex& index, const IndexFiles& files) {
    try {
        index.Unmap();
    } catch (const KsException& error) {
        std::string message = error.GetErrorMessage();
        std::size_t at = message.find(files.Name());
        return at == std::string::npos ? message
                                       : message.replace(at, files.Name().size(), "memory");
    }
    return "";
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

// Typed keys answer as their comparable bytes do; a key of another class or length is
// refused before a byte of it is read.
TEST(KsIndex, TypedSearchesCheckTheKeyAgainstTheIndex) {
    auto index = AlphaIndex({"A", "B", "b", "C", "D"});
    auto key = [](char type, std::uint32_t length, const std::string& comparable) {
        std::unique_ptr<KsRecordKey> made = KsRecordKey::Instantiate(type, length);
        made->SetComparableKey(comparable.data());
        return made;
    };
    const auto low = key('A', 3, Key3("B")), high = key('A', 3, Key3("C"));
    KsSet found, masked, mask(5);
    mask.SelectRecord(4, true);
    index->Search(*low, high.get(), found);
    EXPECT_EQ((Records{2, 4}), kstest::Members(found));
    index->MaskedSearch(*low, high.get(), masked, mask);
    EXPECT_EQ((Records{4}), kstest::Members(masked));
    index->Search(*low, nullptr, found, true);
    EXPECT_EQ((Records{2, 3, 4}), kstest::Members(found));
    const struct {
        char type;
        std::uint32_t length;
        const char* message;
    } wrong[] = {
        {'A', 4,
         "The search key's low value (4 bytes) does not fit the index of a field of "
         "type 'A', whose keys have 3 bytes."},
        {'I', 0,
         "The search key's low value (4 bytes) does not fit the index of a field of "
         "type 'A', whose keys have 3 bytes."},
    };
    for (const auto& row : wrong) {
        const auto other = key(row.type, row.length, std::string(8, '\0'));
        EXPECT_EQ(kstest::MessageOf([&] { index->Search(*other, nullptr, found); }), row.message);
    }
    // A Long key given to the Number index of a Long field laid out without preset bits.
    KsIndex numbers('N', 0, 0);
    const auto longKey = key('I', 0, std::string(4, '\0'));
    EXPECT_EQ(kstest::MessageOf([&] {
                  numbers.Search(*key('N', 0, std::string(8, '\0')), longKey.get(), found);
              }),
              "The search key's high value (4 bytes) does not fit the index of a field of "
              "type 'N', whose keys have 8 bytes.");
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

// Versions 510, 420 and 400 are read or mapped from a file holding an index and more, which
// both leave just after the index; a file of another table is refused.
TEST(KsIndex, ReadsVersions420And400AndChecksWhatItReads) {
    auto source = AlphaIndex({"AB", "C", "AB"});
    std::string v510 = Bytes(*source);
    std::string v400 = Bytes(*source, KsIndex::kVersion400);
    std::string v420 = Bytes(*source, KsIndex::kVersion420);
    EXPECT_EQ(v400, v510.substr(0, v400.size()).replace(4, 2, "\x90\x01", 2));
    EXPECT_EQ(v420.substr(v400.size()), "\x01" + v510.substr(v510.size() - 16));
    IndexFiles files;
    for (const std::string& bytes : {v510, v420, v400}) {
        // Read; opened from a file open for reading (mapped); opened from a file open for
        // writing too, which may hold bytes not yet written (read).
        for (int how : {0, 1, 2}) {
            std::unique_ptr<KsIOInterface> file = files.Write(bytes + "tail");
            if (how == 2) {
                file = KsIOFactory::Default().Open(files.Name().c_str(), IO_READ | IO_WRITE);
            }
            KsIndex read('A', 3, 3);
            how == 0 ? read.Read(*file) : read.Open(*file);
            EXPECT_EQ(how == 1, read.IsMapped());
            EXPECT_EQ((Records{1, 3}), Found(read, "AB", "B"));
            char tail[5] = {};
            EXPECT_EQ(4, file->Read(tail, 5, false));
            EXPECT_STREQ("tail", tail);
            EXPECT_TRUE(read.IsSameAs(*source));
            EXPECT_FALSE(read.IsMapped());  // its keys were made
        }
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
        EXPECT_EQ(message, OpenError(index, files, v510, false));
    }
    // The compact vector (version 530: count, growth, records) is read and searched too.
    const std::string vector400("\0\0\0\0\x90\x01\x04\0\x80\0\0\0\x04\0\0\0", 16);
    const std::string vector530("\0\0\0\0\x12\x02", 6);
    std::string compact = v400;
    compact.replace(compact.find(vector400), vector400.size(), vector530);
    for (bool mapped : {false, true}) {
        KsIndex read('A', 3, 3);
        kstest::MemoryStream compactStream(compact);
        mapped ? (void)OpenError(read, files, compact) : read.Read(compactStream);
        EXPECT_EQ((Records{2}), Found(read, "C"));
        EXPECT_EQ((Records{1, 2, 3}), Found(read, "A", "D"));
        EXPECT_TRUE(read.IsSameAs(*source));
    }
}

// Every cut of a file (within a set, a vector, the inverse index) gives an error, the same
// when the file is mapped, and the index read into stays as it was (other damage is the
// index file fuzzer's).
TEST(KsIndex, HostileFilesGiveErrorsAndLeaveTheIndexAlone) {
    std::string bytes = Bytes(*AlphaIndex({"AB", "C", "AB", "D", "C"}));
    IndexFiles files;
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        auto read = AlphaIndex({"X", "Y", "Z", "X", "X"});
        std::string message = ReadError(*read, bytes.substr(0, cut));
        EXPECT_NE("", message) << cut;
        EXPECT_EQ(message, OpenError(*read, files, bytes.substr(0, cut))) << cut;
        EXPECT_EQ((Records{1, 4, 5}), Found(*read, "X"));
        EXPECT_FALSE(read->IsMapped());
    }
}

// A read or mapped index answers from its file's bytes until it changes: every search
// before and after a change must answer as the index the file was written from.
TEST(KsIndex, ReadIndexAnswersAndChangesLikeTheIndexItWasWrittenFrom) {
    std::mt19937 random(21);
    const std::int16_t versions[] = {KsIndex::kVersion, KsIndex::kVersion420, KsIndex::kVersion400};
    IndexFiles files;
    for (int trial = 0; trial < 240; ++trial) {
        const bool mapped = trial / 2 % 2 == 1;
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
        if (mapped) {
            ASSERT_EQ("", OpenError(read, files, stream.Bytes()));
        } else {
            read.Read(stream);
        }
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
        ASSERT_EQ(mapped, read.IsMapped());  // searches answer from the mapping
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

using Keys = std::vector<std::pair<std::string, Records>>;

// An index file of Alpha keys of length 3 (8 value bytes each) or 10 (12 bytes) over
// `records` records, its record lists in the vector form, with an inverse index of these
// entries unless none are given. The list of key `padded` declares four bytes more, which
// "pad!" fills.
std::string AlphaFile(const Keys& keys, const Records& inverse = {}, std::int32_t records = 3,
                      std::uint16_t length = 3, std::size_t padded = SIZE_MAX) {
    std::string out;
    auto put = [&out](std::int64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            out += static_cast<char>((value >> (8 * i)) & 0xFF);
        }
    };
    auto vector = [&](const Records& entries, bool pad) {
        put(0, 4), put(400, 2), put(4, 2), put(128, 4);
        put(4 * std::ssize(entries) + (pad ? 4 : 0), 4), put(std::ssize(entries), 4), put(0, 4);
        for (std::int32_t entry : entries) {
            put(entry, 4);
        }
        out += pad ? "pad!" : "";
    };
    put(3, 4), put(510, 2), out += 'A', put(length, 2), put(records, 4), put(std::ssize(keys), 4);
    for (std::size_t k = 0; k < keys.size(); ++k) {
        const std::string& text = keys[k].first;
        out += text + std::string((length < 8 ? 8 : length + 2) - text.size(), '\0') + '\0';
        vector(keys[k].second, k == padded);
    }
    out += inverse.empty() ? '\0' : '\1';
    if (!inverse.empty()) {
        vector(inverse, false);
    }
    return out;
}

// Every fault of a file's keys, record lists and inverse index is found and named, also
// inside a run of keys of one record, which is read a batch at a time with its own key
// numbers. Texts compare only up to their first NUL, eight bytes at a time, the last few
// of a longer text with the bytes before them. A mapped file shows faults of its bounds
// and counts when it is opened, the others when it is first read whole; searches before
// that may answer wrongly or fail, but read nothing outside the file.
TEST(KsIndex, ReadFindsEveryFaultOfTheKeysAndRecords) {
    Keys run;  // keys of one record each, but key 9 of two; with their inverse index
    Records inverse(22, -1);
    for (std::int32_t k = 0; k < 20; ++k) {
        run.emplace_back(std::string(1, static_cast<char>('A' + k)), Records{k * 7 % 20 + 1});
        inverse[static_cast<std::size_t>(k * 7 % 20 + 1)] = k;
    }
    run[9].second.push_back(21), inverse[21] = 9;
    auto runWith = [&run](std::string text, Records records) {
        Keys keys = run;
        keys[13] = {std::move(text), std::move(records)};
        return AlphaFile(keys, {}, 21, 3, 11);
    };
    const Keys split{{"AB", {1, 3}}, {"C", {2}}};
    using Ten = std::string;
    auto ten = [](const Ten& first, const Ten& second) {
        return AlphaFile({{first, {2}}, {second, {1}}}, {}, 2, 10);
    };
    // A set of records 1 and 3 of 3 (bits 0xA0, 2 selected), its count and bits given.
    const std::string set =
        AlphaFile({{"AB", {}}, {"C", {2}}})
            .replace(17 + 8, 25,
                     std::string("\x01\x0B\0\0\0\x90\x01\x03\0\0\0\x01\0\0\0\x02\0\0\0\xA0", 20));
    auto setWith = [&set](std::size_t at, const std::string& bytes) {
        return std::string(set).replace(at, bytes.size(), bytes);
    };
    constexpr bool kAtOpen = true;
    const std::tuple<std::string, std::string, bool> cases[] = {
        {AlphaFile({{"AB", {1}}, {"AB", {2, 3}}}), "has key 1 out of order", false},
        {AlphaFile({{Ten("A\0X", 3), {1, 2}}, {Ten("A\0Y", 3), {3}}}), "has key 1 out of order",
         false},
        {runWith("L", {13}), "has key 13 out of order", false},
        {runWith("N", {0}), "holds record 0 out of order or range", false},
        {runWith("N", {22}), "holds record 22 out of order or range", false},
        {AlphaFile({{"AB", {2, 1, 3}}}), "holds record 1 out of order or range", false},
        {AlphaFile({{"AB", {}}, {"C", {1, 2, 3}}}), "has key 0 without records", kAtOpen},
        {AlphaFile({{"AB", {1, 2}}, {"C", {2}}}), "lists record 2 under two keys", false},
        {AlphaFile({{"AB", {1, 2}}, {"C", {2, 3}}}), "lists 4 records for 3 records", kAtOpen},
        {AlphaFile({{"AB", {1}}}, {}, 0x7FFFFFFF), "lists 1 records for 2147483647 records",
         kAtOpen},
        // A count whose byte size passes 32 bits is still held against the declared bytes.
        {AlphaFile({{"AB", {1}}}, {}, 0x7FFFFFFF).replace(17 + 9 + 16, 4, "\0\0\0\x40", 4),
         "holds a vector of 1073741824 records for 2147483647 records", kAtOpen},
        {AlphaFile(split, {-1, 0, 0, 0}), "has an inverse index that disagrees with its keys",
         false},
        {AlphaFile(split, {-1, 1, 0, 7}), "has an inverse entry of key 7", false},
        {set, "", false},
        {setWith(40, "\xFF\xFF\xFF\xFF"), "", false},  // its count left to the reader
        {setWith(44, "\xA1"), "Set of \"memory\" has bits set beyond its 3 records", false},
        {setWith(44, "\x80"), "Set of \"memory\" gives 2 selected records but selects 1", false},
        {setWith(44, std::string(1, '\0')),
         "Compressed set of \"memory\" expands beyond its 1 bytes", kAtOpen},
        {setWith(32, "\x04"), "holds a set of 4 records for 3 records", kAtOpen},
        {ten("ABCDEFGHI", "ABCDEFGHIJ"), "", false},
        {ten("ABCDEFGHIJ", "ABCDEFGHIA"), "has key 1 out of order", false},
        {ten("ABCDEFGHIJ", "ABCDEFGHIJ"), "has key 1 out of order", false},
        {ten(Ten("ABCDEFGH\0X", 10), Ten("ABCDEFGH\0Y", 10)), "has key 1 out of order", false},
        {ten(Ten("A\0XXXXXXXX", 10), Ten("A\0XXXXXXXY", 10)), "has key 1 out of order", false},
    };
    IndexFiles files;
    for (const auto& [file, message, atOpen] : cases) {
        const auto length = static_cast<std::uint16_t>(file[7]);
        const bool ofSet = message.find("\"memory\"") != std::string::npos;
        const std::string named =
            message.empty() || ofSet ? message : "Index file \"memory\" " + message;
        KsIndex index('A', length, 0);
        EXPECT_EQ(named, ReadError(index, file));
        KsIndex mapped('A', length, 0);
        EXPECT_EQ(atOpen ? named : "", OpenError(mapped, files, file)) << message;
        if (!atOpen) {
            const std::string low(length, '\0'), high(length, '\xFF');
            Answer(mapped, low, &high, nullptr, false);
            EXPECT_EQ(named, UnmapError(mapped, files)) << message;
            EXPECT_EQ(!named.empty(), mapped.IsMapped());
        }
    }
    // The padded list breaks the run, which goes on after it; an end inside the run is named.
    const std::string padded = AlphaFile(run, inverse, 21, 3, 11);
    const std::string cut = padded.substr(0, 17 + 37 * 15 + 8 + 30);
    KsIndex index('A', 3, 4), mapped('A', 3, 4);  // take the file's record count
    EXPECT_EQ("", ReadError(index, padded));
    EXPECT_EQ("", OpenError(mapped, files, padded));
    for (KsIndex* read : {&index, &mapped}) {
        EXPECT_TRUE(read->HasInverseIndex());
        for (const auto& [text, records] : run) {
            EXPECT_EQ(records, Found(*read, text.c_str())) << text;
        }
    }
    EXPECT_EQ("Unable to perform a required read at offset 610 of \"memory\"",
              ReadError(index, cut));
    EXPECT_EQ("Unable to perform a required read at offset 610 of \"memory\"",
              OpenError(mapped, files, cut));
}

// Files far larger than the pieces they are read in, from a file, a stream and a mapping: Alpha
// keys of one record each but the last, and Long keys, some holding many records as sets
// (many values lie across the pieces' ends).
TEST(KsIndex, ReadsLargeFilesAcrossItsReadingPieces) {
    std::mt19937 random(5);
    kstest::TempDir directory;
    std::string name = directory.File("large.kix");
    using Kind = std::tuple<char, std::int32_t, std::uint16_t>;  // type, records, key length
    for (const auto& [type, count, length] : {Kind{'A', 60000, 10}, Kind{'I', 200000, 4}}) {
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
        std::unique_ptr<KsIOInterface> mapped = KsIOFactory::Default().Open(name.c_str(), IO_READ);
        kstest::MemoryStream stream(bytes);
        for (KsInputStreamInterface* in :
             std::initializer_list<KsInputStreamInterface*>{file.get(), &stream, mapped.get()}) {
            KsIndex read(type, length, count);
            in == mapped.get() ? read.Open(*mapped) : read.Read(*in);
            for (std::int32_t k = 0; k < source.GetKeyCount(); k += 97) {
                std::string low(length, '\0');
                source.GetKey(k).Value().GetComparableKey(low.data());
                ASSERT_EQ(Answer(source, low, nullptr, nullptr, false),
                          Answer(read, low, nullptr, nullptr, false))
                    << type << k;
            }
            EXPECT_EQ(bytes, Bytes(read)) << type;
        }
        EXPECT_EQ(static_cast<std::int64_t>(bytes.size()), file->Tell64()) << type;
        EXPECT_EQ(static_cast<std::int64_t>(bytes.size()), mapped->Tell64()) << type;
    }
}

// Keys of one record each have their stored inverse checked against their records, over
// several blocks of entries, and refused as any other file's when it is no inverse of them;
// the inverse, not kept while unchanged, is made again when the read index changes.
TEST(KsIndex, OneRecordKeysCheckTheirStoredInverseAndFollowChanges) {
    constexpr std::int32_t kCount = 5003;  // entries past the first block of 4096
    Keys keys;
    Records inverse(kCount + 1, -1);
    auto text = [](std::int32_t k) {
        char bytes[11] = {};
        std::snprintf(bytes, sizeof bytes, "K%05d", k);
        return std::string(bytes, 10);
    };
    for (std::int32_t k = 0; k < kCount; ++k) {
        std::int32_t r = k * 7919 % kCount + 1;
        keys.emplace_back(text(k).c_str(), Records{r});
        inverse[static_cast<std::size_t>(r)] = k;
    }
    auto file = [&](std::vector<std::pair<std::int32_t, std::int32_t>> changes,
                    bool twice = false) {
        Records changed = inverse;
        for (auto [r, key] : changes) {
            changed[static_cast<std::size_t>(r)] = key;
        }
        Keys listed = keys;  // with twice, key 4100 holds the record of key 4101 too
        listed[4100].second = twice ? listed[4101].second : listed[4100].second;
        return AlphaFile(listed, changed, kCount, 10);
    };
    const std::string twice =
        "lists record " + std::to_string(keys[4101].second[0]) + " under two keys";
    const std::string cut = file({}, true).substr(0, file({}).size() - 2);
    const std::string disagrees = "has an inverse index that disagrees with its keys";
    const std::string cutShort = "Unable to perform a required read at offset 225179 of \"memory\"";
    // The file, what reading it says, and what opening it mapped says (a fault of the inverse
    // index's entries is found when the mapped file is first read whole).
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {file({{0, 0}}), disagrees, ""},
        {file({{kCount, -1}}), disagrees, ""},
        {file({{4100, inverse[4101]}}), disagrees, ""},  // two records of one key
        {file({{4100, inverse[4101]}, {4101, inverse[4100]}}), disagrees, ""},
        {file({{5, inverse[6]}, {4500, kCount}}), "has an inverse entry of key 5003", ""},
        {file({}).substr(0, file({}).size() - 2), cutShort, cutShort},
        {file({}, true), twice, ""},
        {cut, twice, cutShort},
        {cut.substr(0, 205140) + '\0', twice, ""},  // without an inverse
    };
    IndexFiles files;
    for (const auto& [bytes, message, atOpen] : cases) {
        const std::string named =
            message.starts_with("Unable") ? message : "Index file \"memory\" " + message;
        KsIndex index('A', 10, kCount), mapped('A', 10, kCount);
        EXPECT_EQ(named, ReadError(index, bytes));
        EXPECT_EQ(atOpen, OpenError(mapped, files, bytes));
        if (atOpen.empty()) {
            EXPECT_EQ(named, UnmapError(mapped, files));
        }
    }
    // A model built from the same keys, whose inverse is made from its key objects.
    auto model = [&] {
        auto index = std::make_unique<KsIndex>('A', 10, kCount);
        for (std::int32_t k = 0; k < kCount; ++k) {
            index->SetRecord(keys[static_cast<std::size_t>(k)].second[0], text(k).data());
        }
        index->BuildInverseIndex(KsNullProgress::Instance());
        return index;
    };
    const std::string written = Bytes(*model());
    ASSERT_EQ(file({}), written);
    const std::string added = text(kCount);
    // A mapped index answers from the records in its file until searches have taken a
    // quarter of them, then from the array they are copied to.
    const std::pair<std::int32_t, std::int32_t> ranges[] = {
        {17, 1200}, {1000, 5002}, {4, 4}, {0, 5003}};
    for (int change = 0; change < 10; ++change) {
        KsIndex read('A', 10, kCount);
        ASSERT_EQ("", change < 5 ? ReadError(read, written) : OpenError(read, files, written));
        EXPECT_TRUE(read.HasInverseIndex());
        std::unique_ptr<KsIndex> expected = model();
        for (const auto& [low, high] : ranges) {
            const std::string top = text(high);
            ASSERT_EQ(Answer(*expected, text(low), &top, nullptr, false),
                      Answer(read, text(low), &top, nullptr, false));
        }
        EXPECT_EQ(change >= 5, read.IsMapped());
        for (KsIndex* index : {expected.get(), &read}) {
            if (change % 5 == 0) {
                index->UpdateRecord(4600, text(3).data());
            } else if (change % 5 == 1) {
                index->InsertRecord(4200, added.data());
            } else if (change % 5 == 2) {
                index->DeleteRecord(kCount);
            } else if (change % 5 == 3) {
                index->SetRecord(4600, added.data());
            }  // else unchanged
        }
        EXPECT_EQ(Bytes(*expected), Bytes(read)) << change;  // the inverse index too
    }
}

}  // namespace
