#pragma once

#include <QImage>
#include <QRect>
#include <QString>

#include <vector>

namespace vm::sim {

// How the picture is taken and prepared for the decoder.
struct ImagingSettings {
    int exposureUs = 1000; // 30 to 20000
    int gain = 0;          // 0 to 1023
    QString illumination = QStringLiteral("ON");
    double externalLight = 0.0; // even light of the selected external channel, see externallight.h
    double sensorNoise = 3.0;   // grey levels at gain 0
    QString morph = QStringLiteral("NONE"); // NONE, ERODE, DILATE, OPEN, CLOSE
    int morphIterations = 1;
    bool negative = false;
};

// Brightness of one exposure, measured the way automatic photometry does.
struct Photometry {
    double mean = 0.0;
    int bright = 0;         // the 97th percentile grey: the paper
    int dark = 0;           // the 3rd percentile grey: the ink
    double saturated = 0.0; // share of pixels at 255
    bool good() const { return bright >= 150 && bright <= 240 && saturated < 0.01; }
};

// The simulated sensor and lighting: reflectance times light times exposure
// and gain, plus sensor noise, clipped to 8 bits.
class Camera {
public:
    // Relative light the illumination mode puts on the scene centre.
    static double lightLevel(const QString& illumination);
    static bool isPowerStrobe(const QString& illumination);

    // The raw sensor picture (before preprocessing).
    QImage expose(const QImage& reflectance, const ImagingSettings& settings, quint64 seed);
    // MORPH and NEGATIVE, applied by the reader before decoding.
    static QImage preprocess(QImage image, const ImagingSettings& settings);
    static Photometry measure(const QImage& image);

    // The sensor's grey level for no light at all.
    static constexpr int kBlackLevel = 2;
    // The picture a verification measures: the mean of `shots` exposures of the still part,
    // less the black level and divided by the lights' fall-off from the centre of the picture,
    // so that one grey level stands for one reflectance anywhere in it. `clipped` is set to the
    // share of the pixels within `region` that reached full scale in any of the exposures.
    QImage gradingPicture(const QImage& reflectance, const ImagingSettings& settings, quint64 seed, int shots,
                          const QRect& region, double* clipped);

private:
    const std::vector<float>& lightProfile(const QString& illumination);
    // A picture of this size that nobody else holds any more, to expose into without a new
    // allocation (pictures of a running reader come and go hundreds of times a second).
    QImage& freeFrame(int width, int height);

    QString m_profileMode;
    std::vector<float> m_profile;
    std::vector<qint8> m_noise;
    std::vector<QImage> m_frames;
};

// Automatic photometry: steers exposure, then gain, so that the paper lands
// at a good grey level within a few cycles.
class AutoPhotometry {
public:
    void setLimits(int minExposure, int maxExposure, int minGain, int maxGain);
    int exposure() const { return m_exposure; }
    int gain() const { return m_gain; }
    void reset(int exposure, int gain);
    // Feeds one measured picture; returns true when it was already good.
    bool update(const Photometry& measured);
    bool converged() const { return m_converged; }

private:
    int m_exposure = 1000;
    int m_gain = 0;
    int m_minExposure = 30;
    int m_maxExposure = 20000;
    int m_minGain = 0;
    int m_maxGain = 1023;
    bool m_converged = false;
};

// Gain steps are a sixth of an octave each 128 counts: gain 1023 multiplies by
// about nine.
double gainFactor(int gain);

} // namespace vm::sim
