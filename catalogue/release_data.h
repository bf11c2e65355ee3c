// The image sets that this release carries. Defined by the source that quillet-release-tool
// generates from the release description (cmake/Release.cmake); the tool has checked them
// against the limits the programming run relies on.
#pragma once

#include "catalogue/catalogue.h"

// The release's entries, in the order BuildImageCatalogue writes them.
const ReleaseImageSet* ReleaseImageSets();
int ReleaseImageSetCount();
