#include "link/record.h"

#include "link/wholefile.h"

#include <QFileInfo>
#include <QImageWriter>

#include <cmath>

namespace vm::link {

RecordImage::RecordImage(QImage image, qint64 number, int exposure, int gain, bool photometryValid)
    : m_image(std::move(image))
    , m_number(number)
    , m_exposure(exposure)
    , m_gain(gain)
    , m_photometryValid(photometryValid) {
    if (!m_image.isNull() && m_image.format() != QImage::Format_Grayscale8)
        m_image = m_image.convertToFormat(QImage::Format_Grayscale8);
}

int RecordImage::GrayValue(int x, int y) const {
    if (m_image.isNull() || x < 0 || y < 0 || x >= m_image.width() || y >= m_image.height())
        return -1;
    return m_image.constScanLine(y)[x];
}

HistogramResult RecordImage::Histogram(int left, int top, int right, int bottom) const {
    HistogramResult result;
    if (m_image.isNull())
        return result;
    if (left > right)
        std::swap(left, right);
    if (top > bottom)
        std::swap(top, bottom);
    left = qMax(left, 0);
    top = qMax(top, 0);
    right = qMin(right, m_image.width() - 1);
    bottom = qMin(bottom, m_image.height() - 1);
    if (left > right || top > bottom)
        return result;

    quint32* bins = result.bins.data();
    for (int y = top; y <= bottom; ++y) {
        const uchar* line = m_image.constScanLine(y);
        for (int x = left; x <= right; ++x)
            ++bins[line[x]];
    }
    // Sums over the bins are exact in 64 bits for any image size we accept.
    quint64 count = 0;
    quint64 sum = 0;
    quint64 sumSquares = 0;
    for (int v = 0; v < 256; ++v) {
        count += bins[v];
        sum += quint64(bins[v]) * v;
        sumSquares += quint64(bins[v]) * v * v;
    }
    result.pixelCount = count;
    if (count > 0) {
        result.mean = double(sum) / double(count);
        const double variance = double(sumSquares) / double(count) - result.mean * result.mean;
        result.standardDeviation = std::sqrt(qMax(0.0, variance));
    }
    return result;
}

HistogramResult RecordImage::Histogram(const QRect& rectangle) const {
    return Histogram(rectangle.left(), rectangle.top(), rectangle.right(), rectangle.bottom());
}

bool RecordImage::SaveToFile(const QString& path, QString* errorText, Durability durability) const {
    auto fail = [errorText](const QString& text) {
        if (errorText)
            *errorText = text;
        return false;
    };
    if (m_image.isNull())
        return fail(QStringLiteral("There is no image to save"));
    const QString suffix = QFileInfo(path).suffix().toLower();
    QByteArray format;
    if (suffix == QLatin1String("tif") || suffix == QLatin1String("tiff"))
        format = "tiff";
    else if (suffix == QLatin1String("bmp"))
        format = "bmp";
    else
        return fail(QStringLiteral("Images are saved as .tif or .bmp, not as \"%1\"").arg(path));
    // BMP has no grey format: an indexed grey palette keeps the values exact.
    QImage out = m_image;
    if (format == "bmp") {
        QVector<QRgb> palette(256);
        for (int i = 0; i < 256; ++i)
            palette[i] = qRgb(i, i, i);
        out = m_image.convertToFormat(QImage::Format_Indexed8, palette);
    }
    return writeWholeFile(
        path,
        [&](QIODevice& device, QString* why) {
            QImageWriter writer(&device, format);
            if (writer.write(out))
                return true;
            *why = QStringLiteral("Cannot write %1: %2").arg(path, writer.errorString());
            return false;
        },
        errorText, durability);
}

} // namespace vm::link
