// The product this release is built for: its product string and what follows from it alone.
#pragma once

#include <QString>

// The release's product string; never empty. Defined by the release's library.
const char* ProductString();

// Products whose string contains "HGJ" or "KFN" (case-sensitive, anywhere) use the compact window,
// and its probe byte whichever front end runs the session.
bool UsesCompactLayout(const QString& product);
