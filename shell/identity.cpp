// Compiled once per release with QUILLET_PRODUCT_STRING set by the build.
#include "shell/identity.h"

#ifndef QUILLET_PRODUCT_STRING
#error "the build must define QUILLET_PRODUCT_STRING"
#endif

static_assert(sizeof(QUILLET_PRODUCT_STRING) > 1, "the product string must not be empty");

const char* ProductString() {
    return QUILLET_PRODUCT_STRING;
}
