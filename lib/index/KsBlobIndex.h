#pragma once
/// @file
/// The index of a Blob field: every overlapping three-character piece of a record's blob
/// text (upper-cased) is a key holding the record, so a search for a text keeps the records
/// whose blobs hold each of its pieces. Only equality searches exist; a piece of the search
/// text that no blob holds leaves the result as it is. Blobs are read from the table's blob
/// file, which must outlive the index.

#include <cstdint>

#include "index/KsIndex.h"

class KsBlobFile;

/// The index of a Blob field (see the file notes).
class KsBlobIndex : public KsIndex {
public:
    /// The characters of one piece.
    static constexpr std::uint16_t kPieceLength = 3;

    /// An empty index over recordCount records whose blobs are read from `blobs` (not
    /// owned).
    KsBlobIndex(KsBlobFile& blobs, std::int32_t recordCount);

    /// Adds record `record` under every piece of the blob `blobReference` (none when
    /// negative); other records keep their numbers.
    void InsertRecord(std::int32_t record, std::int32_t blobReference);
    /// @{
    /// `low` is the search text (NUL-terminated); a range fails with "Blob fields may only
    /// be searched for equivalence".
    void Search(const void* low, const void* high, KsSet& result,
                bool alternateOrder = false) override;
    void MaskedSearch(const void* low, const void* high, KsSet& result, const KsSet& mask,
                      bool alternateOrder = false) override;
    /// @}

private:
    KsBlobFile& blobs_;
};
