#pragma once
// An owning vector of pointers kept in the order of a comparison of the objects.

#include <cstdint>

#include "core/KsVector.h"

template <class T>
struct KsPredicateLess {
    bool operator()(const T* a, const T* b) const { return *a < *b; }
};

template <class T>
struct KsPredicateEqual {
    bool operator()(const T* a, const T* b) const { return *a == *b; }
};

template <class T, class Less = KsPredicateLess<T>, class Equal = KsPredicateEqual<T>>
class KsSortedVector : public KsPointerVector<T> {
public:
    // Position (counted from the lower bound) of the first element not less than
    // `element`; one past the last when every element is less.
    std::int32_t FindPosition(const T* element) const {
        if (element == nullptr) {
            KsException::Generate("Null pointer passed to FindPosition", "KsSortedVector");
        }
        return this->GetLowerBound() + static_cast<std::int32_t>(LowerBound(element));
    }

    // Position of an element equal to `element`, or -1 below the lower bound when none is.
    std::int32_t Find(const T* element) const {
        std::int32_t position = FindPosition(element);
        std::size_t offset = static_cast<std::size_t>(position - this->GetLowerBound());
        if (offset < this->size() && Equal()(this->data()[offset], element)) {
            return position;
        }
        return this->GetLowerBound() - 1;
    }

    // Takes ownership of `element` and inserts it at its sorted position, before any
    // equal elements; returns the position.
    std::int32_t InsertElement(T* element) {
        if (element == nullptr) {
            KsException::Generate("Null pointer passed to InsertElement", "KsSortedVector");
        }
        std::size_t offset = LowerBound(element);
        try {
            this->insert(this->begin() + static_cast<std::ptrdiff_t>(offset), element);
        } catch (...) {
            delete element;
            throw;
        }
        return this->GetLowerBound() + static_cast<std::int32_t>(offset);
    }

private:
    std::size_t LowerBound(const T* element) const {
        std::size_t low = 0;
        std::size_t high = this->size();
        Less less;
        while (low < high) {
            std::size_t middle = low + (high - low) / 2;
            if (less(this->data()[middle], element)) {
                low = middle + 1;
            } else {
                high = middle;
            }
        }
        return low;
    }
};
