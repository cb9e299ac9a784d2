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

// True when a name that a reader chose (its device name, without a trailing ":") can
// be part of a file name: not empty, no folder separator, drive colon, parent-folder
// step, wildcard or control character, and not ending in a dot or blank (which Windows
// drops). A reader's name arrives unauthenticated, so it must never pick the folder.
bool IsUsableFileNamePart(const QString& name);

// Full path of a saved image: folder (with a separator added unless it ends in one),
// the device name without a trailing ":", "_", the nine-digit zero-padded image number,
// ".tif" or ".bmp". E.g. reader "Line3", image 42: <folder>/Line3_000000042.tif.
// Empty when the device name is not usable (IsUsableFileNamePart) or the path would
// leave the folder.
QString MakeImageFileName(const QString& deviceName, qint64 imageNumber);

} // namespace vm::app
