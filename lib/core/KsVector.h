#pragma once
// Checked vectors. KsVector numbers its elements from a lower bound (0 unless set)
// and checks every index; KsPointerVector owns the objects its pointers refer to.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/KsAlloc.h"
#include "core/KsArrayPointerObject.h"
#include "core/KsCallpath.h"
#include "core/KsException.h"

// Allocator of the library's vectors: storage comes from KsAlloc, so running out of
// memory inside a vector raises KsMemoryException.
template <class T>
class KsAllocator {
public:
    using value_type = T;
    KsAllocator() noexcept = default;
    template <class U>
    KsAllocator(const KsAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        return reinterpret_cast<T*>(KsAlloc(static_cast<std::int64_t>(n * sizeof(T))));
    }
    void deallocate(T* p, std::size_t) noexcept { delete[] reinterpret_cast<char*>(p); }

    template <class U>
    bool operator==(const KsAllocator<U>&) const noexcept {
        return true;
    }
};

template <class T>
class KsVector : public std::vector<T, KsAllocator<T>> {
public:
    using Base = std::vector<T, KsAllocator<T>>;
    using Base::Base;
    KsVector() = default;
    KsVector(const KsVector&) = default;
    KsVector& operator=(const KsVector&) = default;
    virtual ~KsVector() = default;

    std::int32_t GetLowerBound() const { return lowerBound_; }
    void SetLowerBound(std::int32_t lowerBound) { lowerBound_ = lowerBound; }
    // Index of the last element (lower bound - 1 when empty).
    std::int32_t GetUpperBound() const {
        return lowerBound_ + static_cast<std::int32_t>(this->size()) - 1;
    }

    // Element `index`, counted from the lower bound. Throws
    // "Index %d out of range; array is from %d to %d".
    T& operator[](std::int32_t index) { return Base::operator[](Position(index)); }
    const T& operator[](std::int32_t index) const { return Base::operator[](Position(index)); }

protected:
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

// A KsVector of pointers that owns what they point at. Elements derive from
// KsArrayPointerObject; a copy owns clones of the original's elements. Null elements
// are allowed and stay null in a copy.
template <class T, class Base = KsVector<T*>>
class KsPointerVector : public Base {
public:
    KsPointerVector() = default;
    KsPointerVector(const KsPointerVector& other) : Base(other) {
        try {
            InplaceCopy();
        } catch (...) {
            // InplaceCopy left only its clones here; the rest still belong to `other`.
            DeleteElements();
            this->Base::clear();
            throw;
        }
    }
    KsPointerVector& operator=(const KsPointerVector& other) {
        if (this != &other) {
            KsPointerVector copy(other);
            DeleteElements();
            this->swap(copy);
        }
        return *this;
    }
    ~KsPointerVector() override { DeleteElements(); }

    // Replaces every element by its clone, so that this vector owns its own objects.
    // On failure the elements not yet cloned become null and the clones stay owned.
    void InplaceCopy() {
        KsCallpath("InplaceCopy()", "KsPointerVector", [&] {
            std::size_t i = 0;
            try {
                for (; i < this->size(); ++i) {
                    T*& element = this->data()[i];
                    if (element != nullptr) {
                        element = static_cast<T*>(element->Clone());
                    }
                }
            } catch (...) {
                for (; i < this->size(); ++i) {
                    this->data()[i] = nullptr;
                }
                throw;
            }
        });
    }

    // Deletes every element and empties the vector.
    void clear() noexcept {
        DeleteElements();
        this->Base::clear();
    }
    // Deletes the element at `index` (counted from the lower bound) and removes its slot.
    void DeleteAt(std::int32_t index) {
        std::size_t position = this->Position(index);
        delete this->data()[position];
        this->erase(this->begin() + static_cast<std::ptrdiff_t>(position));
    }
    // Removes the slot at `index` and hands its element to the caller.
    T* Detach(std::int32_t index) {
        std::size_t position = this->Position(index);
        T* element = this->data()[position];
        this->erase(this->begin() + static_cast<std::ptrdiff_t>(position));
        return element;
    }

private:
    void DeleteElements() noexcept {
        for (T* element : *this) {
            delete element;
        }
        for (T*& element : *this) {
            element = nullptr;
        }
    }
};
