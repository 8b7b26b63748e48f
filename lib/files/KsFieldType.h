#pragma once
/// @file
/// The descriptor of one field type letter: its display name and the bounds a value (for
/// numeric types) or a length in bytes (for the others) must keep. There are twelve
/// descriptors, one per type letter; the currency letter '$' has none. File types publish
/// the descriptors of the types they support as references to these constants.

#include <cstdint>

#include "core/KsString.h"
#include "core/KsVector.h"

/// The descriptor of one field type letter (see the file notes).
class KsFieldType {
public:
    /// A descriptor with the given letter, display name (copied) and bounds.
    KsFieldType(bool numeric, char letter, const char* name, double lowerBound, double upperBound,
                bool secondFlag);

    /// The bounds are value bounds (true) or length bounds (false).
    bool IsNumeric() const { return numeric_; }
    /// The type letter, as stored in a field's "Type" key.
    char GetLetter() const { return letter_; }
    /// The display name ("Alpha", "Number", ...); valid while the descriptor is.
    const char* GetName() const { return name_.GetCString(); }
    /// The smallest value, or the shortest length, a field of the type may have.
    double GetLowerBound() const { return lowerBound_; }
    /// The largest value, or the longest length, a field of the type may have.
    double GetUpperBound() const { return upperBound_; }
    /// Set for every type but Boolean. It travels with the descriptor for the programs
    /// that list it; nothing in the library reads it.
    bool GetSecondFlag() const { return secondFlag_; }

    /// The descriptor of a type letter, or null when the letter has none. Descriptors
    /// live as long as the program.
    static const KsFieldType* Find(char letter);
    /// All twelve descriptors: A, Y, I, S, U, W, N, D, T, @, L, B.
    static const KsVector<const KsFieldType*>& GetAll();

private:
    bool numeric_;
    char letter_;
    KsString name_;
    double lowerBound_;
    double upperBound_;
    bool secondFlag_;
};
