// The catalogue entries the device list looks at, in their order. Plain constants without Qt:
// the release tool warns about image sets that the list would never show.
#pragma once

// A group's default entry is row 0 of its slot; its board rows are listed only when the
// default entry holds no image.
struct ListingGroup {
    int chipSlot;
    int boardRows[7];
    int boardRowCount;
};
inline constexpr ListingGroup kListingOrder[] = {
    {6, {5, 6, 7, 8, 11, 16, 19}, 7},
    {1, {2, 4, 5, 6}, 4},
    {0, {2, 4, 5, 6}, 4},
    {2, {}, 0},
    {3, {}, 0},
    {4, {}, 0},
    {5, {}, 0},
};
