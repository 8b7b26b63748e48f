#pragma once
/// @file
/// The type letters of the values that formats read: text and the five kinds of number. The
/// same bytes are the type letters of fields (see files/KsFieldTypeLetters.h, which adds
/// the rest).

inline constexpr char KS_ALPHA_FLD = 'A';   ///< text of a fixed length
inline constexpr char KS_LONG_FLD = 'I';    ///< a signed 32-bit integer
inline constexpr char KS_ULONG_FLD = 'W';   ///< an unsigned 32-bit integer
inline constexpr char KS_SHORT_FLD = 'S';   ///< a signed 16-bit integer
inline constexpr char KS_USHORT_FLD = 'U';  ///< an unsigned 16-bit integer
inline constexpr char KS_NUMBER_FLD = 'N';  ///< a floating-point number
