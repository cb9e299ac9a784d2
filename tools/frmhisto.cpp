#include "tools/frmhisto.h"

#include "link/record.h"
#include "resources/strings.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPalette>

#include <cmath>

namespace vm::tools {

namespace {

QString zeroPadded(qint64 value, int digits) {
    const QString padded = QStringLiteral("%1").arg(value < 0 ? -value : value, digits, 10, QLatin1Char('0'));
    return value < 0 ? QLatin1Char('-') + padded : padded;
}

// "####.000": no leading zeros, three decimals.
QString threeDecimals(double value) {
    return QString::number(value, 'f', 3);
}

QFont scaleFont() {
    QFont font(QStringLiteral("Small Fonts"));
    font.setPointSize(7);
    return font;
}

} // namespace

// The bar chart: one box per grey level, red and blue in turn, under green lines at each
// tenth of the scale.
class frmHisto::Chart : public QWidget {
public:
    Chart(const HistogramFigures& figures, QWidget* parent)
        : QWidget(parent)
        , m_figures(figures) {
        setMinimumSize(256, 120);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        // It fills all of itself: the window need not clear the ground first.
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        if (m_figures.isEmpty() || m_figures.scaleMaximum <= 0) {
            p.fillRect(rect(), palette().color(QPalette::Button));
            return;
        }
        p.fillRect(rect(), Qt::white);
        const double sx = width() / 256.0;
        const double sy = height() / double(m_figures.scaleMaximum);
        for (int i = 0; i < 256; ++i) {
            const double h = m_figures.bins.at(i) * sy;
            p.fillRect(QRectF(i * sx, height() - h, sx, h),
                       i % 2 == 0 ? QColor(255, 0, 0) : QColor(0, 0, 255));
        }
        p.setPen(QColor(0, 255, 0));
        const int step = int(std::lround(m_figures.scaleMaximum / 10.0));
        for (int v = m_figures.scaleMaximum; step > 0 && v >= 0; v -= step) {
            const double y = height() - v * sy;
            p.drawLine(QPointF(0, y), QPointF(width(), y));
        }
    }

private:
    const HistogramFigures& m_figures;
};

// A scale beside or below the chart.
class frmHisto::Scale : public QWidget {
public:
    Scale(const HistogramFigures& figures, Qt::Orientation orientation, QWidget* parent)
        : QWidget(parent)
        , m_figures(figures)
        , m_orientation(orientation) {
        setFont(scaleFont());
        if (orientation == Qt::Vertical)
            setFixedWidth(QFontMetrics(font()).horizontalAdvance(QStringLiteral("000000")) + 4);
        else
            setFixedHeight(QFontMetrics(font()).height() + 2);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setPen(palette().color(QPalette::WindowText));
        if (m_orientation == Qt::Horizontal) {
            for (int v = 0; v <= 240; v += 16) {
                const double x = v * width() / 256.0;
                p.drawText(QPointF(x + 1, QFontMetrics(font()).ascent()), QString::number(v));
            }
            return;
        }
        if (m_figures.isEmpty() || m_figures.scaleMaximum <= 0)
            return;
        const int step = int(std::lround(m_figures.scaleMaximum / 10.0));
        const double sy = height() / double(m_figures.scaleMaximum);
        const int ascent = QFontMetrics(font()).ascent();
        for (int v = m_figures.scaleMaximum; step > 0 && v >= 0; v -= step) {
            const double y = std::clamp(height() - v * sy + ascent / 2.0, double(ascent), double(height()));
            p.drawText(QPointF(1, y), QString::number(v));
        }
    }

private:
    const HistogramFigures& m_figures;
    Qt::Orientation m_orientation;
};

frmHisto::frmHisto(QWidget* parent)
    : QWidget(parent, Qt::Window) {
    setObjectName(QLatin1String(WindowName));
    setWindowTitle(vm::res::Str(1201));

    m_picHisto = new Chart(m_figures, this);
    m_picHisto->setObjectName(QStringLiteral("picHisto"));
    m_picHisto->setAccessibleName(vm::res::Str(1201));
    m_picVscale = new Scale(m_figures, Qt::Vertical, this);
    m_picVscale->setObjectName(QStringLiteral("picVscale"));
    m_picHscale = new Scale(m_figures, Qt::Horizontal, this);
    m_picHscale->setObjectName(QStringLiteral("picHscale"));

    m_frameOptions = new QGroupBox(this);
    m_frameOptions->setObjectName(QStringLiteral("frameOptions"));
    auto* values = new QGridLayout(m_frameOptions);
    struct Pair {
        const char* caption;
        const char* value;
        int text;
        QLineEdit** label;
    };
    const Pair pairs[] = {
        {"capMinMax", "lblMinMax", 1202, &m_lblMinMax},    {"capMedian", "lblMedian", 1203, &m_lblMedian},
        {"capLowPeak", "lblLowPeak", 1204, &m_lblLowPeak}, {"capHighPeak", "lblHiPeak", 1205, &m_lblHiPeak},
        {"capMean", "lblMean", 1206, &m_lblMean},          {"capStdDev", "lblStdDev", 1207, &m_lblStdDev},
    };
    int index = 0;
    for (const Pair& pair : pairs) {
        auto* caption = new QLabel(vm::res::Str(pair.text), m_frameOptions);
        caption->setObjectName(QLatin1String(pair.caption));
        // Read-only fields rather than labels: readable and selectable from the keyboard, so
        // a screen reader reaches the figures, and new figures for every image neither lay
        // out a text document nor the window again, as a selectable label's would.
        auto* value = new QLineEdit(m_frameOptions);
        value->setObjectName(QLatin1String(pair.value));
        value->setReadOnly(true);
        value->setFrame(false);
        QPalette flat = value->palette();
        flat.setBrush(QPalette::Base, Qt::NoBrush);
        value->setPalette(flat);
        value->setAccessibleName(QString(vm::res::Str(pair.text)).remove(QLatin1Char(':')));
        value->setMinimumWidth(value->fontMetrics().horizontalAdvance(QStringLiteral("000 / 000 ")) +
                               value->fontMetrics().averageCharWidth());
        caption->setBuddy(value);
        values->addWidget(caption, index / 3, (index % 3) * 2);
        values->addWidget(value, index / 3, (index % 3) * 2 + 1);
        *pair.label = value;
        ++index;
    }

    auto* layout = new QGridLayout(this);
    layout->setSpacing(2);
    layout->addWidget(m_picVscale, 0, 0);
    layout->addWidget(m_picHisto, 0, 1);
    layout->addWidget(m_picHscale, 1, 1);
    layout->addWidget(m_frameOptions, 2, 0, 1, 2);
    layout->setRowStretch(0, 1);
    resize(420, 320);
}

void frmHisto::UpdateHistogram(int left, int top, int right, int bottom, const vm::link::RecordImage& image) {
    const int scaleBefore = m_figures.isEmpty() ? -1 : m_figures.scaleMaximum;
    m_figures.bins = QVector<qint32>(1, 0);
    if (left != right && top != bottom) {
        const double pixels = double(right - left) * double(bottom - top);
        // The image's rectangle is given by its inclusive edges.
        const vm::link::HistogramResult result =
            image.Histogram(std::min(left, right), std::min(top, bottom), std::max(left, right) - 1,
                            std::max(top, bottom) - 1);
        m_figures.bins = QVector<qint32>(256, 0);
        for (int i = 0; i < 256; ++i)
            m_figures.bins[i] = qint32(std::min<quint32>(result.bins.at(i), quint32(INT32_MAX)));
        m_figures.mean = result.mean;
        m_figures.deviation = result.standardDeviation;
        m_figures.minimum = -1;
        m_figures.maximum = -1;
        m_figures.median = -1;
        m_figures.highPeak = 0;
        m_figures.lowPeak = 255;
        qint64 cumulative = 0;
        for (int i = 0; i < 256; ++i) {
            const qint32 count = m_figures.bins.at(i);
            if (m_figures.minimum < 0 && count > 0)
                m_figures.minimum = i;
            if (m_figures.maximum < 0 && m_figures.bins.at(255 - i) > 0)
                m_figures.maximum = 255 - i;
            cumulative += count;
            if (m_figures.median < 0 && std::fabs(pixels) / 2.0 < double(cumulative))
                m_figures.median = i;
            if (count > m_figures.highPeak)
                m_figures.highPeak = count;
            if (count > 0 && count < m_figures.lowPeak)
                m_figures.lowPeak = count;
        }
        m_figures.scaleMaximum = m_figures.highPeak + (100 - m_figures.highPeak % 100);
    }
    m_picHisto->update();
    // The scales change only with the chart's maximum (the grey levels along the bottom never
    // do); at a reader's rate most images leave them as they are.
    if ((m_figures.isEmpty() ? -1 : m_figures.scaleMaximum) != scaleBefore)
        m_picVscale->update();
    m_lblHiPeak->setText(highPeakText());
    m_lblLowPeak->setText(lowPeakText());
    m_lblMean->setText(meanText());
    m_lblMedian->setText(medianText());
    m_lblStdDev->setText(stdDevText());
    m_lblMinMax->setText(minMaxText());
}

QWidget* frmHisto::chart() const {
    return m_picHisto;
}

QString frmHisto::minMaxText() const {
    return zeroPadded(m_figures.minimum, 3) + QStringLiteral(" / ") + zeroPadded(m_figures.maximum, 3);
}
QString frmHisto::medianText() const {
    return zeroPadded(m_figures.median, 3);
}
QString frmHisto::lowPeakText() const {
    return zeroPadded(m_figures.lowPeak, 6);
}
QString frmHisto::highPeakText() const {
    return zeroPadded(m_figures.highPeak, 6);
}
QString frmHisto::meanText() const {
    return threeDecimals(m_figures.mean);
}
QString frmHisto::stdDevText() const {
    return threeDecimals(m_figures.deviation);
}

void frmHisto::closeEvent(QCloseEvent* event) {
    // The window lives as long as the main window; the operator's close only hides it.
    event->ignore();
    hide();
    emit Closing();
}

} // namespace vm::tools
