// The main window's histogram window: shown from the Test menu with its region on the
// image, handed every new image and every move of the region.
#include "display/imageview.h"
#include "shell/basicinterface.h"
#include "tools/frmhisto.h"
#include "tools/overlays.h"

namespace vm::shell {

namespace {
const QString kHistogramOverlay = QStringLiteral("Histogram");
}

void BasicInterface::ShowHistogramWindow() {
    if (!m_histoArea) {
        m_histoArea = std::make_shared<vm::tools::SearchArea>();
        m_histoArea->SetColor(0x00FF00); // green, apart from the blue search area
        connect(m_histoArea.get(), &vm::tools::SearchArea::OnResize, this, &BasicInterface::updateHistogram);
    }
    if (!m_histo) {
        m_histo = new vm::tools::frmHisto(this);
        connect(m_histo, &vm::tools::frmHisto::Closing, this, &BasicInterface::histogramClosed);
    }
    m_imageView->AddOverlay(kHistogramOverlay, m_histoArea);
    m_histo->show();
    m_histo->raise();
    updateHistogram();
}

void BasicInterface::updateHistogram() {
    if (!m_histo || !m_histoArea)
        return;
    // The view's picture, whether a record or an image file put it there; grey already
    // for a reader's image, so the conversion costs nothing then.
    const vm::link::RecordImage image(m_imageView->Image().convertToFormat(QImage::Format_Grayscale8), 0, 0,
                                      0, false);
    m_histo->UpdateHistogram(m_histoArea->Left(), m_histoArea->Top(), m_histoArea->Right(),
                             m_histoArea->Bottom(), image);
}

void BasicInterface::histogramClosed() {
    m_imageView->RemoveOverlay(kHistogramOverlay);
}

} // namespace vm::shell
