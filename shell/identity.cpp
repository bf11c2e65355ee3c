// Compiled once per release with the texts of its release description set by the build.
#include "shell/identity.h"

#if !defined(QUILLET_PRODUCT_STRING) || !defined(QUILLET_PROGRAM_VERSION_TEXT) ||                  \
    !defined(QUILLET_COMPACT_VERSION_TEXT) || !defined(QUILLET_BUILD_DATE) ||                      \
    !defined(QUILLET_COMPACT_BUILD_DATE) || !defined(QUILLET_BUILD_TIME)
#error "the build must define the release's identity texts"
#endif

static_assert(sizeof(QUILLET_PRODUCT_STRING) > 1, "the product string must not be empty");

const char* const kProgramVersionText = QUILLET_PROGRAM_VERSION_TEXT;
const char* const kCompactVersionText = QUILLET_COMPACT_VERSION_TEXT;
const char* const kBuildDate = QUILLET_BUILD_DATE;
const char* const kCompactBuildDate = QUILLET_COMPACT_BUILD_DATE;
const char* const kBuildTime = QUILLET_BUILD_TIME;

const char* ProductString() {
    return QUILLET_PRODUCT_STRING;
}
