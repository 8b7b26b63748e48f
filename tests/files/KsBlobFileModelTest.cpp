// The blob file against a plain map of numbers to bytes and reference counts: thousands of
// random adds, reference changes, rewrites, frees, closes and reopens. After every close the
// file's bytes keep every rule of the format and every live blob reads back its bytes.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <string>

#include "BlobFileBytes.h"
#include "files/KsBlobFile.h"
#include "support/TempDir.h"

namespace {

struct ModelBlob {
    std::string bytes;
    std::int32_t references;
};
using Model = std::map<std::int32_t, ModelBlob>;

class BlobFileModel {
public:
    explicit BlobFileModel(std::uint32_t seed) : random_(seed) { Reopen(); }

    void Step() {
        std::uint32_t choice = Next(100);
        if (choice < 30 || model_.empty()) {
            Add();
        } else if (choice < 48) {
            ChangeReferences();
        } else if (choice < 58) {
            Rewrite();
        } else if (choice < 64) {
            std::int32_t number = Pick();
            file_->FreeDescriptor(number);
            model_.erase(number);
        } else if (choice < 67) {
            ToggleDelayedFree();
        } else if (choice < 70) {
            CloseAndCheck();
            Reopen();
        } else {
            std::int32_t number = Pick();
            ExpectBlob(number, model_[number].bytes);
        }
    }

    // Closing frees the blobs without references, even those kept while freeing was delayed.
    void CloseAndCheck() {
        file_->Close();
        DropAbandoned();
        delayed_ = false;
        CheckFile();
    }

    void CheckFile() {
        ASSERT_EQ(kstest::BrokenBlobFileRule(kstest::ReadWholeFile(path_)), "");
        KsBlobFile reader(path_.c_str(), IO_READ);
        for (std::int32_t n = 1; n <= reader.GetDescriptorCount(); ++n) {
            ASSERT_EQ(reader.GetDescriptor(n).HoldsBlob(), model_.count(n) == 1) << n;
        }
        for (const auto& [number, blob] : model_) {
            KsBlob out;
            reader.GetBlob(number, out);
            ASSERT_EQ(std::string(out.GetData() ? out.GetData() : "", out.GetSize()), blob.bytes);
            ASSERT_EQ(reader.GetDescriptor(number).link, blob.references);
        }
    }

    std::size_t LiveCount() const { return model_.size(); }

private:
    std::uint32_t Next(std::size_t bound) { return static_cast<std::uint32_t>(random_() % bound); }
    std::string RandomBytes() {
        std::uint32_t kind = Next(20);
        std::uint32_t size = kind < 14 ? Next(65) : kind < 19 ? Next(1000) : 6000;
        std::string bytes(size, '\0');
        for (char& c : bytes) {
            c = static_cast<char>(random_());
        }
        return bytes;
    }
    std::int32_t Pick() {
        auto it = model_.begin();
        std::advance(it, static_cast<long>(Next(model_.size())));
        return it->first;
    }
    void Add() {
        std::string bytes = RandomBytes();
        auto references = static_cast<std::int32_t>(1 + Next(2));
        std::int32_t number =
            file_->AddBlob(bytes.data(), static_cast<std::int32_t>(bytes.size()), references);
        ASSERT_EQ(model_.count(number), 0u) << "number " << number << " handed out twice";
        model_[number] = {bytes, references};
    }
    void ChangeReferences() {
        std::int32_t number = Pick();
        std::int32_t delta = static_cast<std::int32_t>(Next(4)) - 2;
        ModelBlob& blob = model_[number];
        blob.references += delta;
        ASSERT_EQ(file_->ChangeReferenceCount(number, delta), blob.references);
        if (blob.references < 1 && !delayed_) {
            model_.erase(number);
            ExpectNotInUse(number);
        }
    }
    void Rewrite() {
        std::int32_t number = Pick();
        std::string bytes = RandomBytes();
        file_->RewriteBlob(number, bytes.data(), static_cast<std::int32_t>(bytes.size()));
        model_[number].bytes = bytes;
    }
    void ToggleDelayedFree() {
        if (delayed_) {
            file_->ClearDelayedFree();
            DropAbandoned();
        } else {
            file_->SetDelayedFree();
        }
        delayed_ = !delayed_;
    }
    void DropAbandoned() {
        std::erase_if(model_, [](const auto& entry) { return entry.second.references < 1; });
    }
    void ExpectBlob(std::int32_t number, const std::string& bytes) {
        KsBlob out;
        file_->GetBlob(number, out);
        ASSERT_EQ(std::string(out.GetData() ? out.GetData() : "", out.GetSize()), bytes);
    }
    void ExpectNotInUse(std::int32_t number) {
        KsBlob out;
        EXPECT_THROW(file_->GetBlob(number, out), KsException);
    }
    void Reopen() {
        file_ = std::make_unique<KsBlobFile>(path_.c_str(), IO_READ | IO_WRITE);
        // A small limit stores blobs in the middle of a session as well as on close.
        file_->SetMemoryBlobLimit(static_cast<std::int64_t>(Next(8000)));
    }

    kstest::TempDir dir_;
    std::string path_ = dir_.File("model.ksb");
    std::mt19937 random_;
    Model model_;
    bool delayed_ = false;
    std::unique_ptr<KsBlobFile> file_;
};

TEST(KsBlobFileModelTest, RandomChangesMatchAPlainMap) {
    for (std::uint32_t seed : {1u, 2u, 3u}) {
        BlobFileModel model(seed);
        std::size_t mostLive = 0;
        for (int step = 0; step < 4000 && !::testing::Test::HasFatalFailure(); ++step) {
            model.Step();
            mostLive = std::max(mostLive, model.LiveCount());
        }
        model.CloseAndCheck();
        EXPECT_GT(mostLive, 50u);
    }
}

}  // namespace
