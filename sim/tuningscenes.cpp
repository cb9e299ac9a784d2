#include "sim/tuningscenes.h"

#include "sim/scene.h"

#include <algorithm>

namespace vm::sim {

namespace {

struct TuningScene {
    const char* name;
    PartSurface part;
    int contrast; // print contrast in percent
};

// Each part reads poorly or not at all until the reader is tuned for it:
//  dark        a dark cast part beside a bright label: automatic photometry exposes for
//              the label, the part stays black; a longer manual exposure reads it.
//  lightondark an etched mark lighter than its part: a reader that learned dark-on-light
//              labels (polarity DL) never finds it.
//  mirrored    a mark read through a mirror: a reader that learned normal labels (image
//              style NORMAL) never finds it.
//  lowcontrast a faint mark on a grey part beside a bright label: automatic photometry
//              exposes for the label and the mark's few grey levels drown in the sensor
//              noise; a longer exposure or more gain spreads them apart.
const TuningScene kScenes[] = {
    {"paper", {QStringLiteral("paper"), 218, false, false, 0}, 90},
    {"dark", {QStringLiteral("dark"), 16, false, false, 8}, 90},
    {"lightondark", {QStringLiteral("lightondark"), 210, true, false, 0}, 65},
    {"mirrored", {QStringLiteral("mirrored"), 218, false, true, 0}, 90},
    {"lowcontrast", {QStringLiteral("lowcontrast"), 60, false, false, 8}, 55},
};

} // namespace

QStringList tuningSceneNames() {
    QStringList names;
    for (const TuningScene& s : kScenes)
        names << QString::fromLatin1(s.name);
    return names;
}

bool applyTuningScene(Scene& scene, const QString& name, QString* error) {
    for (const TuningScene& s : kScenes) {
        if (name.compare(QLatin1String(s.name), Qt::CaseInsensitive) == 0) {
            scene.setPart(s.part);
            scene.setPrintContrast(s.contrast);
            return true;
        }
    }
    if (error)
        *error = QStringLiteral("unknown part \"%1\"; known: %2").arg(name, tuningSceneNames().join(", "));
    return false;
}

void addHighlight(QImage& reflectance, const PartSurface& part) {
    const int rows = std::clamp(reflectance.height() * part.highlightPercent / 100, 0, reflectance.height());
    for (int y = 0; y < rows; ++y) {
        uchar* line = reflectance.scanLine(y);
        std::fill(line, line + reflectance.width(), uchar(250));
    }
}

} // namespace vm::sim
