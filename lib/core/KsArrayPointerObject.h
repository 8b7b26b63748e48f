#pragma once
/// @file

/// Abstract base of objects that containers hold by pointer and copy by cloning.
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
