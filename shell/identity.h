// Product identity of this release: build constants and the titles formed from them.
#pragma once

#include <QString>

// Fixed texts of this updater version (the product string is chosen per release build).
inline constexpr const char* kProgramVersionText = "Updater 2.7";
inline constexpr const char* kCompactVersionText = "Upgrade 1.0";
inline constexpr const char* kBuildDate = "Feb 18 2011";
inline constexpr const char* kCompactBuildDate = "Feb 17 2011";
inline constexpr const char* kBuildTime = "17:52:32";

// The release's product string; never empty. Defined by the identity library of the build.
const char* ProductString();

// "Updater 2.7 - <product>   [ Feb 18 2011 ]"
QString BuildMainTitle();
// "Upgrade 1.0 -   <product>   - Feb 17 2011"
QString BuildCompactTitle();

// Products whose string contains "HGJ" or "KFN" (case-sensitive, anywhere) use the compact window.
bool UsesCompactLayout(const QString& product);

struct PictureChoice {
    bool image1Visible;
    bool image2Visible;
};
// Which of the two product pictures the full window shows for a product string.
PictureChoice ChoosePictures(const QString& product);
