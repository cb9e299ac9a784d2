#include "verification/verificationreport.h"

#include "app/programstate.h"
#include "app/prompts.h"
#include "app/windowroutines.h"
#include "display/verifyreportgrid.h"
#include "link/connection.h"
#include "link/device.h"
#include "link/vocabulary.h"
#include "link/wholefile.h"
#include "resources/strings.h"

#include <QBuffer>
#include <QClipboard>
#include <QCloseEvent>
#include <QDateTime>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QJsonObject>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QTableWidgetItem>
#include <QVBoxLayout>

namespace vm::verification {

using vm::app::PromptButtons;
using vm::app::PromptIcon;

namespace {

const QColor kCalibratedColour(128, 255, 128);
const QColor kNotCalibratedColour(255, 128, 128);
constexpr int kTwipsPerPixel = 15;

QString presentTime() {
    return QLocale::c().toString(QDateTime::currentDateTime(), QStringLiteral("MMMM dd yyyy  hh:mm:ss"));
}

bool calibrated(const QString& text) {
    return !text.isEmpty() && text != QLatin1String("Not Calibrated");
}

// Whether the reader graded the record without a calibration (it says so with each result),
// on its camera's own scale rather than against a calibration target.
bool gradedUncalibrated(const vm::link::Record& record) {
    if (!record.HasVerification())
        return false;
    const QJsonObject& raw = record.Verification()->raw;
    return raw.contains(QLatin1String("calibrated")) && !raw.value(QLatin1String("calibrated")).toBool();
}

} // namespace

VerificationReport::VerificationReport(QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_rconn(std::make_unique<vm::link::ReaderConnection>()) {
    setObjectName(QLatin1String(WindowName));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(vm::res::Str(2020));
    printerNames = [] { return QPrinterInfo::availablePrinterNames(); };

    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    m_time = new QLabel(this);
    m_time->setObjectName(QStringLiteral("lblCurrentTime"));
    m_time->setAccessibleName(vm::res::Str(20293));
    m_calibration = new QLabel(this);
    m_calibration->setObjectName(QStringLiteral("lblCalibrateStatus"));
    m_calibration->setAccessibleName(vm::res::Str(20173));
    m_calibration->setAutoFillBackground(true);
    m_calibration->setMargin(3);
    m_print = new QPushButton(vm::res::Str(20294), this);
    m_print->setObjectName(QStringLiteral("cmdPrintForm"));
    m_pdf = new QPushButton(vm::res::Str(20295), this);
    m_pdf->setObjectName(QStringLiteral("cmdSavePdf"));
    top->addWidget(m_time, 1);
    top->addWidget(m_calibration, 1);
    top->addWidget(m_print);
    top->addWidget(m_pdf);
    layout->addLayout(top);
    m_grid = new vm::display::VerifyReportGrid(this);
    m_grid->setObjectName(QStringLiteral("VerifyReportGrid"));
    m_grid->setAccessibleName(vm::res::Str(20296));
    layout->addWidget(m_grid, 1);

    m_update.setSingleShot(true);
    m_update.setInterval(kUpdateMs);
    connect(&m_update, &QTimer::timeout, this, &VerificationReport::showPending);
    connect(m_rconn.get(), &vm::link::Connection::OnNewRecord, this, &VerificationReport::recordArrived);
    connect(m_print, &QPushButton::clicked, this, &VerificationReport::printForm);
    connect(m_pdf, &QPushButton::clicked, this, &VerificationReport::savePdfClicked);
    showCalibration();
    vm::app::RestoreWindowMetrics(this);
}

VerificationReport::~VerificationReport() = default;

vm::app::WindowEntry VerificationReport::windowEntry() {
    vm::app::WindowEntry registered;
    registered.name = QLatin1String(WindowName);
    registered.factory = [](QWidget* parent) -> QWidget* { return new VerificationReport(parent); };
    registered.menu.menu = vm::app::Menu::Windows;
    // "Verification Report" has no string number: after "Network Overview" (307).
    registered.menu.position = 3075;
    registered.menu.key = QStringLiteral("mnuVerificationReport");
    registered.menu.caption = QStringLiteral("Verification Report");
    registered.menu.rule = vm::app::ItemRule::Reader;
    registered.menu.supports = [](const vm::app::ReaderInfo& reader) {
        return reader.firmwareLevel >= vm::link::level::Verification;
    };
    registered.reopensAtStart = true;
    // Like the other monitoring windows it stays open when the camera changes, and shows
    // whichever reader is focused.
    registered.followsReader = true;
    return registered;
}

void VerificationReport::recordArrived(const vm::link::Record& record) {
    m_pending = record;
    // Not restarted by each record: a steady stream is drawn every kUpdateMs.
    if (!m_update.isActive())
        m_update.start();
    if (!isMinimized()) {
        resize(std::max(width(), m_grid->ContentWidth() / kTwipsPerPixel + 178 / kTwipsPerPixel),
               std::max(height(), m_grid->ContentHeight() / kTwipsPerPixel + 1068 / kTwipsPerPixel));
    }
}

void VerificationReport::showCalibration() {
    const QString text = vm::app::calibrationText();
    const bool ok = calibrated(text);
    m_calibration->setText(ok ? text : QStringLiteral("Not Calibrated"));
    QPalette p = m_calibration->palette();
    p.setColor(QPalette::Window, ok ? kCalibratedColour : kNotCalibratedColour);
    p.setColor(QPalette::WindowText, Qt::black);
    m_calibration->setPalette(p);
}

void VerificationReport::showPending() {
    m_update.stop();
    if (!m_pending)
        return;
    m_time->setText(presentTime());
    showCalibration();
    m_grid->ShowRecord(*m_pending);
    markUncalibrated();
    m_shown = std::move(m_pending);
    m_pending.reset();
    emit recordShown();
}

void VerificationReport::markUncalibrated() {
    if (!m_pending || !gradedUncalibrated(*m_pending))
        return;
    // The row goes before the record's parameters, which the grid shows last.
    const int at = m_grid->rowCount() - int(m_pending->Verification()->parameters.size());
    m_grid->insertRow(at);
    const QStringList texts{QStringLiteral("Calibration"), QStringLiteral("Not Calibrated"), QString()};
    for (int c = 0; c < int(texts.size()); ++c) {
        auto* item = new QTableWidgetItem(texts[c]);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        item->setTextAlignment(c == 0 ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignCenter);
        if (c == 1) {
            item->setBackground(kNotCalibratedColour);
            item->setForeground(Qt::black);
        }
        m_grid->setItem(at, c, item);
    }
    m_grid->resizeColumnsToContents();
}

void VerificationReport::printForm() {
    const QPixmap image = grab();
    QGuiApplication::clipboard()->setPixmap(image);
    const QStringList printers = printerNames();
    if (printers.isEmpty()) {
        vm::app::showMessage(this, QStringLiteral("Cannot print if no printer is installed"),
                             PromptButtons::Ok, PromptIcon::Critical, QStringLiteral("No printer installed"));
        return;
    }
    QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull())
        info = QPrinterInfo::printerInfo(printers.first());
    QPrinter printer(info, QPrinter::HighResolution);
    QPainter painter;
    if (!painter.begin(&printer)) {
        vm::app::reportError(this, QLatin1String(WindowName), QStringLiteral("cmdPrintForm_Click"), 482,
                             QStringLiteral("Printer error"));
        return;
    }
    // The window at its own size on the page, or shrunk to the page width.
    const QRect page = printer.pageLayout().paintRectPixels(printer.resolution());
    const double perScreenPixel = printer.resolution() / double(logicalDpiX());
    QSizeF size = QSizeF(image.size()) * perScreenPixel;
    if (size.width() > page.width())
        size.scale(page.width(), page.height() * 10, Qt::KeepAspectRatio);
    painter.drawPixmap(QRectF(QPointF(0, 0), size), image, image.rect());
    painter.end();
}

QString VerificationReport::readerName() const {
    vm::link::Device* device = m_rconn->Device();
    return device && m_rconn->Connected() ? device->Name() : QString();
}

bool VerificationReport::savePdf(const QString& path, QString* errorText) const {
    if (!m_shown || !m_shown->HasVerification()) {
        if (errorText)
            *errorText = vm::res::Str(20297);
        return false;
    }
    const vm::link::Record record = *m_shown;
    const vm::link::VerificationResult& result = *record.Verification();
    const QString reader = readerName();
    const QString calibration = calibrated(vm::app::calibrationText()) ? vm::app::calibrationText()
                                                                       : QStringLiteral("Not Calibrated");
    const QString date = m_time->text().isEmpty() ? presentTime() : m_time->text();

    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter pdf(&buffer);
        pdf.setTitle(QStringLiteral("Verification Report"));
        pdf.setCreator(QStringLiteral("Velmarrow"));
        pdf.setPageSize(QPageSize(QPageSize::A4));
        pdf.setResolution(300);
        QPainter painter(&pdf);
        const int dpi = pdf.resolution();
        const int width = pdf.width();
        int y = 0;
        auto line = [&](const QString& text, int points, bool bold = false) {
            QFont font(QStringLiteral("Helvetica"));
            font.setPointSize(points);
            font.setBold(bold);
            painter.setFont(font);
            const int h = painter.fontMetrics().height();
            y += h;
            painter.drawText(0, y, text);
            y += h / 3;
        };
        line(QStringLiteral("Verification Report"), 18, true);
        line(QStringLiteral("Reader: ") + (reader.isEmpty() ? QStringLiteral("(no camera)") : reader), 10);
        line(QStringLiteral("Standard: ") + result.standard, 10);
        line(QStringLiteral("Date: ") + date, 10);
        line(QStringLiteral("Calibration: ") + calibration, 10);
        line(QStringLiteral("Image: ") + QString::number(record.Number()), 10);
        line(QStringLiteral("Overall Grade: ") + result.overallGrade, 14, true);
        if (result.errorCode != 0)
            line(QStringLiteral("Error: ") + QString::number(result.errorCode), 10);
        y += dpi / 8;

        // The grade table: name, value, grade.
        QFont font(QStringLiteral("Helvetica"));
        font.setPointSize(10);
        painter.setFont(font);
        const int rowHeight = painter.fontMetrics().height() * 3 / 2;
        const int valueX = width * 45 / 100, gradeX = width * 75 / 100;
        auto row = [&](const QString& a, const QString& b, const QString& c, bool bold,
                       bool uncalibratedRow = false) {
            QFont f = font;
            f.setBold(bold);
            painter.setFont(f);
            y += rowHeight;
            // Grades taken without a calibration: marked as the window marks them.
            if (uncalibratedRow)
                painter.fillRect(QRect(valueX - rowHeight / 4, y - rowHeight * 3 / 4,
                                       painter.fontMetrics().horizontalAdvance(b) + rowHeight / 2, rowHeight),
                                 kNotCalibratedColour);
            painter.drawText(0, y, a);
            painter.drawText(valueX, y, b);
            painter.drawText(gradeX, y, c);
            painter.drawLine(0, y + rowHeight / 4, width, y + rowHeight / 4);
        };
        row(QStringLiteral("Parameter"), QStringLiteral("Value"), QStringLiteral("Grade"), true);
        if (gradedUncalibrated(record))
            row(QStringLiteral("Calibration"), QStringLiteral("Not Calibrated"), QString(), false, true);
        for (const vm::link::VerificationParameter& p : result.parameters)
            row(p.name, p.value, p.grade, false);
        y += dpi / 4;

        const QImage image = record.Image().image();
        if (!image.isNull()) {
            QSizeF size = QSizeF(image.size()) * (dpi / 96.0);
            size.scale(std::min(size.width(), double(width)), pdf.height() - y, Qt::KeepAspectRatio);
            if (size.height() > dpi)
                painter.drawImage(QRectF(QPointF(0, y), size), image);
        }
        painter.end();
    }
    return vm::link::writeWholeFile(path, bytes, errorText);
}

void VerificationReport::savePdfClicked() {
    QString error;
    if (!m_shown || !m_shown->HasVerification()) {
        vm::app::showMessage(this, vm::res::Str(20297), PromptButtons::Ok, PromptIcon::Exclamation);
        return;
    }
    const QString path = vm::app::chooseSaveFile(this, vm::res::Str(20298), QString(), vm::res::Str(20299));
    if (path.isEmpty())
        return;
    if (!savePdf(path, &error))
        vm::app::showMessage(this, vm::res::Str(20300).arg(error), PromptButtons::Ok,
                             PromptIcon::Exclamation);
}

void VerificationReport::closeEvent(QCloseEvent* event) {
    vm::app::SaveWindowMetrics(this);
    m_update.stop();
    m_pending.reset();
    QWidget::closeEvent(event);
}

} // namespace vm::verification
