#pragma once
/// @file

/// Abstract base of objects that containers hold by pointer and copy by cloning.
///
/// The library's one rule for Clone(): it returns a new object that the caller owns, as a
/// std::unique_ptr, except in this family. Here Clone() is covariant (a KsString gives a
/// KsString*, a record key its own class), which a std::unique_ptr return cannot be, and
/// the owning pointer vectors (KsPointerVector) copy their elements through it; every
/// other caller puts the pointer straight into a std::unique_ptr.
class KsArrayPointerObject {
public:
    virtual ~KsArrayPointerObject() = default;
    /// A new object of the same dynamic type, owned by the caller.
    virtual KsArrayPointerObject* Clone() const = 0;

protected:
    KsArrayPointerObject() = default;
    /// @{
    /// Copying is for subclasses, whose Clone uses it.
    KsArrayPointerObject(const KsArrayPointerObject&) = default;
    KsArrayPointerObject& operator=(const KsArrayPointerObject&) = default;
    /// @}
};
