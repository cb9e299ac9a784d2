#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

namespace vm::sim {

class Scene;

// The surface a symbol is marked on. The factory scene is a label on white paper; the
// other parts are the ones a reader has to be tuned for.
struct PartSurface {
    QString name = QStringLiteral("paper");
    int reflectance = 218;    // of the surface the symbol is marked on (white paper 218)
    bool lightOnDark = false; // the mark is lighter than the part (etched, peened)
    bool mirrored = false;    // the mark is seen through a mirror or from behind
    // A bright label or polished edge along the top of the view, in percent of the
    // image height; automatic photometry exposes for it and leaves the part dark.
    int highlightPercent = 0;
};

// "paper", "dark", "lightondark", "mirrored", "lowcontrast".
QStringList tuningSceneNames();
// Puts one of the named parts in front of the camera, with the print contrast it comes
// with; false with a message for an unknown name (nothing changes then).
bool applyTuningScene(Scene& scene, const QString& name, QString* error);
// Paints the part's highlight over a reflectance picture.
void addHighlight(QImage& reflectance, const PartSurface& part);

} // namespace vm::sim
