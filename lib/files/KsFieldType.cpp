#include "files/KsFieldType.h"

#include <limits>

#include "files/KsFieldTypeLetters.h"

namespace {

// Built on first use, so that file types made in static initialisers find them.
const KsVector<const KsFieldType*>& Descriptors() {
    constexpr double kNumberLow = std::numeric_limits<double>::min();
    constexpr double kNumberHigh = std::numeric_limits<double>::max();
    static const KsFieldType types[] = {
        {false, KS_ALPHA_FLD, "Alpha", 0, 255, true},
        {false, KS_BINARY_FLD, "Binary", 0, 255, true},
        {true, KS_LONG_FLD, "Long", -2147483648.0, 2147483647.0, true},
        {true, KS_SHORT_FLD, "Short", -32768, 32767, true},
        {true, KS_USHORT_FLD, "Unsigned Short", 0, 65535, true},
        {true, KS_ULONG_FLD, "Unsigned Long", 0, 4294967295.0, true},
        {true, KS_NUMBER_FLD, "Number", kNumberLow, kNumberHigh, true},
        {false, KS_DATE_FLD, "Date", 8, 8, true},
        {false, KS_TIME_FLD, "Time", 9, 9, true},
        {false, KS_STAMP_FLD, "Timestamp", 17, 17, true},
        {true, KS_BOOLEAN_FLD, "Boolean", 0, 1, false},
        {false, KS_BLOB_FLD, "Blob", 0, 4294967295.0, true},
    };
    static const KsVector<const KsFieldType*> all = [] {
        KsVector<const KsFieldType*> list;
        for (const KsFieldType& type : types) {
            list.push_back(&type);
        }
        return list;
    }();
    return all;
}

}  // namespace

KsFieldType::KsFieldType(bool numeric, char letter, const char* name, double lowerBound,
                         double upperBound, bool secondFlag)
    : numeric_(numeric),
      letter_(letter),
      name_(name),
      lowerBound_(lowerBound),
      upperBound_(upperBound),
      secondFlag_(secondFlag) {}

const KsFieldType* KsFieldType::Find(char letter) {
    for (const KsFieldType* type : Descriptors()) {
        if (type->GetLetter() == letter) {
            return type;
        }
    }
    return nullptr;
}

const KsVector<const KsFieldType*>& KsFieldType::GetAll() {
    return Descriptors();
}
