#pragma once

#include <QString>

namespace vm::sim {

class FieldReader;
class ParameterSource;

// The external light controller: 1 channel ("90") or 10 channels, one per lighting
// geometry. The channel that LIGHT_CTL selects lights the whole scene evenly; how much of
// its light comes back into the lens depends on its angle, how much the sensor makes of
// it on its wavelength, and the lamp's own output (a worn or dimmed lamp gives less).
struct ExternalLight {
    QString name;       // "90", "D", "45Q", ...; empty when no external light is on
    int angle = 0;      // degrees above the part; 0 for the diffuse dome
    int wavelength = 0; // nanometres
    int output = 100;   // percent of the lamp's rated output
    double level = 0.0; // light on the scene, in units of the internal light on axis
};

// The lamp output of a channel is kept as an engine request of this name plus the light.
inline constexpr char kLampOutputRequest[] = "LAMP_OUTPUT";

// The selected channel and what it puts on the scene.
ExternalLight selectedExternalLight(const FieldReader& fields);

// The sensor's relative response at a wavelength: 1 at its peak, falling towards the
// ultraviolet and the infrared.
double sensorResponse(int wavelengthNm);

// The share of the light on the target that the selected light (internal or external)
// gives; the rest is the hall's ambient light, which a calibration must not depend on.
double controlledLightShare(const FieldReader& fields);

// Sets a channel's lamp output (0 to 100 percent); false with a message for an unknown
// light or value.
bool setLampOutput(ParameterSource& parameters, const QString& light, const QString& percent, QString* error);

} // namespace vm::sim
