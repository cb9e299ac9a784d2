#pragma once

#include <QIcon>
#include <QString>

// The images of the toolbars and buttons, by the image keys the windows use
// ("netconnected", "havecontrol", "live", ...). They are drawn in code so that they
// scale cleanly and need no files at run time.
namespace vm::res {

// The icon of an image key; a null icon (and a logged warning) for an unknown key.
QIcon Icon(const QString& key);
bool hasIcon(const QString& key);

} // namespace vm::res
