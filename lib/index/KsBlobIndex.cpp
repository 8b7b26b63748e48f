#include "index/KsBlobIndex.h"

#include <cctype>
#include <string>

#include "core/KsCallpath.h"
#include "core/KsException.h"
#include "files/KsBlobFile.h"
#include "index/KsSet.h"
#include "io/KsBlob.h"

namespace {

constexpr const char* kClass = "KsBlobIndex";

std::string UpperCased(const char* text, std::size_t length) {
    std::string upper(text, length);
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return upper;
}

}  // namespace

KsBlobIndex::KsBlobIndex(KsBlobFile& blobs, std::int32_t recordCount)
    : KsIndex('B', kPieceLength, recordCount), blobs_(blobs) {}

void KsBlobIndex::InsertRecord(std::int32_t record, std::int32_t blobReference) {
    KsCallpath("InsertRecord()", kClass, [&] {
        if (blobReference < 0) {
            return;
        }
        KsBlob blob;
        blobs_.GetBlob(blobReference, blob);
        std::string text = UpperCased(blob.GetData(), blob.GetSize());
        for (std::size_t i = 0; i + kPieceLength <= text.size(); ++i) {
            SetRecord(record, text.data() + i);
        }
        SetModified(true);
    });
}

void KsBlobIndex::Search(const void* low, const void* high, KsSet& result, bool) {
    KsCallpath("Search", kClass, [&] {
        if (high != nullptr) {
            KsException::Generate("Blob fields may only be searched for equivalence", kClass);
        }
        const char* given = static_cast<const char*>(low);
        std::string text = UpperCased(given, std::char_traits<char>::length(given));
        result.Reset(GetRecordCount(), true);
        KsSet piece(GetRecordCount());
        for (std::size_t i = 0; i + kPieceLength <= text.size(); ++i) {
            Prototype().Value().SetComparableKey(text.data() + i);
            std::int32_t number = FindPrototype();
            if (number >= 0) {
                piece.NoRecords();
                GetKey(number).GetSet(piece);
                result.AndSet(piece);
            }
        }
    });
}

void KsBlobIndex::MaskedSearch(const void* low, const void* high, KsSet& result, const KsSet& mask,
                               bool alternateOrder) {
    KsCallpath("Search", kClass, [&] {
        KsSet found;
        Search(low, high, found, alternateOrder);
        found.AndSet(mask);
        if (result.GetSize() != GetRecordCount()) {
            result.Init(GetRecordCount());
        }
        result.OrSet(found);
    });
}
