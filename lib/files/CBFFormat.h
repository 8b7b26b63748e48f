#pragma once
/// @file
/// The compressed binary table format: a data file ".cbf" of fixed-length records and a
/// header ".kss" (the table's structure file) that places every field down to the bit.
///
/// Data file: no header; record n (from 1) holds bytes (n - 1) * RecordLength to
/// n * RecordLength - 1. The record count is the file size divided by RecordLength; bytes
/// after the last whole record are not a record.
///
/// Record, as PackFields lays it out:
///   numbers    one 4-byte big-endian word per Number field, from offset 0
///   bit words  16-bit big-endian words holding the Short and Unsigned Short fields (and
///              user bit fields), first fit from the most significant bit
///   bytes      every other field as Length bytes
///
/// Encodings:
///   Number      value * divisor truncated toward zero (value alone with divisor 0). With
///               divisor 0 the word is two's complement; otherwise it is sign and
///               magnitude: bit 31 is the sign, bits 0-30 the magnitude (0x80000005 with
///               divisor 10 is -0.5).
///   Long, Unsigned Long   the 32-bit value
///   Short, Unsigned Short bits StartingBit ... StartingBit + NumberOfBits - 1 of the word,
///               counted from its most significant bit (1); unsigned, 0 to 2^bits - 1
///   Alpha       the text, NUL-padded to Length, cut when longer
///   Binary      Length raw bytes
///
/// Header keys beside those of every table (see KsFile and KsField):
///   [FileInfo]  NumberOfFields, RecordLength, NumberOfUserBitFields (when there are any),
///               FileTitle (read only: when not empty it becomes the title)
///   [Field&lt;n&gt;]  Type (a code, below), StartingBit, NumberOfBits, Divisor
///   [UserBitField&lt;i&gt;], from 0: NumberOfBits, StartingBit (bit offset in the record + 1)
///
/// A header opens only when it places its fields as the layout would: every field that is
/// not mapped has Length and ByteOffset (bit fields also StartingBit and NumberOfBits,
/// Numbers also Divisor), the length of its type (4 for Number, Long and Unsigned Long, 2
/// for a bit field, 1 to 8191 for a text, 1 or more otherwise), lies inside RecordLength
/// and shares no byte with another field; bit fields hold 1 to 16 bits inside their word
/// and may share a word, not a bit. A mapped field takes its target's place by design.

#include <cstdint>

/// The extension of data files.
inline constexpr const char* kCBFDataExtension = ".cbf";
/// The format's display name.
inline constexpr const char* kCBFTypeName = "TARN Compressed Binary File";

/// @{
/// Header keys of the format (see the file notes); kCBFUserBitFieldSection is a
/// printf pattern for the section of user bit field i.
inline constexpr const char* kCBFNumberOfFieldsKey = "NumberOfFields";
inline constexpr const char* kCBFRecordLengthKey = "RecordLength";
inline constexpr const char* kCBFNumberOfUserBitFieldsKey = "NumberOfUserBitFields";
inline constexpr const char* kCBFFileTitleKey = "FileTitle";
inline constexpr const char* kCBFStartingBitKey = "StartingBit";
inline constexpr const char* kCBFNumberOfBitsKey = "NumberOfBits";
inline constexpr const char* kCBFDivisorKey = "Divisor";
inline constexpr const char* kCBFUserBitFieldSection = "UserBitField%d";
/// @}

/// Type codes under "Type". Written: "3" Number, "2" Unsigned Short, "0" Short, and the type
/// letter for every other type, so that a header reads back as it was written. Read: "0"
/// and "1" are Short, "2" Unsigned Short, "3" Number; anything else is a type letter.
/// @{
inline constexpr char kCBFShortCode = '0';
inline constexpr char kCBFShortCodeAlternative = '1';
inline constexpr char kCBFUnsignedShortCode = '2';
inline constexpr char kCBFNumberCode = '3';
/// @}

/// Bits of a word, and the largest value a bit string reaches.
inline constexpr std::uint32_t kCBFWordBits = 16;
/// Bytes of a Number, Long or Unsigned Long.
inline constexpr std::int16_t kCBFNumberBytes = 4;
/// Bytes of a bit word.
inline constexpr std::int16_t kCBFWordBytes = 2;
/// The data file's buffer.
inline constexpr std::int32_t kCBFBufferSize = 64000;
/// The format level the file reports (GetFormatLevel).
inline constexpr std::int32_t kCBFFormatLevel = 40;
