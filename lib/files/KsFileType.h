#pragma once
/// @file
/// KsFileType describes one concrete table format: its name, the extension of its data
/// files, the field types it stores, and it makes file objects of that format. Each format
/// has one process-wide object (CBFFileType::Instance() for compressed binary tables).

#include <memory>

#include "core/KsVector.h"
#include "io/KsIOFactory.h"

class KsFieldType;
class KsFile;
class KsInputStreamInterface;

/// One concrete table format (see the file notes).
class KsFileType {
public:
    virtual ~KsFileType() = default;
    /// A new object of the same format, owned by the caller.
    virtual std::unique_ptr<KsFileType> Clone() const = 0;
    /// Appends the descriptors of the field types the format stores, in its own order.
    virtual void GetSupportedFieldTypes(KsVector<const KsFieldType*>& types) const = 0;
    /// The format's display name.
    virtual const char* GetTypeName() const = 0;
    /// The extension of data files, with its dot (".cbf").
    virtual const char* GetDataFileExtension() const = 0;
    /// Whether the format can make new files from a field list (Create).
    virtual bool CanCreateFiles() const = 0;
    /// Whether the format lays out a field list itself (PackFields).
    virtual bool CanPackFields() const = 0;
    /// A new, closed file object of the format, owned by the caller, whose files go
    /// through `factory` (which must outlive it).
    virtual std::unique_ptr<KsFile> NewFile(
        KsIOFactory& factory = KsIOFactory::Default()) const = 0;
    /// A file object read from a stream (as KsFile writes itself), owned by the caller;
    /// stream errors and refused contents raise KsException.
    virtual std::unique_ptr<KsFile> ReadFile(
        KsInputStreamInterface& stream, KsIOFactory& factory = KsIOFactory::Default()) const = 0;

protected:
    /// Made by the format's own class.
    KsFileType() = default;
    /// @{
    /// Copies nothing but the type.
    KsFileType(const KsFileType&) = default;
    KsFileType& operator=(const KsFileType&) = default;
    /// @}
};
