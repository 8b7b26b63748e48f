#pragma once
/// @file

#include "progress/KsProgressInterface.h"

/// The progress display that shows nothing and never asks to stop. One object serves the
/// whole process; operations that were given no display report to it.
class KsNullProgress : public KsProgressInterface {
public:
    /// The process-wide object.
    static KsNullProgress& Instance();

    KsNullProgress() = default;
};
