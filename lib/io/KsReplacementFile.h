#pragma once
/// @file
/// A new file made beside the file it is to replace (or to stand beside, as a marker), named
/// after it and owned by the process that made it:
///
///   `<target>.<tag><6 characters>`   for example "survey.000.kixA1b2C3" beside "survey.000"
///
/// The owner holds a claim of the file (an exclusive flock of a descriptor of its own, which
/// the system drops when the process ends and which the byte-range locks of the library do
/// not meet) from the moment it is made for as long as the object lives. So a file of that
/// shape that another process can claim was left by a writer that died before it could
/// rename or delete it, and RemoveAbandoned, run when a table is recovered, deletes it; one
/// still claimed belongs to a live writer and is left alone.
///
/// A file that replaces another is written whole, then Commit puts it in the place of its
/// target in one step (KsIOFactory::Replace), so the target is always the old file or the
/// new one. Without Commit the destructor deletes it.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/KsString.h"
#include "io/KsIOFactory.h"

/// A new file named after `target` and locked by its owner (see the file notes).
class KsReplacementFile {
public:
    /// Makes the empty file `<target>.<tag>XXXXXX` and claims it; renames and deletes go
    /// through `factory`.
    KsReplacementFile(KsIOFactory& factory, const char* target, const char* tag);
    KsReplacementFile(const KsReplacementFile&) = delete;
    KsReplacementFile& operator=(const KsReplacementFile&) = delete;
    /// Deletes the file unless it was committed or kept.
    ~KsReplacementFile();

    /// The file's name.
    const char* GetName() const { return name_.GetCString(); }
    /// Puts the file in the place of its target in one step and gives up the claim.
    void Commit();
    /// Gives the claim up, for a file put in place by other means; the file is then no
    /// longer deleted at destruction.
    void Release();
    /// Deletes the file now (the claim goes with it); a failure is raised.
    void Remove();

    /// Writes `target` through a new file with `tag` that `fill` writes by its name, then
    /// puts it in the target's place.
    static void WriteReplacing(KsIOFactory& factory, const char* target, const char* tag,
                               const std::function<void(const char* fresh)>& fill);
    /// Whether `name` (without folder) is shaped like a file of this class made beside the
    /// companion file of the table `base` (a name without folder and extension) with one of
    /// the tags.
    static bool IsShapedFor(const std::string& name, const std::string& base,
                            const std::vector<std::string>& tags);
    /// Claims the file `name` for this process when its owner is gone: the descriptor that
    /// holds the claim (closing it ends the claim), or -1 while another owner holds it (or
    /// the file cannot be opened).
    static int ClaimAbandoned(const char* name);
    /// Deletes the files of the shape above in `folder` whose owners are gone; returns their
    /// names. Files that cannot be claimed are left alone.
    static std::vector<std::string> RemoveAbandoned(KsIOFactory& factory, const std::string& folder,
                                                    const std::string& base,
                                                    const std::vector<std::string>& tags);

    /// Deletes the files named `prefix` and six characters in `folder` (temporary files
    /// made with KsIOInterface::CreateClaimedTempFile) whose owners are gone; returns their
    /// names. A file this process cannot claim or delete is left alone.
    static std::vector<std::string> RemoveAbandonedTemporaries(KsIOFactory& factory,
                                                               const std::string& folder,
                                                               const std::string& prefix);

private:
    KsIOFactory& factory_;
    KsString target_;
    KsString name_;
    int claim_ = -1;  // the descriptor holding the claim
    bool done_ = false;
    // Gives the claim up.
    void EndClaim() noexcept;
};
