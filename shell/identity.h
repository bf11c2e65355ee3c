// Product identity of this release: build constants and the titles formed from them.
#pragma once

#include "catalogue/product.h" // ProductString, UsesCompactLayout

#include <QString>

// Texts of the release this build makes, from its release description ("Updater 2.7",
// "Upgrade 1.0", "Feb 18 2011", "Feb 17 2011", "17:52:32" in the repository's release).
// Defined with the product string by the release's library.
extern const char* const kProgramVersionText;
extern const char* const kCompactVersionText;
extern const char* const kBuildDate;
extern const char* const kCompactBuildDate;
extern const char* const kBuildTime;

// "Updater 2.7 - <product>   [ Feb 18 2011 ]"
QString BuildMainTitle();
// "Upgrade 1.0 -   <product>   - Feb 17 2011"
QString BuildCompactTitle();

struct PictureChoice {
    bool image1Visible;
    bool image2Visible;
};
// Which of the two product pictures the full window shows for a product string.
PictureChoice ChoosePictures(const QString& product);
