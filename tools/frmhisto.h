#pragma once

#include <QVector>
#include <QWidget>

class QGroupBox;
class QLineEdit;

namespace vm::link {
class RecordImage;
}

namespace vm::tools {

// Grey-level statistics of a region of an image, as the histogram window shows them.
struct HistogramFigures {
    QVector<qint32> bins{0}; // 256 counts after a successful update; one element when empty
    int minimum = -1;
    int maximum = -1;
    int median = -1;
    qint32 highPeak = 0;
    qint32 lowPeak = 255;
    int scaleMaximum = 0;
    double mean = 0.0;
    double deviation = 0.0;

    bool isEmpty() const { return bins.size() != 256; }
};

// "Histogram And Statistics": the grey-level histogram of a rectangle of the current image
// with its minimum, maximum, median, peaks, mean and deviation. The main window hands it
// the region and each new image; closing only hides it.
class frmHisto final : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* WindowName = "frmHisto";

    explicit frmHisto(QWidget* parent = nullptr);

    // The region's edges are image pixels, right and bottom just outside the region, so
    // that it holds (right - left) x (bottom - top) pixels.
    void UpdateHistogram(int left, int top, int right, int bottom, const vm::link::RecordImage& image);

    const HistogramFigures& figures() const { return m_figures; }
    QString minMaxText() const;
    QString medianText() const;
    QString lowPeakText() const;
    QString highPeakText() const;
    QString meanText() const;
    QString stdDevText() const;
    QWidget* chart() const;

signals:
    // The operator closed the window; it is hidden, not gone.
    void Closing();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    class Chart;
    class Scale;

    HistogramFigures m_figures;
    Chart* m_picHisto = nullptr;
    Scale* m_picVscale = nullptr;
    Scale* m_picHscale = nullptr;
    QGroupBox* m_frameOptions = nullptr;
    QLineEdit* m_lblMinMax = nullptr;
    QLineEdit* m_lblMedian = nullptr;
    QLineEdit* m_lblLowPeak = nullptr;
    QLineEdit* m_lblHiPeak = nullptr;
    QLineEdit* m_lblMean = nullptr;
    QLineEdit* m_lblStdDev = nullptr;
};

} // namespace vm::tools
