#pragma once
/// @file

#include <cstdint>
#include <memory>

#include "core/KsString.h"

class KsIniSection;
class KsInputStreamInterface;
class KsOutputStreamInterface;
class KsProgressInterface;

/// A filter converts a field's stored value to the text a user sees and back (filtering
/// and unfiltering). KsFilter is the polymorphic base; a field owns at most one filter and
/// keeps its settings in the field's section of the structure file.
///
/// The filter registry maps registry indexes (by default the class name) to prototypes, so
/// that an application can add filter classes of its own: a section naming a registry
/// index is read through a clone of the registered prototype. The built-in filters are
/// made from their type code and need no registration.
class KsFilter {
public:
    /// Type codes, stored as the integer "FilterType".
    enum Type : std::uint8_t {
        kNoFilter = 1,
        kStringFilter = 2,
        kNumberFilter = 3,
        kDateFilter = 4,
        kTimeFilter = 5,
        kTimestampFilter = 6,
    };

    /// The key of the filter's class in the registry; by default its class name.
    virtual const char* GetRegistryIndex() const { return GetClassnameCString(); }
    virtual ~KsFilter() = default;
    /// A new filter equal to this one.
    virtual std::unique_ptr<KsFilter> Clone() const = 0;
    /// The class name, as the registry and call paths use it.
    virtual const char* GetClassnameCString() const = 0;
    /// The filter's Type code.
    virtual std::uint8_t GetFilterType() const = 0;
    /// @{
    /// Reads or writes the filter's own settings in a section or a stream; malformed
    /// settings raise, naming the filter's class.
    virtual void Read(KsIniSection& section, KsProgressInterface& progress) = 0;
    virtual void Read(KsInputStreamInterface& stream, KsProgressInterface& progress) = 0;
    virtual void Write(KsIniSection& section, KsProgressInterface& progress) const = 0;
    virtual void Write(KsOutputStreamInterface& stream, KsProgressInterface& progress) const = 0;
    /// @}
    /// @{
    /// The section forms without a progress display; a null section is an error.
    void Read(KsIniSection* pIniSection);
    void Write(KsIniSection* pIniSection) const;
    /// @}

    /// A new filter of a built-in type: null for kNoFilter; the timestamp types come
    /// without a format. Any other code fails with "Unknown filter type %d".
    static std::unique_ptr<KsFilter> Instantiate(int type);
    /// A clone of the prototype registered under `index`; KsFilterRegistryException when
    /// there is none.
    static std::unique_ptr<KsFilter> GetFilterFromRegistry(const KsString& index);
    /// Takes ownership of `prototype` and registers it under its GetRegistryIndex(). A
    /// filter of type kNoFilter, an empty index and an index already taken are refused.
    static void RegisterFilter(std::unique_ptr<KsFilter> prototype);
    /// Removes a prototype; false when none was registered under `index`.
    static bool UnregisterFilter(const char* index);

    /// The filter a section describes ("FilterType", "KsFilter.RegistryIndex" and the
    /// filter's own keys), or null for no filter. An index that is not registered fails
    /// when `strict` is set and gives null otherwise; the index of a built-in class is
    /// served by its type code when no application registered it.
    static std::unique_ptr<KsFilter> ReadRegisteredFilterFromIniSection(
        KsIniSection& section, bool strict, KsProgressInterface& progress);
    /// Writes the filter's type code, its registry index and its own keys to the section.
    static void WriteRegisteredFilterToIniSection(KsIniSection& section, const KsFilter& filter,
                                                  KsProgressInterface& progress);

protected:
    /// Reads a stream header and fails with "Invalid ksfilter header information" unless
    /// it carries `marker` and `version`.
    static void ReadStreamHeader(KsInputStreamInterface& stream, char marker, std::int16_t version,
                                 const char* className);
    /// Raises "Invalid ksfilter header information" for the class.
    [[noreturn]] static void ThrowInvalidStreamHeader(const char* className);

    KsFilter() = default;
    /// @{
    /// Filters copy only through Clone.
    KsFilter(const KsFilter&) = default;
    KsFilter& operator=(const KsFilter&) = default;
    /// @}
};

/// @{
/// Ini keys shared by every filter.
inline constexpr const char* kKsFilterTypeKey = "FilterType";
inline constexpr const char* kKsFilterRegistryIndexKey = "KsFilter.RegistryIndex";
/// @}
