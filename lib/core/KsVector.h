#pragma once
/// @file

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "core/KsAlloc.h"
#include "core/KsArrayPointerObject.h"
#include "core/KsCallpath.h"
#include "core/KsException.h"
#include "core/KsScopeExit.h"

/// Allocator of the library's vectors: storage comes from KsAlloc, so running out of
/// memory inside a vector raises KsMemoryException.
template <class T>
class KsAllocator {
public:
    /// The element type.
    using value_type = T;
    KsAllocator() noexcept = default;
    /// The allocator holds no state, so any two are interchangeable.
    template <class U>
    KsAllocator(const KsAllocator<U>&) noexcept {}

    /// Room for `n` elements from KsAlloc; raises KsMemoryException when memory runs out.
    T* allocate(std::size_t n) {
        return reinterpret_cast<T*>(KsAlloc(static_cast<std::int64_t>(n * sizeof(T))));
    }
    /// Releases room given by allocate.
    void deallocate(T* p, std::size_t) noexcept { delete[] reinterpret_cast<char*>(p); }

    /// Always true: storage from one allocator may be released by any other.
    template <class U>
    bool operator==(const KsAllocator<U>&) const noexcept {
        return true;
    }
};

/// Allocator of large arrays filled soon after they are made: an array of at least
/// kKsLargeBlockSize bytes is a block of huge pages from KsAllocLarge, so that filling it
/// costs few page faults and releasing it is cheap; a smaller one comes from KsAlloc.
template <class T>
class KsLargeAllocator {
public:
    /// The element type.
    using value_type = T;
    KsLargeAllocator() noexcept = default;
    /// The allocator holds no state, so any two are interchangeable.
    template <class U>
    KsLargeAllocator(const KsLargeAllocator<U>&) noexcept {}

    /// Room for `n` elements; raises KsMemoryException when memory runs out.
    T* allocate(std::size_t n) {
        auto bytes = static_cast<std::int64_t>(n * sizeof(T));
        return reinterpret_cast<T*>(IsLarge(n) ? KsAllocLarge(bytes) : KsAlloc(bytes));
    }
    /// Releases room given by allocate for the same `n`.
    void deallocate(T* p, std::size_t n) noexcept {
        if (IsLarge(n)) {
            KsFreeLarge(reinterpret_cast<char*>(p), static_cast<std::int64_t>(n * sizeof(T)));
        } else {
            delete[] reinterpret_cast<char*>(p);
        }
    }

    /// Always true: the size of a block tells how it is released.
    template <class U>
    bool operator==(const KsLargeAllocator<U>&) const noexcept {
        return true;
    }

private:
    // A size too large for KsAlloc is left to it, to report.
    static bool IsLarge(std::size_t n) {
        return n >= static_cast<std::size_t>(kKsLargeBlockSize) / sizeof(T) &&
               n <= static_cast<std::size_t>(std::numeric_limits<std::int64_t>::max()) / sizeof(T);
    }
};

/// Checked vectors. KsVector numbers its elements from a lower bound (0 unless set)
/// and checks every index; KsPointerVector owns the objects its pointers refer to.
template <class T, class Allocator = KsAllocator<T>>
class KsVector : public std::vector<T, Allocator> {
public:
    /// The standard vector underneath, whose members (size, push_back, ...) KsVector keeps.
    using Base = std::vector<T, Allocator>;
    using Base::Base;
    KsVector() = default;
    /// @{
    /// Copies the elements and the lower bound.
    KsVector(const KsVector&) = default;
    KsVector& operator=(const KsVector&) = default;
    /// @}
    /// @{
    /// Takes the elements over without copying them, and the lower bound.
    KsVector(KsVector&&) noexcept = default;
    KsVector& operator=(KsVector&&) noexcept = default;
    /// @}
    virtual ~KsVector() = default;

    /// The index of the first element.
    std::int32_t GetLowerBound() const { return lowerBound_; }
    /// Renumbers the elements so that the first has index `lowerBound`.
    void SetLowerBound(std::int32_t lowerBound) { lowerBound_ = lowerBound; }
    /// Index of the last element (lower bound - 1 when empty).
    std::int32_t GetUpperBound() const {
        return lowerBound_ + static_cast<std::int32_t>(this->size()) - 1;
    }

    /// @{
    /// Element `index`, counted from the lower bound. Throws
    /// "Index %d out of range; array is from %d to %d".
    T& operator[](std::int32_t index) { return Base::operator[](Position(index)); }
    const T& operator[](std::int32_t index) const { return Base::operator[](Position(index)); }
    /// @}

protected:
    /// The offset in the storage of element `index`; throws the range error.
    std::size_t Position(std::int32_t index) const {
        // An index below the lower bound wraps to a large position and fails the same test.
        auto position = static_cast<std::uint32_t>(index - lowerBound_);
        if (position >= this->size()) {
            KsException::Generate("Index %d out of range; array is from %d to %d", "KsVector",
                                  index, lowerBound_, GetUpperBound());
        }
        return position;
    }

private:
    std::int32_t lowerBound_ = 0;
};

/// A KsVector of pointers that owns what they point at: every non-null element is deleted
/// (through its virtual destructor) when it leaves the vector. Elements derive from
/// KsArrayPointerObject; a copy owns clones of the original's elements, with the same lower
/// bound. Null elements are allowed and stay null in a copy.
///
/// Only operations that keep ownership are offered: adding takes a std::unique_ptr, DeleteAt
/// and clear delete, Detach hands the element back as a std::unique_ptr, and element access
/// gives the pointer by value, never a reference to the stored pointer. Deliberately absent:
/// erase, resize, insert/push_back of raw pointers, pop_back, assignment of single elements
/// and data(), since each would let a pointer be dropped or overwritten without its delete.
template <class T, class Base = KsVector<T*>>
class KsPointerVector {
public:
    KsPointerVector() = default;
    /// Owns clones of the elements of `other`, with its lower bound.
    KsPointerVector(const KsPointerVector& other) {
        // A constructor that throws runs no destructor: the clones made so far go here.
        KsScopeExit deleteClones([&] { DeleteElements(); });
        items_.SetLowerBound(other.GetLowerBound());
        InplaceCopy(other);
        deleteClones.Dismiss();
    }
    /// Takes the elements of `other`, which is left empty.
    KsPointerVector(KsPointerVector&& other) noexcept { swap(other); }
    /// Copy and move assignment; the old elements are deleted with the parameter.
    KsPointerVector& operator=(KsPointerVector other) noexcept {
        swap(other);
        return *this;
    }
    ~KsPointerVector() { DeleteElements(); }

    /// Exchanges elements and lower bounds with `other`.
    void swap(KsPointerVector& other) noexcept {
        items_.swap(other.items_);
        std::int32_t lowerBound = items_.GetLowerBound();
        items_.SetLowerBound(other.items_.GetLowerBound());
        other.items_.SetLowerBound(lowerBound);
    }

    /// @{
    /// As in KsVector: the number of elements, room reserved, and the bounds of the
    /// indexes.
    std::size_t size() const noexcept { return items_.size(); }
    bool empty() const noexcept { return items_.empty(); }
    std::size_t capacity() const noexcept { return items_.capacity(); }
    void reserve(std::size_t count) { items_.reserve(count); }
    std::int32_t GetLowerBound() const { return items_.GetLowerBound(); }
    void SetLowerBound(std::int32_t lowerBound) { items_.SetLowerBound(lowerBound); }
    std::int32_t GetUpperBound() const { return items_.GetUpperBound(); }
    /// @}

    /// @{
    /// Element `index`, counted from the lower bound and checked as in KsVector.
    T* operator[](std::int32_t index) { return items_[index]; }
    const T* operator[](std::int32_t index) const { return items_[index]; }
    /// @}
    /// @{
    /// Iteration yields the elements; the stored pointers themselves stay read-only.
    T* const* begin() noexcept { return items_.data(); }
    T* const* end() noexcept { return items_.data() + items_.size(); }
    const T* const* begin() const noexcept { return items_.data(); }
    const T* const* end() const noexcept { return items_.data() + items_.size(); }
    /// @}

    /// The stored pointers, read-only, for a caller that reads the elements without owning
    /// them (for example a function taking a KsVector<T*>).
    const Base& GetPointers() const noexcept { return items_; }

    /// Takes `element` (which may be null) as the new last element; returns it. When the
    /// vector cannot grow, the element is deleted with its unique_ptr.
    T* Add(std::unique_ptr<T> element) {
        items_.push_back(element.get());
        return element.release();
    }
    /// Takes `element` in before the element at `index`; an index one past the last appends.
    T* InsertAt(std::int32_t index, std::unique_ptr<T> element) {
        std::size_t position = index == GetUpperBound() + 1 ? items_.size() : PositionOf(index);
        items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(position), element.get());
        return element.release();
    }
    /// Removes the slot at `index` and hands its element to the caller.
    std::unique_ptr<T> Detach(std::int32_t index) {
        std::size_t position = PositionOf(index);
        std::unique_ptr<T> element(items_.data()[position]);
        items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(position));
        return element;
    }
    /// Deletes the element at `index` and removes its slot.
    void DeleteAt(std::int32_t index) { Detach(index); }
    /// Deletes every element and empties the vector.
    void clear() noexcept {
        DeleteElements();
        items_.clear();
    }

private:
    /// Offset in the storage of the element at `index`; throws the vector's range error.
    std::size_t PositionOf(std::int32_t index) {
        return static_cast<std::size_t>(&items_[index] - items_.data());
    }

    /// Fills this empty vector with clones of `source`'s elements, so that it owns its own
    /// objects.
    void InplaceCopy(const KsPointerVector& source) {
        KsCallpath("InplaceCopy()", "KsPointerVector", [&] {
            items_.reserve(source.size());
            for (const T* element : source) {
                Add(std::unique_ptr<T>(element != nullptr ? static_cast<T*>(element->Clone())
                                                          : nullptr));
            }
        });
    }

    void DeleteElements() noexcept {
        for (T*& element : items_) {
            delete element;
            element = nullptr;
        }
    }

    Base items_;
};
