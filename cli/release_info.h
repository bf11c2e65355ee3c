// Which release this quillet-cli carries, so that a shift's log can be tied to the firmware it
// put on the boards: the product and version texts and a hash of everything the release ships.
#pragma once

#include <QJsonObject>
#include <QStringList>

// Hashes the release's texts and every image set as the release stores them. Called once at
// start, before any run writes the reset patch into an image.
void RememberRelease();

// {product, version, compact_version, date, compact_date, build_time, sha256}; every JSON
// record carries it.
const QJsonObject& ReleaseJson();

// The same, as the lines of --version (after the tool's own line) and of --images.
QStringList ReleaseLines();
