#pragma once
/// @file
/// The type letters of fields: the byte a field's section stores under "Type", on which
/// records, keys, layouts and formats switch. KsField::GetTypeCString gives each letter the
/// name it has here; KsFieldType describes every one but the currency letter. The letters
/// of text and numbers come from the values layer, whose formats read them too.

#include "values/KsValueTypeLetters.h"

inline constexpr char KS_BINARY_FLD = 'Y';    ///< bytes of a fixed length
inline constexpr char KS_BLOB_FLD = 'B';      ///< the number of a blob in the blob file
inline constexpr char KS_DATE_FLD = 'D';      ///< a day
inline constexpr char KS_TIME_FLD = 'T';      ///< a time of day
inline constexpr char KS_STAMP_FLD = '@';     ///< a day and a time of day
inline constexpr char KS_BOOLEAN_FLD = 'L';   ///< true or false
inline constexpr char KS_CURRENCY_FLD = '$';  ///< a Number that holds money
