#include "progress/KsNullProgress.h"

KsNullProgress& KsNullProgress::Instance() {
    static KsNullProgress instance;
    return instance;
}
