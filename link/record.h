#pragma once

#include "link/wholefile.h"

#include <QImage>
#include <QJsonObject>
#include <QList>
#include <QPointF>
#include <QRect>
#include <QString>
#include <QVector>

#include <optional>

namespace vm::link {

// Grey-level statistics of a rectangle of a record's image.
struct HistogramResult {
    QVector<quint32> bins = QVector<quint32>(256, 0);
    double mean = 0.0;
    double standardDeviation = 0.0;
    quint64 pixelCount = 0;
};

// The image of one read cycle, with the photometry the reader used for it.
class RecordImage {
public:
    RecordImage() = default;
    RecordImage(QImage image, qint64 number, int exposure, int gain, bool photometryValid);

    bool IsEmpty() const { return m_image.isNull(); }
    const QImage& image() const { return m_image; }
    qint64 Number() const { return m_number; }
    int Exposure() const { return m_exposure; }
    int Gain() const { return m_gain; }
    bool PhotometryValid() const { return m_photometryValid; }
    int Width() const { return m_image.width(); }
    int Height() const { return m_image.height(); }
    // Grey value of one pixel; -1 outside the image or without an image.
    int GrayValue(int x, int y) const;

    // Histogram of the rectangle given by its inclusive image-pixel edges; the
    // rectangle is clipped to the image.
    HistogramResult Histogram(int left, int top, int right, int bottom) const;
    HistogramResult Histogram(const QRect& rectangle) const;

    // Writes the image as TIFF (".tif"/".tiff") or BMP (".bmp"), chosen by the
    // extension. Returns false and fills errorText when that fails.
    bool SaveToFile(const QString& path, QString* errorText = nullptr,
                    Durability durability = Durability::Synced) const;

private:
    QImage m_image;
    qint64 m_number = 0;
    int m_exposure = 0;
    int m_gain = 0;
    bool m_photometryValid = false;
};

// The decode result of one read cycle.
class RecordResult {
public:
    bool SymbolFound() const { return m_symbolFound; }
    // The four corners of the located symbol in image pixels; empty when none.
    const QList<QPointF>& Corners() const { return m_corners; }
    const QString& StatusText() const { return m_statusText; }
    const QString& Text() const { return m_text; }
    const QString& Symbology() const { return m_symbology; }
    double DecodeMilliseconds() const { return m_decodeMs; }

    bool m_symbolFound = false;
    QList<QPointF> m_corners;
    QString m_statusText;
    QString m_text;
    QString m_symbology;
    double m_decodeMs = 0.0;
};

// One measured verification parameter with its grade.
struct VerificationParameter {
    QString name;
    QString value;
    QString grade; // "A" to "F", or a numeric grade as the standard reports it
};

// The verification result that a record carries while the reader grades.
struct VerificationResult {
    QString standard;     // the reader's verification keyword, e.g. "ISO15415"
    QString overallGrade; // "A" to "F"
    int gradeCode = 0;    // 3 good, 2 fair, 1 poor, 0 failed
    int errorCode = 0;    // 0 success; calibration error codes otherwise
    QList<VerificationParameter> parameters;
    QJsonObject raw; // everything the reader sent, for the report windows
};

// The calibration outcome carried by the record that concludes a calibration.
struct CalibrationResult {
    QString light;
    int errorCode = 0; // 0 success
    double cellUnit = 0.0;
    double contrastMax = 0.0;
    double contrastMin = 0.0;
    double reflectanceCal = 0.0; // R_cal
    QJsonObject raw;
};

// One read cycle's record, as the reader delivers it. A cheap value: the image
// is implicitly shared.
class Record {
public:
    bool Passed() const { return m_passed; }
    qint64 Number() const { return m_image.Number(); }
    qint64 TimeMs() const { return m_timeMs; }
    bool HasLearnStatus() const { return m_learnStatus.has_value(); }
    int LearnStatus() const { return m_learnStatus.value_or(0); }
    const RecordImage& Image() const { return m_image; }
    const RecordResult& Result() const { return m_result; }
    bool HasVerification() const { return m_verification.has_value(); }
    const std::optional<VerificationResult>& Verification() const { return m_verification; }
    bool HasCalibration() const { return m_calibration.has_value(); }
    const std::optional<CalibrationResult>& Calibration() const { return m_calibration; }
    // Match outcome when matching is on: "PASS", "FAIL" or empty.
    const QString& Match() const { return m_match; }

    bool m_passed = false;
    qint64 m_timeMs = 0;
    std::optional<int> m_learnStatus;
    RecordImage m_image;
    RecordResult m_result;
    std::optional<VerificationResult> m_verification;
    std::optional<CalibrationResult> m_calibration;
    QString m_match;
};

} // namespace vm::link

Q_DECLARE_METATYPE(vm::link::Record)
