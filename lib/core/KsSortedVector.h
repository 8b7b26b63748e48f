#pragma once
/// @file
/// An owning vector of pointers kept in the order of a comparison of the objects.

#include <cstdint>
#include <memory>
#include <utility>

#include "core/KsVector.h"

/// The default order of a KsSortedVector: the objects' operator<.
template <class T>
struct KsPredicateLess {
    /// Whether *a comes before *b.
    bool operator()(const T* a, const T* b) const { return *a < *b; }
};

/// The default equality of a KsSortedVector: the objects' operator==.
template <class T>
struct KsPredicateEqual {
    /// Whether *a equals *b.
    bool operator()(const T* a, const T* b) const { return *a == *b; }
};

/// Owns its elements like KsPointerVector and keeps them sorted: elements come in only
/// through InsertElement, so the positional adding of KsPointerVector is absent here.
template <class T, class Less = KsPredicateLess<T>, class Equal = KsPredicateEqual<T>>
class KsSortedVector : private KsPointerVector<T> {
    using Base = KsPointerVector<T>;

public:
    /// @{
    /// As in KsPointerVector: iteration over the element pointers, size and capacity,
    /// the bounds of the positions, checked access by position, and removal (DeleteAt
    /// deletes the element, Detach hands it to the caller).
    using Base::begin;
    using Base::capacity;
    using Base::clear;
    using Base::DeleteAt;
    using Base::Detach;
    using Base::empty;
    using Base::end;
    using Base::GetLowerBound;
    using Base::GetUpperBound;
    using Base::operator[];
    using Base::reserve;
    using Base::SetLowerBound;
    using Base::size;
    /// @}

    /// Position (counted from the lower bound) of the first element not less than
    /// `element`; one past the last when every element is less.
    std::int32_t FindPosition(const T* element) const {
        if (element == nullptr) {
            KsException::Generate("Null pointer passed to FindPosition", "KsSortedVector");
        }
        return GetLowerBound() + static_cast<std::int32_t>(LowerBound(element));
    }

    /// Position of an element equal to `element`, or -1 below the lower bound when none is.
    std::int32_t Find(const T* element) const {
        std::int32_t position = FindPosition(element);
        std::size_t offset = static_cast<std::size_t>(position - GetLowerBound());
        if (offset < size() && Equal()(begin()[offset], element)) {
            return position;
        }
        return GetLowerBound() - 1;
    }

    /// Takes ownership of `element` and inserts it at its sorted position, before any
    /// equal elements; returns the position. The element is deleted when that fails.
    std::int32_t InsertElement(std::unique_ptr<T> element) {
        if (element == nullptr) {
            KsException::Generate("Null pointer passed to InsertElement", "KsSortedVector");
        }
        std::int32_t position = FindPosition(element.get());
        Base::InsertAt(position, std::move(element));
        return position;
    }
    /// As above, taking ownership of a raw pointer.
    std::int32_t InsertElement(T* element) { return InsertElement(std::unique_ptr<T>(element)); }

    /// Exchanges the elements (and the ownership of them) with `other`.
    void swap(KsSortedVector& other) noexcept { Base::swap(other); }

    /// Takes ownership of `element`, which must order after every element, as the new last
    /// element: building a vector from ordered elements without a search for each. One out of
    /// order fails with "Element out of order passed to Append", a null one with "Null
    /// pointer passed to Append" (KsException).
    void Append(std::unique_ptr<T> element) {
        if (element == nullptr) {
            KsException::Generate("Null pointer passed to Append", "KsSortedVector");
        }
        if (!empty() && !Less()(begin()[size() - 1], element.get())) {
            KsException::Generate("Element out of order passed to Append", "KsSortedVector");
        }
        Base::Add(std::move(element));
    }

private:
    std::size_t LowerBound(const T* element) const {
        std::size_t low = 0;
        std::size_t high = size();
        Less less;
        while (low < high) {
            std::size_t middle = low + (high - low) / 2;
            if (less(begin()[middle], element)) {
                low = middle + 1;
            } else {
                high = middle;
            }
        }
        return low;
    }
};
