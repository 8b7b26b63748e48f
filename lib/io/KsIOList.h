#pragma once
/// @file

#include <cstdint>
#include <utility>
#include <vector>

#include "core/KsCallpath.h"
#include "io/KsIOListBase.h"
#include "io/KsStreamInterface.h"

/// The bytes of one serialized object: filled by an element's Write before it is stored,
/// or loaded from the element's block for its Read. Reading past the block is an error
/// that names the file and the block.
class KsIOListObject : public KsStreamInterface {
public:
    KsIOListObject() = default;

    void GetFileName(KsString& out) override { out = name_; }
    std::int32_t Read(void* buffer, std::int32_t count, bool required) override;
    void Write(const void* buffer, std::int32_t count) override;

    /// The bytes written or loaded; valid until the object changes or goes.
    const void* GetData() const { return bytes_.data(); }
    /// The bytes written or loaded; an object of 4 GB or more cannot be stored.
    std::uint32_t GetSize() const;
    /// Loads the object block of `blockSize` bytes at `offset` and goes to its start.
    void Load(KsIOInterface& file, std::uint64_t offset, std::uint32_t blockSize);

private:
    std::vector<char> bytes_;
    std::size_t position_ = 0;
    KsString name_;
    std::uint64_t offset_ = 0;
};

template <class TYPE>
class KsIOSimpleList;
template <class TYPE>
class KsIOList;
template <class TYPE, class SUBLIST>
class KsIOListOfLists;

/// A list of bare nodes, and the preparation of new list files.
template <>
class KsIOSimpleList<void> : public KsIOListBase {
public:
    /// The list whose pseudo-node is at `position` of `file` (not owned; it must outlive
    /// the list). Nothing is read yet.
    KsIOSimpleList(KsIOInterface& file, std::uint64_t position) : KsIOListBase(file, position) {}

    /// Makes the bound file an empty list file with `numberOfLists` empty lists.
    void PrepareFile(int numberOfLists);
    /// An iterator on the first node that takes locks of `lockType`; a damaged head word
    /// raises the KsIOListCheck error.
    void_iterator begin(int lockType = LOCK_READ) const { return Begin(lockType); }
    /// The end of every list, holding no lock.
    void_iterator end() const { return void_iterator(GetFile()); }
};

/// Lists of serialized objects in a list file (layout in io/KsIOListFormat.h, locking and
/// write order in io/KsIOListBase.h).
///
///   KsIOSimpleList<void>          a list of bare nodes; prepares new list files
///   KsIOList<void>                nodes whose word 0 is an object block
///   KsIOListOfLists<void, void>   nodes whose word 0 is a sub-list header: an object block
///                                 and the head of a KsIOList<void> of the element's own
///   KsIOList<TYPE>, KsIOListOfLists<TYPE, SUBLIST>
///                                 the same with elements read and written by TYPE's own
///                                 Read(KsInputStreamInterface&) and
///                                 Write(KsOutputStreamInterface&) const
///
/// A list object is the file (not owned) and the position of the list's pseudo-node:
/// KsIOListFormat::ListPosition(k) for list k of the file's header. The transaction log's
/// list of lists is list 0 of a file prepared with one list.
///
///     KsIOListOfLists<Status, Action> log(file, KsIOListFormat::ListPosition(0));
///     for (auto it = log.begin(); it != log.end(); ++it) {
///         Status status = *it;                         // reads under LOCK_READ
///         for (auto action : it.SubList()) ...         // `it` keeps the element alive
///     }
///     auto it = log.begin(LOCK_WRITE);                 // writers walk with LOCK_WRITE
///     log.insert(it, status);                          // before the first element
///     it.Write(changed);                               // rewrites the element in place
///     log.erase(it);                                   // and its sub-list with it
///
/// Iterators hold byte-range locks while they live: keep them short-lived, walk forward,
/// and do not hold a reader and a writer on the same words in one process (the lock
/// table refuses a second type on a held word). An iterator at the end still holds the
/// list's last link, so inserting there appends.
template <>
class KsIOList<void> : public KsIOSimpleList<void> {
public:
    /// Selects the constructor of a sub-list: kSubList, the position is a sub-list header
    /// inside a file checked already.
    enum SubListTag { kSubList };

    /// Binds to list `position` of `file`. An open, non-empty file must be a list file of
    /// version 540, else KsException names the file; an empty one can be made one with
    /// PrepareFile.
    KsIOList(KsIOInterface& file, std::uint64_t position);
    /// Binds to a sub-list (its header is `position`) without checking the file again.
    KsIOList(KsIOInterface& file, std::uint64_t position, SubListTag)
        : KsIOSimpleList<void>(file, position) {}

    /// Loads the object of the element `it` stands on.
    void ReadElement(void_iterator& it, KsIOListObject& out);
    /// Stores an object of `n` bytes as a new element before `it`, which then stands on it.
    void InsertElement(void_iterator& it, const void* data, std::uint32_t n);
    /// Replaces the object of the element `it` stands on.
    void RewriteElement(void_iterator& it, const void* data, std::uint32_t n);
    /// Unlinks the element `it` stands on and frees its blocks; `it` goes to the next one.
    void EraseElement(void_iterator& it);

protected:
    /// Raises unless an open, non-empty `file` starts with the list-file marker and version.
    static void CheckFile(KsIOInterface& file, const char* function);
    /// The word that holds the offset of the element's object block.
    virtual std::uint64_t ObjectWord(void_iterator& it);
    /// Stores the object of a new element; returns word 0 for its node.
    virtual std::uint64_t PrepareElement(const void* data, std::uint32_t n, PendingBlocks& pending);
    /// Frees the blocks of an unlinked element, its node last.
    virtual void FreeElement(std::uint64_t node, std::uint64_t objectWord, std::uint64_t object,
                             std::uint64_t objectSize);
};

/// A list whose elements each carry a sub-list of their own; erasing an element frees its
/// sub-list with it.
template <>
class KsIOListOfLists<void, void> : public KsIOList<void> {
public:
    /// Binds to list `position` of `file`, checked as KsIOList's constructor does.
    KsIOListOfLists(KsIOInterface& file, std::uint64_t position);

    /// The position of the sub-list of the element `it` stands on (its header).
    std::uint64_t SubListPosition(void_iterator& it);

protected:
    std::uint64_t ObjectWord(void_iterator& it) override;
    std::uint64_t PrepareElement(const void* data, std::uint32_t n,
                                 PendingBlocks& pending) override;
    void FreeElement(std::uint64_t node, std::uint64_t objectWord, std::uint64_t object,
                     std::uint64_t objectSize) override;
};

/// Iterator of a typed list: the void iterator with the element read and written as TYPE.
template <class TYPE>
class KsIOListIterator {
public:
    /// Walks `list` (not owned) from where `it` stands, taking over its locks.
    KsIOListIterator(KsIOList<void>& list, KsIOListBase::void_iterator it)
        : list_(&list), it_(std::move(it)) {}

    /// Iterators are equal when they stand on the same node (all ends are equal).
    bool operator==(const KsIOListIterator& other) const { return it_ == other.it_; }
    /// Goes to the next element; a damaged list raises the KsIOListCheck error.
    KsIOListIterator& operator++() {
        ++it_;
        return *this;
    }
    /// Reads the element into `out` (which may carry what its Read needs, like a table).
    void Read(TYPE& out) {
        KsCallpath("Read()", "KsIOList<TYPE>", [&] {
            KsIOListObject object;
            list_->ReadElement(it_, object);
            out.Read(object);
        });
    }
    /// The element, read into a default-constructed TYPE.
    TYPE operator*() {
        TYPE value;
        Read(value);
        return value;
    }
    /// Replaces the element with `value`; needs LOCK_WRITE.
    void Write(const TYPE& value) {
        KsCallpath("Write()", "KsIOList<TYPE>", [&] {
            KsIOListObject object;
            value.Write(object);
            list_->RewriteElement(it_, object.GetData(), object.GetSize());
        });
    }
    /// The node it stands on, 0 at the end.
    std::uint64_t GetPosition() const { return it_.GetPosition(); }
    /// The untyped iterator underneath, which holds the locks.
    KsIOListBase::void_iterator& GetVoidIterator() { return it_; }

protected:
    /// The list walked; not owned.
    KsIOList<void>* list_;
    /// The position and its locks.
    KsIOListBase::void_iterator it_;
};

/// Iterator of a typed list of lists: a KsIOListIterator that also opens the element's
/// sub-list of SUBLIST elements.
template <class TYPE, class SUBLIST>
class KsIOListOfListsIterator : public KsIOListIterator<TYPE> {
public:
    using KsIOListIterator<TYPE>::KsIOListIterator;

    /// The element's sub-list. Keep this iterator on the element while the sub-list is in
    /// use: its lock on the element keeps the element, and the sub-list, from being erased.
    KsIOList<SUBLIST> SubList() {
        auto& list = static_cast<KsIOListOfLists<void, void>&>(*this->list_);
        return KsIOList<SUBLIST>(list.GetFile(), list.SubListPosition(this->it_),
                                 KsIOList<void>::kSubList);
    }
};

/// begin, end, insert and erase of the typed lists.
template <class TYPE, class Iterator, class VoidList>
class KsIOTypedList : public VoidList {
public:
    /// The typed iterator.
    using iterator = Iterator;
    using VoidList::VoidList;

    /// An iterator on the first element that takes locks of `lockType`.
    iterator begin(int lockType = LOCK_READ) { return iterator(*this, this->Begin(lockType)); }
    /// An iterator on the element after the node `node` of this list (see KsIOListBase::After).
    iterator after(std::uint64_t node, int lockType = LOCK_READ) {
        return iterator(*this, this->After(node, lockType));
    }
    /// The end, holding no lock.
    iterator end() { return iterator(*this, KsIOListBase::void_iterator(this->GetFile())); }
    /// Stores `value` before `where` (a LOCK_WRITE iterator), which then stands on it.
    void insert(iterator& where, const TYPE& value) {
        KsCallpath("insert()", "KsIOList<TYPE>", [&] {
            KsIOListObject object;
            value.Write(object);
            this->InsertElement(where.GetVoidIterator(), object.GetData(), object.GetSize());
        });
    }
    /// Removes the element `where` stands on; `where` goes to the next one.
    void erase(iterator& where) {
        KsCallpath("erase()", "KsIOList<TYPE>",
                   [&] { this->EraseElement(where.GetVoidIterator()); });
    }
};

/// A list of TYPE elements (see KsIOList<void>).
template <class TYPE>
class KsIOList : public KsIOTypedList<TYPE, KsIOListIterator<TYPE>, KsIOList<void>> {
public:
    using KsIOTypedList<TYPE, KsIOListIterator<TYPE>, KsIOList<void>>::KsIOTypedList;
};

/// A list of TYPE elements, each with a sub-list of SUBLIST elements.
template <class TYPE, class SUBLIST>
class KsIOListOfLists : public KsIOTypedList<TYPE, KsIOListOfListsIterator<TYPE, SUBLIST>,
                                             KsIOListOfLists<void, void>> {
public:
    using KsIOTypedList<TYPE, KsIOListOfListsIterator<TYPE, SUBLIST>,
                        KsIOListOfLists<void, void>>::KsIOTypedList;
};
