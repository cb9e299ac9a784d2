#include "sim/externallight.h"

#include "sim/catalogue.h"
#include "sim/imaging.h"
#include "sim/imagingparameters.h"
#include "sim/readcycle.h"

#include <algorithm>
#include <cmath>

namespace vm::sim {

namespace {

struct Geometry {
    const char* name;
    int angle;      // degrees above the part, 0 for the dome
    int wavelength; // nanometres, on a 10-channel controller
    double yield;   // share of the lamp's light that a flat white part sends into the lens
};

// Bright field on axis returns most light; the low-angle dark-field lights skim the
// part and only a little of their light reaches the lens from flat paper.
constexpr Geometry kGeometries[] = {
    {"90", 90, 625, 1.00},     {"D", 0, 660, 0.85},      {"45Q", 45, 625, 0.70},   {"30T_NS", 30, 850, 0.55},
    {"30T_EW", 30, 850, 0.55}, {"30Q", 30, 625, 0.60},   {"30S_N", 30, 470, 0.50}, {"30S_E", 30, 470, 0.50},
    {"30S_S", 30, 470, 0.50},  {"30S_W", 30, 470, 0.50},
};

// A lamp at full output on a white part gives a little more light than the reader's own.
constexpr double kLampStrength = 1.2;

const Geometry* geometry(const QString& name) {
    for (const Geometry& g : kGeometries)
        if (name == QLatin1String(g.name))
            return &g;
    return nullptr;
}

} // namespace

double sensorResponse(int wavelengthNm) {
    const double off = (std::clamp(wavelengthNm, 280, 880) - 620) / 330.0;
    return std::exp(-off * off);
}

ExternalLight selectedExternalLight(const FieldReader& fields) {
    ExternalLight light;
    const int channels = fields.number("XLIGHTCHANNELS", 0);
    const QString selected = fields.text("LIGHT_CTL", 0).toUpper();
    if (channels <= 0 || selected.isEmpty() || selected == QLatin1String("OFF"))
        return light;
    // A single channel is the bright-field light "90".
    if (channels == 1 && selected != QLatin1String("90"))
        return light;
    const Geometry* g = geometry(selected);
    if (!g)
        return light;
    light.name = selected;
    light.angle = g->angle;
    // A single channel is whatever lamp the operator fitted, with its WAVELENGTH.
    light.wavelength = channels == 1 ? fields.number("WAVELENGTH", 0) : g->wavelength;
    const QStringList output = fields.fields(QLatin1String(kLampOutputRequest) + QLatin1Char(' ') + selected);
    light.output = output.isEmpty() ? 100 : std::clamp(output.first().toInt(), 0, 100);
    light.level = kLampStrength * g->yield * sensorResponse(light.wavelength) * light.output / 100.0;
    return light;
}

double controlledLightShare(const FieldReader& fields) {
    const double ambient = Camera::lightLevel(QStringLiteral("OFF"));
    const double total = Camera::lightLevel(fields.text("ILLUM", 0)) + selectedExternalLight(fields).level;
    return total > 0 ? (total - ambient) / total : 0.0;
}

bool setLampOutput(ParameterSource& parameters, const QString& light, const QString& percent,
                   QString* error) {
    const QString name = light.toUpper();
    if (!geometry(name)) {
        *error = QStringLiteral("unknown light \"%1\"; known: %2").arg(light, lightNames().mid(1).join(", "));
        return false;
    }
    bool ok = false;
    const int value = percent.toInt(&ok);
    if (!ok || value < 0 || value > 100) {
        *error = QStringLiteral("lamp output must be 0 to 100 percent, not \"%1\"").arg(percent);
        return false;
    }
    parameters.setFields(QLatin1String(kLampOutputRequest) + QLatin1Char(' ') + name,
                         {QString::number(value)});
    return true;
}

} // namespace vm::sim
