#pragma once

#include <QByteArray>
#include <QImage>
#include <QJsonObject>
#include <QList>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <QVector>

#include "sim/printdefects.h"
#include "sim/tuningscenes.h"

namespace vm::sim {

// What stands in front of the simulated camera: a printed symbol on paper, or,
// after "CAPTURE FILES", the image files the PC transferred, taken in turn.
// The scene yields reflectance pictures (0 black, 255 white paper); the camera
// model in imaging.h turns them into grey images.
class Scene {
public:
    static constexpr int kWidth = 659;
    static constexpr int kHeight = 494;
    static constexpr int kMaxFiles = 64;
    static constexpr qint64 kMaxFileBytes = 8 * 1024 * 1024;

    Scene();

    // One picture for one read cycle. The serial number and the file index
    // advance with every call.
    struct Frame {
        QImage reflectance;     // Format_Grayscale8, kWidth x kHeight
        QString printedText;    // what the symbol holds; empty for a file
        QString symbology;      // symbology name of the printed symbol; empty for a file
        QList<QPointF> corners; // where the symbol was printed; empty for a file
        QString fileName;       // the file shown, when files are the source
        quint64 sequence = 0;   // counts frames, for the sensor noise
    };
    Frame nextFrame();
    // The same picture again (retries and learn sweeps within one cycle).
    Frame currentFrame() const { return m_current; }

    // The admin interface: "text", "serial", "serialdigits", "serialstep",
    // "symbology", "x", "y", "rotation", "scale" (pixels per module),
    // "contrast" (print contrast in percent), "noise" (grey levels), "blur", "part"
    // (tuningscenes.h), "fault" (printdefects.h: "KIND STRENGTH" or "none"), "drift"
    // (printdefects.h: "KIND RATE", "KIND off" or "off").
    // Returns false with a message when the key or value is bad; nothing changes then.
    bool set(const QString& key, const QString& value, QString* error = nullptr);
    QJsonObject settings() const;
    static QStringList symbologyNames();

    bool setText(const QString& text, QString* error = nullptr);
    QString text() const { return m_text; }
    bool setSymbology(const QString& name, QString* error = nullptr);
    QString symbology() const { return m_symbology; }
    void setSerial(qint64 next) { m_serial = next; }
    qint64 serial() const { return m_serial; }
    void setSerialDigits(int digits) { m_serialDigits = qBound(0, digits, 12); }
    void setSerialStep(int step) { m_serialStep = step; }
    void setCenter(QPointF center) { m_center = center; }
    QPointF center() const { return m_center; }
    void setRotation(double degrees) { m_rotation = degrees; }
    void setModuleSize(double pixels) { m_moduleSize = qBound(1.0, pixels, 40.0); }
    double moduleSize() const { return m_moduleSize; }
    // 0 (nothing printed) to 100 (black on white paper).
    void setPrintContrast(int percent) { m_contrast = qBound(0, percent, 100); }
    int printContrast() const { return m_contrast; }
    void setNoise(double greyLevels) { m_noise = qBound(0.0, greyLevels, 60.0); }
    double noise() const { return m_noise; }
    void setBlur(int radius) { m_blur = qBound(0, radius, 3); }
    // The surface the symbol is marked on (tuningscenes.h).
    void setPart(const PartSurface& part) { m_part = part; }
    const PartSurface& part() const { return m_part; }
    const PrintDefects& defects() const { return m_defects; }

    // The text the next frame prints: the configured text and the running serial.
    QString nextText() const;

    // Image files, in the order they arrived. Each is checked on arrival.
    bool addFile(const QString& name, const QByteArray& bytes, QString* error = nullptr);
    QStringList fileNames() const;
    int fileCount() const { return int(m_files.size()); }
    void deleteFiles();
    // "CAPTURE FILES" / "CAPTURE CAMERA". Files as the source need at least one file.
    bool useFiles(QString* error = nullptr);
    void useCamera() { m_useFiles = false; }
    bool usingFiles() const { return m_useFiles; }

private:
    struct File {
        QString name;
        QImage image; // already placed on a kWidth x kHeight grey canvas
    };
    bool renderSymbol(const QString& text, Frame& frame, QString* error) const;

    QString m_text = QStringLiteral("VELMARROW-");
    QString m_symbology = QStringLiteral("DATAMATRIX");
    qint64 m_serial = 1;
    int m_serialDigits = 4;
    int m_serialStep = 1;
    QPointF m_center{kWidth / 2.0, kHeight / 2.0};
    double m_rotation = 8.0;
    double m_moduleSize = 9.0;
    int m_contrast = 90;
    double m_noise = 3.0;
    int m_blur = 1;
    PartSurface m_part;
    PrintDefects m_defects;
    QList<File> m_files;
    int m_fileIndex = 0;
    bool m_useFiles = false;
    quint64 m_sequence = 0;
    Frame m_current;
};

} // namespace vm::sim
