#pragma once
/// @file

#include <memory>

#include "core/KsString.h"
#include "io/KsIOInterface.h"

/// The one seam through which library code makes, renames and deletes files by name. Classes
/// that open files themselves (ini files, copies, tables, indexes, blob files, logs, sort
/// runs) take a KsIOFactory& and default to KsIOFactory::Default(), which makes KsIO
/// objects and calls the operating system. A test hands them a factory whose files fail the
/// Nth write, flush, truncate or close, or whose renames and deletes fail, and checks that
/// nothing was lost.
class KsIOFactory {
public:
    virtual ~KsIOFactory() = default;

    /// A buffered file opened on `name` with the open flags (IO_READ, IO_WRITE, ...).
    virtual std::unique_ptr<KsIOInterface> Open(const char* name, int flags);
    /// Renames `oldName` to `newName`, replacing a file of that name. When the system
    /// cannot rename (for example across file systems) the file is copied with this
    /// factory's files and the old one deleted.
    virtual void Rename(const char* newName, const char* oldName);
    /// Removes the file; raises only when it still exists afterwards.
    virtual void Delete(const char* name);
    /// Whether a file of that name exists.
    virtual bool Exists(const char* name);
    /// A new empty file with a unique name in `directory` (the temporary directory when
    /// null) starting with `prefix`; its name goes to `out` and is returned.
    virtual const char* GetTempFileName(KsString& out, const char* directory, const char* prefix);
    /// Waits until the entries of the folder `folder` (files made, renamed or deleted in it)
    /// are on the storage device; a failure is raised.
    virtual void SyncFolder(const char* folder);
    /// Puts `replacement` in the place of `target` in one step, giving it the permissions
    /// of the file it replaces (when it can). Both must be on one file system, best in one
    /// directory. It never falls back to copying: when it raises, `target` is untouched,
    /// so a file rewritten through a new file and Replace is always either old or new.
    void Replace(const char* target, const char* replacement);

    /// The factory of real files, shared by the whole process.
    static KsIOFactory& Default();

protected:
    /// @{
    /// The system calls behind Rename, Replace and Delete: 0, or -1 with the reason in
    /// errno. A test overrides them to make a rename or a delete fail.
    virtual int SystemRename(const char* oldName, const char* newName);
    virtual int SystemRemove(const char* name);
    /// @}
};
