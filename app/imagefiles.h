#pragma once

#include <QString>

namespace vm::app {

// The folder saved images go to: read once at start-up ("General"/"ImageSaveDirectory",
// defaulting to the current directory then) and replaced when the preferences are
// confirmed.
QString imageSaveDirectory();
void setImageSaveDirectory(const QString& directory);
// Reads the folder from the settings store into the program-wide value.
QString readImageSaveDirectory();

// True when "ImageSaveFormat" (default "TIF") upper-cased is "TIF".
bool ImageSaveFormatIsTif();

// Full path of a saved image: folder (with a separator added unless it ends in one),
// the device name without a trailing ":", "_", the nine-digit zero-padded image number,
// ".tif" or ".bmp". E.g. reader "Line3", image 42: <folder>/Line3_000000042.tif.
QString MakeImageFileName(const QString& deviceName, qint64 imageNumber);

} // namespace vm::app
