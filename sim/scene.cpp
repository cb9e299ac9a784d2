#include "sim/scene.h"

#include "sim/logging.h"

#define ZX_USE_UTF8 1
#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>

#include <QBuffer>
#include <QImageReader>
#include <QJsonArray>

#include <algorithm>
#include <cmath>
#include <exception>
#include <span>
#include <vector>

namespace vm::sim {

namespace {

struct SymbologyEntry {
    const char* name;
    ZXing::BarcodeFormat format;
    bool linear;
};

const SymbologyEntry kSymbologies[] = {
    {"DATAMATRIX", ZXing::BarcodeFormat::DataMatrix, false},
    {"QR", ZXing::BarcodeFormat::QRCode, false},
    {"PDF417", ZXing::BarcodeFormat::PDF417, false},
    {"CODE128", ZXing::BarcodeFormat::Code128, true},
    {"CODE39", ZXing::BarcodeFormat::Code39, true},
    {"CODE93", ZXing::BarcodeFormat::Code93, true},
    {"ITF", ZXing::BarcodeFormat::ITF, true},
    {"CODABAR", ZXing::BarcodeFormat::Codabar, true},
    {"EAN13", ZXing::BarcodeFormat::EAN13, true},
    {"EAN8", ZXing::BarcodeFormat::EAN8, true},
    {"UPCA", ZXing::BarcodeFormat::UPCA, true},
    {"UPCE", ZXing::BarcodeFormat::UPCE, true},
};

const SymbologyEntry* findSymbology(const QString& name) {
    QString key = name.toUpper();
    key.remove(QLatin1Char('-')).remove(QLatin1Char('_')).remove(QLatin1Char(' '));
    if (key == QLatin1String("QRCODE"))
        key = QStringLiteral("QR");
    if (key == QLatin1String("DM"))
        key = QStringLiteral("DATAMATRIX");
    for (const SymbologyEntry& entry : kSymbologies) {
        if (key == QLatin1String(entry.name))
            return &entry;
    }
    return nullptr;
}

constexpr int kPaper = 218; // white paper reflects about 85 %

bool setError(QString* error, const QString& text) {
    if (error)
        *error = text;
    return false;
}

// Grey value that stands for paper when a file is smaller than the sensor: the
// mean of its border pixels, so that the padding does not add edges.
int borderMean(const QImage& image) {
    qint64 sum = 0;
    qint64 count = 0;
    const int w = image.width();
    const int h = image.height();
    for (int x = 0; x < w; ++x) {
        sum += image.constScanLine(0)[x] + image.constScanLine(h - 1)[x];
        count += 2;
    }
    for (int y = 0; y < h; ++y) {
        sum += image.constScanLine(y)[0] + image.constScanLine(y)[w - 1];
        count += 2;
    }
    return count ? int(sum / count) : kPaper;
}

void boxBlur(QImage& image, const QRect& area) {
    // A [1 2 1] kernel in both directions: the lens never renders a perfect edge.
    const QRect r = area.intersected(image.rect().adjusted(1, 1, -1, -1));
    if (r.isEmpty())
        return;
    std::vector<quint8> row(size_t(image.width()));
    for (int y = r.top(); y <= r.bottom(); ++y) {
        uchar* line = image.scanLine(y);
        std::copy(line, line + image.width(), row.begin());
        for (int x = r.left(); x <= r.right(); ++x)
            line[x] = quint8((row[x - 1] + 2 * row[x] + row[x + 1] + 2) / 4);
    }
    const qsizetype stride = image.bytesPerLine();
    std::vector<quint8> col(size_t(image.height()));
    uchar* bits = image.bits();
    for (int x = r.left(); x <= r.right(); ++x) {
        for (int y = r.top() - 1; y <= r.bottom() + 1; ++y)
            col[size_t(y)] = bits[y * stride + x];
        for (int y = r.top(); y <= r.bottom(); ++y)
            bits[y * stride + x] = quint8((col[y - 1] + 2 * col[y] + col[y + 1] + 2) / 4);
    }
}

} // namespace

Scene::Scene() = default;

QStringList Scene::symbologyNames() {
    QStringList names;
    for (const SymbologyEntry& entry : kSymbologies)
        names << QString::fromLatin1(entry.name);
    return names;
}

QString Scene::nextText() const {
    if (m_serialDigits <= 0)
        return m_text;
    return m_text + QStringLiteral("%1").arg(m_serial, m_serialDigits, 10, QLatin1Char('0'));
}

bool Scene::renderSymbol(const QString& text, Frame& frame, QString* error) const {
    const SymbologyEntry* entry = findSymbology(m_symbology);
    if (!entry)
        return setError(error, QStringLiteral("unknown symbology %1").arg(m_symbology));
    ZXing::BitMatrix matrix;
    try {
        ZXing::MultiFormatWriter writer(entry->format);
        writer.setMargin(0);
        matrix = writer.encode(text.toStdString(), 0, entry->linear ? 1 : 0);
    } catch (const std::exception& e) {
        return setError(error, QStringLiteral("%1 cannot hold \"%2\": %3")
                                   .arg(QString::fromLatin1(entry->name), text, QString::fromUtf8(e.what())));
    }
    // The writer's margin differs between symbologies: crop to the printed modules.
    int left = matrix.width(), top = matrix.height(), right = -1, bottom = -1;
    for (int y = 0; y < matrix.height(); ++y) {
        for (int x = 0; x < matrix.width(); ++x) {
            if (matrix.get(x, y)) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    if (right < 0)
        return setError(error, QStringLiteral("the encoder produced an empty symbol"));
    const int modulesW = right - left + 1;
    const int modulesH = bottom - top + 1;
    // Bars get a height of a third of their length; 2D symbols keep their shape.
    const double shownH = entry->linear ? std::max(modulesH, int(std::lround(modulesW * 0.3))) : modulesH;
    // An uneven printer makes the symbol wider than its modules.
    const double printedW = m_defects.printedWidth(modulesW);
    double s = m_moduleSize;
    // A symbol that would not fit is printed smaller, as an operator would move the camera back.
    const double fit = std::min(0.9 * kWidth / printedW, 0.9 * kHeight / shownH);
    if (entry->linear || s > fit)
        s = std::min(s, fit);
    if (s < 1.0)
        return setError(error, QStringLiteral("the symbol does not fit the image"));

    QImage image(kWidth, kHeight, QImage::Format_Grayscale8);
    // A light-on-dark mark (etched or peened into a dark part) swaps paper and ink.
    const int paper = m_part.reflectance;
    const int ink = int(std::lround(paper * (1.0 - m_defects.fadedContrast(m_contrast) / 100.0)));
    const int background = m_part.lightOnDark ? ink : paper;
    const int mark = m_part.lightOnDark ? paper : ink;
    image.fill(background);
    const double angle = m_rotation * M_PI / 180.0;
    const double c = std::cos(angle), sn = std::sin(angle);
    const double cx = m_center.x(), cy = m_center.y();
    auto toImage = [&](double u, double v) {
        const double a = (u - printedW / 2.0) * s, b = (v - shownH / 2.0) * s;
        return QPointF(cx + a * c - b * sn, cy + a * sn + b * c);
    };
    frame.corners = {toImage(0, 0), toImage(printedW, 0), toImage(printedW, shownH), toImage(0, shownH)};
    QRectF bounds;
    for (const QPointF& p : frame.corners)
        bounds =
            bounds.isNull() ? QRectF(p, QSizeF(0.01, 0.01)) : bounds.united(QRectF(p, QSizeF(0.01, 0.01)));
    const QRect area = bounds.toAlignedRect().adjusted(-2, -2, 2, 2).intersected(image.rect());

    // A spot sits in the middle of the widest space between the bars, over part of their height.
    double spotCentre = -1, spotHalfWidth = 0;
    if (entry->linear && m_defects.spot() > 0) {
        int runStart = -1;
        for (int x = 0; x < modulesW; ++x) {
            if (!matrix.get(left + x, top)) {
                if (runStart < 0)
                    runStart = x;
            } else if (runStart >= 0) {
                if ((x - runStart) * 0.35 > spotHalfWidth) {
                    spotHalfWidth = (x - runStart) * 0.35;
                    spotCentre = (runStart + x) / 2.0;
                }
                runStart = -1;
            }
        }
    }
    const int spotMark = background + (mark - background) * m_defects.spot() / 100;
    const bool dataMatrix = entry->format == ZXing::BarcodeFormat::DataMatrix;

    // Two by two samples per pixel so that rotated edges are anti-aliased; four by four for
    // bars, whose widths are measured to a fraction of their few pixels.
    static constexpr double kSub2[2] = {0.25, 0.75};
    static constexpr double kSub4[4] = {0.125, 0.375, 0.625, 0.875};
    const std::span<const double> kSub =
        entry->linear ? std::span<const double>(kSub4) : std::span<const double>(kSub2);
    const int samples = int(kSub.size() * kSub.size());
    for (int y = area.top(); y <= area.bottom(); ++y) {
        uchar* line = image.scanLine(y);
        for (int x = area.left(); x <= area.right(); ++x) {
            int dark = 0, spot = 0;
            for (double sy : kSub) {
                for (double sx : kSub) {
                    const double dx = x + sx - cx, dy = y + sy - cy;
                    const double u = (dx * c + dy * sn) / s + printedW / 2.0;
                    const double v = (-dx * sn + dy * c) / s + shownH / 2.0;
                    if (u < 0 || v < 0 || u >= printedW || v >= shownH)
                        continue;
                    const double module = m_defects.moduleAt(u, modulesW);
                    const int seen = std::clamp(int(module), 0, modulesW - 1);
                    const int col = m_part.mirrored ? modulesW - 1 - seen : seen;
                    const int row = entry->linear ? 0 : std::min(int(v), modulesH - 1);
                    bool printed = matrix.get(left + col, top + row);
                    if (dataMatrix)
                        printed = m_defects.finderModuleDark(printed, col, row, modulesW, modulesH);
                    if (printed) {
                        ++dark;
                    } else if (spotCentre >= 0) {
                        const double su = (m_part.mirrored ? modulesW - module : module) - spotCentre;
                        const double sv = (v - shownH / 2.0) / (0.2 * shownH);
                        spot += su * su / (spotHalfWidth * spotHalfWidth) + sv * sv <= 1.0 ? 1 : 0;
                    }
                }
            }
            line[x] =
                quint8((background * (samples - dark - spot) + mark * dark + spotMark * spot) / samples);
        }
    }
    for (int i = 0; i < m_blur; ++i)
        boxBlur(image, area);
    addHighlight(image, m_part);
    frame.reflectance = image;
    frame.printedText = text;
    frame.symbology = QString::fromLatin1(entry->name);
    return true;
}

Scene::Frame Scene::nextFrame() {
    Frame frame;
    frame.sequence = ++m_sequence;
    if (m_useFiles && !m_files.isEmpty()) {
        const File& file = m_files.at(m_fileIndex % m_files.size());
        m_fileIndex = (m_fileIndex + 1) % int(m_files.size());
        frame.reflectance = file.image;
        frame.fileName = file.name;
    } else {
        const QString text = nextText();
        QString error;
        if (!renderSymbol(text, frame, &error)) {
            // An operator can set a text that the symbology cannot hold once the serial grows.
            qCWarning(lcSim) << "cannot print the symbol:" << error;
            frame.reflectance = QImage(kWidth, kHeight, QImage::Format_Grayscale8);
            frame.reflectance.fill(kPaper);
        }
        m_serial += m_serialStep;
    }
    m_current = frame;
    return frame;
}

bool Scene::setText(const QString& text, QString* error) {
    if (text.size() > 2000)
        return setError(error, QStringLiteral("text too long (at most 2000 characters)"));
    const QString previous = m_text;
    m_text = text;
    Frame probe;
    if (!renderSymbol(nextText(), probe, error)) {
        m_text = previous;
        return false;
    }
    return true;
}

bool Scene::setSymbology(const QString& name, QString* error) {
    const SymbologyEntry* entry = findSymbology(name);
    if (!entry)
        return setError(
            error,
            QStringLiteral("unknown symbology \"%1\"; known: %2").arg(name, symbologyNames().join(", ")));
    const QString previous = m_symbology;
    m_symbology = QString::fromLatin1(entry->name);
    Frame probe;
    if (!renderSymbol(nextText(), probe, error)) {
        m_symbology = previous;
        return false;
    }
    return true;
}

bool Scene::set(const QString& key, const QString& value, QString* error) {
    const QString k = key.toLower();
    if (k == QLatin1String("text"))
        return setText(value, error);
    if (k == QLatin1String("symbology"))
        return setSymbology(value, error);
    if (k == QLatin1String("part"))
        return applyTuningScene(*this, value, error);
    if (k == QLatin1String("fault"))
        return m_defects.set(value, error);
    if (k == QLatin1String("drift"))
        return m_defects.setDrift(value, error);
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok || !std::isfinite(number))
        return setError(error, QStringLiteral("%1 needs a number, not \"%2\"").arg(key, value));
    auto inRange = [&](double low, double high) {
        if (number >= low && number <= high)
            return true;
        return setError(error, QStringLiteral("%1 must lie between %2 and %3").arg(key).arg(low).arg(high));
    };
    if (k == QLatin1String("serial")) {
        if (!inRange(0, 1e12))
            return false;
        m_serial = qint64(number);
    } else if (k == QLatin1String("serialdigits")) {
        if (!inRange(0, 12))
            return false;
        m_serialDigits = int(number);
    } else if (k == QLatin1String("serialstep")) {
        if (!inRange(-1000, 1000))
            return false;
        m_serialStep = int(number);
    } else if (k == QLatin1String("x")) {
        if (!inRange(0, kWidth))
            return false;
        m_center.setX(number);
    } else if (k == QLatin1String("y")) {
        if (!inRange(0, kHeight))
            return false;
        m_center.setY(number);
    } else if (k == QLatin1String("rotation")) {
        if (!inRange(-360, 360))
            return false;
        m_rotation = number;
    } else if (k == QLatin1String("scale")) {
        if (!inRange(1, 40))
            return false;
        m_moduleSize = number;
    } else if (k == QLatin1String("contrast")) {
        if (!inRange(0, 100))
            return false;
        m_contrast = int(number);
    } else if (k == QLatin1String("noise")) {
        if (!inRange(0, 60))
            return false;
        m_noise = number;
    } else if (k == QLatin1String("blur")) {
        if (!inRange(0, 3))
            return false;
        m_blur = int(number);
    } else {
        return setError(error, QStringLiteral("unknown scene setting \"%1\"").arg(key));
    }
    return true;
}

QJsonObject Scene::settings() const {
    return {{"text", m_text},
            {"symbology", m_symbology},
            {"serial", double(m_serial)},
            {"serialdigits", m_serialDigits},
            {"serialstep", m_serialStep},
            {"x", m_center.x()},
            {"y", m_center.y()},
            {"rotation", m_rotation},
            {"scale", m_moduleSize},
            {"contrast", m_contrast},
            {"noise", m_noise},
            {"blur", m_blur},
            {"part", m_part.name},
            {"faults", m_defects.settings()},
            {"source", m_useFiles ? "files" : "camera"},
            {"files", QJsonArray::fromStringList(fileNames())}};
}

bool Scene::addFile(const QString& name, const QByteArray& bytes, QString* error) {
    if (m_files.size() >= kMaxFiles)
        return setError(error, QStringLiteral("no space: the reader holds at most %1 files").arg(kMaxFiles));
    if (bytes.size() > kMaxFileBytes)
        return setError(error, QStringLiteral("%1 is larger than 8 MiB").arg(name));
    QByteArray format;
    if (bytes.startsWith("BM"))
        format = "bmp";
    else if (bytes.startsWith(QByteArray("II*\0", 4)) || bytes.startsWith(QByteArray("MM\0*", 4)))
        format = "tiff";
    else
        return setError(error, QStringLiteral("%1 is neither a BMP nor a TIFF image").arg(name));
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer, format);
    QImage image = reader.read();
    if (image.isNull())
        return setError(error, QStringLiteral("%1 cannot be read: %2").arg(name, reader.errorString()));
    image = image.convertToFormat(QImage::Format_Grayscale8);
    // The file keeps its own scale: it is cropped or padded to the sensor, never stretched.
    QImage canvas(kWidth, kHeight, QImage::Format_Grayscale8);
    canvas.fill(borderMean(image));
    const int sx = std::max(0, (image.width() - kWidth) / 2);
    const int sy = std::max(0, (image.height() - kHeight) / 2);
    const int dx = std::max(0, (kWidth - image.width()) / 2);
    const int dy = std::max(0, (kHeight - image.height()) / 2);
    const int w = std::min(kWidth, image.width());
    const int h = std::min(kHeight, image.height());
    for (int y = 0; y < h; ++y)
        std::copy_n(image.constScanLine(sy + y) + sx, w, canvas.scanLine(dy + y) + dx);
    m_files.append({name, canvas});
    return true;
}

QStringList Scene::fileNames() const {
    QStringList names;
    for (const File& file : m_files)
        names << file.name;
    return names;
}

void Scene::deleteFiles() {
    m_files.clear();
    m_fileIndex = 0;
    m_useFiles = false;
}

bool Scene::useFiles(QString* error) {
    if (m_files.isEmpty())
        return setError(error, QStringLiteral("no image files on the reader"));
    m_useFiles = true;
    m_fileIndex = 0;
    return true;
}

} // namespace vm::sim
