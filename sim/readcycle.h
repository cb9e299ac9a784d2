#pragma once

#include <QByteArray>
#include <QImage>
#include <QJsonObject>
#include <QList>
#include <QPointF>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace vm::sim {

// What the acquisition engine needs from the reader's parameter store. Learn and
// automatic photometry write back through setFields.
class ParameterSource {
public:
    virtual ~ParameterSource() = default;
    // The fields of a parameter by its full upper-case name ("TRIG", "VERENABLE CS"),
    // without the name itself; empty when the reader has no such parameter.
    virtual QStringList fields(const QString& name) const = 0;
    virtual void setFields(const QString& name, const QStringList& fields) = 0;
    // The reader's firmware level (2 to 10, or 99).
    virtual int firmwareLevel() const = 0;
};

// Everything one read cycle produced.
struct CycleOutput {
    QImage image; // 659 x 494, Format_Grayscale8
    bool passed = false;
    bool symbolFound = false;
    bool located = false;   // a symbol was seen, decoded or not
    QList<QPointF> corners; // four corners in image pixels when found
    QString text;           // decoded text
    QString status;         // status text
    QString symbology;
    double decodeMs = 0.0;
    int exposure = 0;
    int gain = 0;
    bool photometryValid = false;
    std::optional<int> learnStatus;
    QJsonObject verification; // empty when the reader does not grade
    QJsonObject calibration;  // present on the record that concludes a calibration
    QString match;            // "PASS", "FAIL" or empty when matching is off
    int matchEntry = 0;       // the match list entry (1 to 15) the text matched, 0 otherwise
    int attempts = 1;         // acquisitions and decodes the cycle made (retries included)
    int pid = 0;              // the stored PID whose settings made the last attempt, 0: the current ones
    bool timedOut = false;    // the read time-out ended the cycle
};

class Scene;

// Runs one acquisition and decode on the reader's current image source.
class ReadCycle {
public:
    explicit ReadCycle(ParameterSource& parameters);
    ~ReadCycle();

    // One whole read cycle, retries included (RETRYEX modes TIME, COUNT, LIGHT), in one go.
    CycleOutput run();
    // One acquisition and decode, for a reader that spreads a cycle's retries over time: a new
    // image, or the last one again; `illumination` overrides ILLUM when not empty.
    CycleOutput attempt(bool newImage, const QString& illumination = {});

    Scene& scene();

    // Reader commands the acquisition engine carries out itself, given as the
    // command line split on blanks: "LEARNEX", "LEARNASSIST", "LEARN BOTH",
    // "LEARN CALIBRATE", "LEARNCANCEL", "UNLEARN", "PHOTO AUTO",
    // "CAPTURE FILES", "CAPTURE CAMERA", "DRIVEDELETE FILES". A learn or a
    // calibration concludes in the next run(), whose output carries its outcome.
    static bool handlesCommand(const QStringList& words);
    // False with a message when the command is malformed or cannot be done now.
    bool command(const QStringList& words, QString* error = nullptr);
    // A BMP or TIFF file the PC transferred; false with a message when refused.
    bool addFile(const QString& name, const QByteArray& bytes, QString* error = nullptr);
    bool learnPending() const;
    bool calibrationPending() const;

    // A picture put in front of the camera (the admin interface's "image"): from the next
    // cycle on every new frame shows it, as a transferred image file does, until
    // removePicture(). Any picture format Qt reads; its grey levels are reflectances, 255 for
    // 100 %, cropped or padded to the sensor and never stretched. False with a message when
    // the file cannot be read.
    bool showPicture(const QString& path, QString* error = nullptr);
    void removePicture();
    QString pictureName() const;

    // The acquisition engine that reads its parameters from `parameters` (one per reader), or
    // null: the admin interface reaches a reader's camera through it.
    static ReadCycle* serving(const ParameterSource& parameters);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace vm::sim
