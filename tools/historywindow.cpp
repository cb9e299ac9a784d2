#include "tools/historywindow.h"

#include "app/imagefiles.h"
#include "app/prompts.h"
#include "app/readhistory.h"
#include "link/connection.h"
#include "link/device.h"
#include "resources/strings.h"

#include <QAreaSeries>
#include <QBuffer>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QPdfWriter>
#include <QPushButton>
#include <QSaveFile>
#include <QShortcut>
#include <QSplitter>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace vm::tools {

using vm::app::PromptButtons;
using vm::app::PromptIcon;
using vm::res::Str;

namespace {

// A to F, drawn behind a parameter's values: green to red, light enough to read the line.
const QColor kBandColours[5] = {QColor(46, 160, 67, 70), QColor(140, 200, 60, 70), QColor(240, 200, 40, 70),
                                QColor(245, 140, 40, 70), QColor(220, 50, 40, 70)};

QString timeText(qint64 ms) {
    return QLocale::c().toString(QDateTime::fromMSecsSinceEpoch(ms), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

QString resultText(vm::history::ReadResult result) {
    switch (result) {
    case vm::history::ReadResult::Pass:
        return Str(20616);
    case vm::history::ReadResult::Fail:
        return Str(20617);
    case vm::history::ReadResult::NoRead:
        break;
    }
    return Str(20618);
}

// The label of a row of controls, with the control as its buddy and the label's words as the
// control's name for assistive tools.
QLabel* labelFor(QWidget* control, int text, QWidget* parent) {
    auto* label = new QLabel(Str(text), parent);
    label->setBuddy(control);
    control->setAccessibleName(QString(Str(text)).remove(QLatin1Char('&')).remove(QLatin1Char(':')));
    return label;
}

QPushButton* button(int text, const char* name, QWidget* parent) {
    auto* b = new QPushButton(Str(text), parent);
    b->setObjectName(QLatin1String(name));
    b->setAccessibleName(QString(Str(text)).remove(QLatin1Char('&')).remove(QStringLiteral("...")));
    b->setAutoDefault(false);
    return b;
}

} // namespace

const QList<HistoryWindow::Range>& HistoryWindow::ranges() {
    static const QList<Range> list = {
        {20608, qint64(15) * 60000},    {20609, qint64(3600000)},      {20610, qint64(2) * 3600000},
        {20611, qint64(8) * 3600000},   {20612, qint64(24) * 3600000}, {20613, qint64(7) * 86400000},
        {20614, qint64(30) * 86400000},
    };
    return list;
}

HistoryWindow::HistoryWindow(QWidget* parent)
    : MonitorWindow(QLatin1String(WindowName), Str(20600), parent)
    , m_rconn(std::make_unique<vm::link::ReaderConnection>()) {
    m_chooseFile = [](QWidget* owner, const QString& title, const QString& filter) {
        return vm::app::chooseSaveFile(owner, title, QString(), filter);
    };
    m_openImage = [](const QString& path) { return QDesktopServices::openUrl(QUrl::fromLocalFile(path)); };
    m_clock = [] { return QDateTime::currentMSecsSinceEpoch(); };

    auto* layout = new QVBoxLayout(this);
    auto* controls = new QHBoxLayout;
    m_reader = new QComboBox(this);
    m_reader->setObjectName(QStringLiteral("cmbReader"));
    m_reader->setMinimumContentsLength(12);
    m_range = new QComboBox(this);
    m_range->setObjectName(QStringLiteral("cmbRange"));
    for (const Range& r : ranges())
        m_range->addItem(Str(r.text));
    m_range->setCurrentIndex(1);
    m_parameter = new QComboBox(this);
    m_parameter->setObjectName(QStringLiteral("cmbParameter"));
    m_parameter->setMinimumContentsLength(18);
    controls->addWidget(labelFor(m_reader, 20601, this));
    controls->addWidget(m_reader);
    controls->addWidget(labelFor(m_range, 20602, this));
    controls->addWidget(m_range);
    controls->addWidget(labelFor(m_parameter, 20603, this));
    controls->addWidget(m_parameter);
    controls->addStretch(1);
    m_refresh = button(20604, "cmdRefresh", this);
    m_export = button(20605, "cmdExportCsv", this);
    m_pdf = button(20606, "cmdSavePdf", this);
    controls->addWidget(m_refresh);
    controls->addWidget(m_export);
    controls->addWidget(m_pdf);
    layout->addLayout(controls);

    m_drift = new QLabel(this);
    m_drift->setObjectName(QStringLiteral("lblDrift"));
    m_drift->setAccessibleName(Str(20632));
    m_drift->setWordWrap(true);
    m_drift->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_drift->setFocusPolicy(Qt::TabFocus);
    QFont bold = m_drift->font();
    bold.setBold(true);
    m_drift->setFont(bold);
    layout->addWidget(m_drift);
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("lblSummary"));
    m_summary->setAccessibleName(Str(20644));
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_summary->setFocusPolicy(Qt::TabFocus);
    layout->addWidget(m_summary);

    buildCharts();
    auto* splitter = new QSplitter(Qt::Vertical, this);
    auto* charts = new QSplitter(Qt::Horizontal, splitter);
    charts->addWidget(m_countsView);
    charts->addWidget(m_trendView);
    // Two charts of one width, above the table; the splitters share out any later size.
    charts->setSizes({500, 500});
    charts->setChildrenCollapsible(false);
    splitter->addWidget(charts);

    auto* worst = new QWidget(splitter);
    auto* worstLayout = new QVBoxLayout(worst);
    worstLayout->setContentsMargins(0, 0, 0, 0);
    auto* worstRow = new QHBoxLayout;
    m_worstTable = new QTableWidget(0, 6, worst);
    m_worstTable->setObjectName(QStringLiteral("tblWorst"));
    auto* worstLabel = new QLabel(Str(20625), worst);
    worstLabel->setBuddy(m_worstTable);
    m_worstTable->setAccessibleName(QString(Str(20625)).remove(QLatin1Char('&')));
    m_worstTable->setHorizontalHeaderLabels(
        {Str(20626), Str(20627), Str(20628), Str(20629), Str(20630), Str(20631)});
    m_worstTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_worstTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_worstTable->setSelectionMode(QAbstractItemView::SingleSelection);
    m_worstTable->verticalHeader()->hide();
    m_worstTable->horizontalHeader()->setStretchLastSection(true);
    m_worstTable->setTabKeyNavigation(false);
    m_openImageButton = button(20607, "cmdOpenImage", worst);
    m_openImageButton->setEnabled(false);
    worstRow->addWidget(worstLabel);
    worstRow->addStretch(1);
    worstRow->addWidget(m_openImageButton);
    worstLayout->addLayout(worstRow);
    worstLayout->addWidget(m_worstTable, 1);
    splitter->addWidget(worst);
    splitter->setSizes({400, 300});
    layout->addWidget(splitter, 1);

    connect(m_reader, &QComboBox::currentIndexChanged, this, [this] {
        if (!m_filling)
            refresh();
    });
    connect(m_range, &QComboBox::currentIndexChanged, this, [this] {
        if (!m_filling)
            refresh();
    });
    connect(m_parameter, &QComboBox::currentIndexChanged, this, [this] {
        if (m_filling)
            return;
        drawTrend();
    });
    connect(m_refresh, &QPushButton::clicked, this, &HistoryWindow::refresh);
    connect(m_export, &QPushButton::clicked, this, &HistoryWindow::exportClicked);
    connect(m_pdf, &QPushButton::clicked, this, &HistoryWindow::pdfClicked);
    connect(m_openImageButton, &QPushButton::clicked, this, &HistoryWindow::openImageClicked);
    connect(m_worstTable, &QTableWidget::cellActivated, this, [this](int row, int) { openImageOfRow(row); });
    connect(m_worstTable, &QTableWidget::itemSelectionChanged, this, [this] {
        const int row = m_worstTable->currentRow();
        m_openImageButton->setEnabled(row >= 0 && row < m_worst.size() && !m_worst[row].imageFile.isEmpty());
    });
    auto* reload = new QShortcut(QKeySequence::Refresh, this);
    connect(reload, &QShortcut::activated, this, &HistoryWindow::refresh);
    connect(m_rconn.get(), &vm::link::Connection::OnConnectionReset, this,
            &HistoryWindow::followFocusedReader);

    resize(980, 720);
    openFile(vm::app::historyFile());
}

HistoryWindow::~HistoryWindow() = default;

vm::app::WindowEntry HistoryWindow::windowEntry() {
    return monitorWindowEntry(
        WindowName, [](QWidget* parent) -> QWidget* { return new HistoryWindow(parent); }, 308, "mnuHistory",
        70, "history", 1507, 1518, "history");
}

void HistoryWindow::unload() {
    m_rconn.reset();
}

void HistoryWindow::buildCharts() {
    auto* counts = new QChart;
    counts->setTitle(Str(20615));
    counts->setAnimationOptions(QChart::NoAnimation);
    counts->legend()->setAlignment(Qt::AlignBottom);
    m_countsView = new QChartView(counts, this);
    m_countsView->setObjectName(QStringLiteral("CountsChart"));
    m_countsView->setAccessibleName(Str(20615));
    m_countsView->setRenderHint(QPainter::Antialiasing);
    m_countsView->setMinimumSize(320, 240);

    auto* trend = new QChart;
    trend->setAnimationOptions(QChart::NoAnimation);
    trend->legend()->setAlignment(Qt::AlignBottom);
    m_trendView = new QChartView(trend, this);
    m_trendView->setObjectName(QStringLiteral("TrendChart"));
    m_trendView->setAccessibleName(Str(20645));
    m_trendView->setRenderHint(QPainter::Antialiasing);
    m_trendView->setMinimumSize(320, 240);
}

void HistoryWindow::openFile(const QString& path) {
    m_path = path;
    refresh();
}

void HistoryWindow::followFocusedReader() {
    const vm::link::Device* device = m_rconn ? m_rconn->Device() : nullptr;
    if (!device || device->Name().isEmpty())
        return;
    fillReaders();
    const int at = m_reader->findText(device->Name());
    if (at >= 0 && at != m_reader->currentIndex())
        m_reader->setCurrentIndex(at);
}

void HistoryWindow::fillReaders() {
    if (!m_query.isOpen()) {
        // The file appears with the program's first recorded read.
        m_openError.clear();
        if (!m_query.open(m_path, &m_openError))
            return;
    }
    QStringList names;
    for (const vm::history::ReaderSummary& r : m_query.readers())
        if (!names.contains(r.name))
            names.append(r.name);
    QString current = m_reader->currentText();
    if (current.isEmpty() && m_rconn && m_rconn->Device())
        current = m_rconn->Device()->Name();
    m_filling = true;
    m_reader->clear();
    m_reader->addItems(names);
    const int at = m_reader->findText(current);
    m_reader->setCurrentIndex(at >= 0 ? at : (names.isEmpty() ? -1 : 0));
    m_filling = false;
}

void HistoryWindow::refresh() {
    fillReaders();
    const QString reader = m_reader->currentText();
    const Range range = ranges().value(std::max(0, m_range->currentIndex()));
    m_toMs = m_clock();
    m_fromMs = m_toMs - range.ms;
    m_intervalMs = std::max<qint64>(1000, range.ms / kIntervals);
    m_counts.clear();
    m_drifts.clear();
    m_worst.clear();
    m_trend.reset();
    QStringList parameters;
    if (m_query.isOpen() && !reader.isEmpty()) {
        m_counts = m_query.counts(reader, m_fromMs, m_toMs, m_intervalMs);
        m_drifts = m_query.drifts(reader, m_fromMs, m_toMs);
        m_worst = m_query.worstReads(reader, m_fromMs, m_toMs, kWorstReads);
        parameters = m_query.parameters(reader, m_fromMs, m_toMs);
    }
    // The parameter stays when the reader still graded it; otherwise the first flagged one, so
    // that a window opened on a drift shows it.
    QString parameter = m_parameter->currentText();
    if (!parameters.contains(parameter)) {
        parameter = parameters.value(0);
        for (const vm::history::Drift& d : m_drifts)
            if (d.flagged) {
                parameter = d.parameter;
                break;
            }
    }
    m_filling = true;
    m_parameter->clear();
    m_parameter->addItems(parameters);
    m_parameter->setCurrentIndex(m_parameter->findText(parameter));
    m_filling = false;

    m_drift->setText(driftText());
    const bool flagged =
        std::any_of(m_drifts.begin(), m_drifts.end(), [](const auto& d) { return d.flagged; });
    QPalette palette = this->palette();
    if (flagged)
        palette.setColor(QPalette::WindowText, QColor(180, 40, 20));
    m_drift->setPalette(palette);
    qint64 pass = 0, fail = 0, noRead = 0;
    for (const vm::history::CountBucket& b : m_counts) {
        pass += b.pass;
        fail += b.fail;
        noRead += b.noRead;
    }
    const qint64 total = pass + fail + noRead;
    m_summary->setText(total == 0 ? QString()
                                  : Str(20647).arg(total).arg(pass).arg(fail).arg(noRead).arg(
                                        QLocale::c().toString(100.0 * double(pass) / double(total), 'f', 1)));
    m_export->setEnabled(total > 0);
    m_pdf->setEnabled(total > 0);
    drawCounts();
    drawTrend();
    fillWorst();
}

QString HistoryWindow::driftText() const {
    if (!m_query.isOpen())
        return m_openError;
    const QString reader = m_reader->currentText();
    if (reader.isEmpty())
        return Str(20648);
    QStringList flagged;
    for (const vm::history::Drift& d : m_drifts)
        if (d.flagged)
            flagged << d.text;
    if (!flagged.isEmpty())
        return flagged.join(QLatin1Char('\n'));
    qint64 total = 0;
    for (const vm::history::CountBucket& b : m_counts)
        total += b.total();
    return total == 0 ? Str(20634).arg(reader) : Str(20633).arg(reader);
}

void HistoryWindow::drawCounts() {
    QChart* chart = m_countsView->chart();
    chart->removeAllSeries();
    for (QAbstractAxis* axis : chart->axes())
        chart->removeAxis(axis);
    auto* pass = new QLineSeries;
    pass->setName(Str(20616));
    pass->setColor(QColor(46, 140, 60));
    auto* fail = new QLineSeries;
    fail->setName(Str(20617));
    fail->setColor(QColor(210, 50, 40));
    auto* noRead = new QLineSeries;
    noRead->setName(Str(20618));
    noRead->setColor(QColor(120, 120, 130));
    auto* rate = new QLineSeries;
    rate->setName(Str(20619));
    rate->setColor(QColor(30, 110, 210));
    QPen ratePen(QColor(30, 110, 210), 2, Qt::DashLine);
    rate->setPen(ratePen);
    qint64 most = 1;
    for (const vm::history::CountBucket& b : m_counts) {
        const double x = double(b.startMs + m_intervalMs / 2);
        pass->append(x, double(b.pass));
        fail->append(x, double(b.fail));
        noRead->append(x, double(b.noRead));
        if (b.total() > 0)
            rate->append(x, b.readRate());
        most = std::max(most, b.total());
    }
    for (QLineSeries* s : {pass, fail, noRead, rate})
        chart->addSeries(s);
    auto* time = new QDateTimeAxis;
    time->setFormat(m_toMs - m_fromMs > qint64(86400000) ? QStringLiteral("MM-dd hh:mm")
                                                         : QStringLiteral("hh:mm"));
    time->setRange(QDateTime::fromMSecsSinceEpoch(m_fromMs), QDateTime::fromMSecsSinceEpoch(m_toMs));
    time->setTickCount(5);
    auto* reads = new QValueAxis;
    reads->setTitleText(Str(20620));
    // At least 0 to 4: over a few reads or none the ticks still fall on whole reads, instead
    // of "0, 0, 1, 1" printed for quarters.
    reads->setRange(0, std::max(double(most) * 1.1, 4.0));
    reads->applyNiceNumbers();
    reads->setLabelFormat(QStringLiteral("%d"));
    auto* percent = new QValueAxis;
    percent->setTitleText(Str(20619));
    percent->setRange(0, 100);
    percent->setLabelFormat(QStringLiteral("%d"));
    chart->addAxis(time, Qt::AlignBottom);
    chart->addAxis(reads, Qt::AlignLeft);
    chart->addAxis(percent, Qt::AlignRight);
    for (QLineSeries* s : {pass, fail, noRead}) {
        s->attachAxis(time);
        s->attachAxis(reads);
    }
    rate->attachAxis(time);
    rate->attachAxis(percent);
}

void HistoryWindow::drawTrend() {
    const QString reader = m_reader->currentText();
    const QString parameter = m_parameter->currentText();
    m_trend.reset();
    if (m_query.isOpen() && !reader.isEmpty() && !parameter.isEmpty())
        m_trend = m_query.trend(reader, parameter, m_fromMs, m_toMs, m_intervalMs);
    QChart* chart = m_trendView->chart();
    chart->removeAllSeries();
    for (QAbstractAxis* axis : chart->axes())
        chart->removeAxis(axis);
    chart->setTitle(parameter.isEmpty() ? QString() : Str(20621).arg(parameter));
    if (!m_trend)
        return;
    const vm::history::GradeBands& bands = m_trend->bands;
    // The value scale: every value and every band edge, with room for A's and F's bands.
    double lo = *std::min_element(bands.limits.begin(), bands.limits.end());
    double hi = *std::max_element(bands.limits.begin(), bands.limits.end());
    const double margin = std::max(bands.bandWidth(3), (hi - lo) / 3);
    lo -= margin;
    hi += margin;
    for (const vm::history::ValueBucket& b : m_trend->buckets) {
        lo = std::min(lo, b.min);
        hi = std::max(hi, b.max);
    }
    if (bands.higherIsBetter && lo < 0 && *std::min_element(bands.limits.begin(), bands.limits.end()) >= 0)
        lo = std::min(0.0, lo + margin / 2);
    if (m_trend->onGrades) {
        lo = -0.5;
        hi = 4.5;
    }

    auto* time = new QDateTimeAxis;
    time->setFormat(m_toMs - m_fromMs > qint64(86400000) ? QStringLiteral("MM-dd hh:mm")
                                                         : QStringLiteral("hh:mm"));
    time->setRange(QDateTime::fromMSecsSinceEpoch(m_fromMs), QDateTime::fromMSecsSinceEpoch(m_toMs));
    time->setTickCount(5);
    auto* values = new QValueAxis;
    values->setRange(lo, hi);
    if (m_trend->onGrades) {
        values->setTickCount(6);
        values->setLabelFormat(QStringLiteral("%.1f"));
        values->setTitleText(Str(20643));
    } else {
        // Round labels; the bands then run to the axis' own ends.
        values->applyNiceNumbers();
        lo = values->min();
        hi = values->max();
        values->setLabelFormat(hi - lo >= 10 ? QStringLiteral("%.0f") : QStringLiteral("%.3g"));
    }
    chart->addAxis(time, Qt::AlignBottom);
    chart->addAxis(values, Qt::AlignLeft);

    // Bands A (4) to F (0): each between its edges on the value scale.
    for (int grade = 4; grade >= 0; --grade) {
        double a, b;
        if (bands.higherIsBetter) {
            a = grade == 0 ? lo : bands.lowerEdge(grade);
            b = grade == 4 ? hi : bands.lowerEdge(grade + 1);
        } else {
            a = grade == 4 ? lo : bands.lowerEdge(grade + 1);
            b = grade == 0 ? hi : bands.lowerEdge(grade);
        }
        auto* lower = new QLineSeries(chart);
        auto* upper = new QLineSeries(chart);
        lower->append(double(m_fromMs), a);
        lower->append(double(m_toMs), a);
        upper->append(double(m_fromMs), b);
        upper->append(double(m_toMs), b);
        auto* area = new QAreaSeries(upper, lower);
        area->setName(vm::history::gradeLetter(grade));
        area->setColor(kBandColours[4 - grade]);
        area->setBorderColor(Qt::transparent);
        chart->addSeries(area);
        area->attachAxis(time);
        area->attachAxis(values);
        // The bands are told by their colours and the values' axis; the legend names the lines.
        for (QLegendMarker* marker : chart->legend()->markers(area))
            marker->setVisible(false);
    }
    // The letters of the bands beside them, on the right.
    auto* letters = new QCategoryAxis;
    letters->setLabelsPosition(QCategoryAxis::AxisLabelsPositionCenter);
    letters->setGridLineVisible(false);
    for (int i = 0; i < 5; ++i) {
        const int grade = bands.higherIsBetter ? i : 4 - i; // from the bottom of the axis up
        const double top = i == 4 ? hi : bands.lowerEdge(bands.higherIsBetter ? grade + 1 : grade);
        letters->append(vm::history::gradeLetter(grade), top);
    }
    letters->setStartValue(lo);
    chart->addAxis(letters, Qt::AlignRight);
    auto* span = new QLineSeries;
    span->append(double(m_fromMs), lo);
    span->append(double(m_fromMs), hi);
    span->setPen(Qt::NoPen);
    chart->addSeries(span);
    span->attachAxis(time);
    span->attachAxis(letters);
    for (QLegendMarker* marker : chart->legend()->markers(span))
        marker->setVisible(false);

    auto* mean = new QLineSeries;
    mean->setName(Str(20622));
    mean->setPen(QPen(QColor(20, 30, 60), 2));
    auto* lowest = new QLineSeries;
    lowest->setName(Str(20623));
    auto* highest = new QLineSeries;
    highest->setName(Str(20624));
    for (QLineSeries* s : {lowest, highest})
        s->setPen(QPen(QColor(90, 100, 120), 1, Qt::DotLine));
    for (const vm::history::ValueBucket& b : m_trend->buckets) {
        const double x = double(b.startMs + m_intervalMs / 2);
        mean->append(x, b.mean);
        lowest->append(x, b.min);
        highest->append(x, b.max);
    }
    for (QLineSeries* s : {lowest, highest, mean}) {
        chart->addSeries(s);
        s->attachAxis(time);
        s->attachAxis(values);
    }
}

void HistoryWindow::fillWorst() {
    m_worstTable->setRowCount(0);
    m_worstTable->setRowCount(int(m_worst.size()));
    for (int row = 0; row < m_worst.size(); ++row) {
        const vm::history::WorstRead& w = m_worst[row];
        // The reader's failure kind in brackets, unless it only says the result again
        // ("No read", not "No read (No Read)").
        const QString plain = resultText(w.result);
        const QString result = w.failure.isEmpty() || w.result == vm::history::ReadResult::Pass ||
                                       w.failure.compare(plain, Qt::CaseInsensitive) == 0
                                   ? plain
                                   : plain + QStringLiteral(" (") + w.failure + QLatin1Char(')');
        const QStringList cells = {timeText(w.timeMs),
                                   QString::number(w.number),
                                   result,
                                   w.overallGrade < 0 ? QString() : vm::history::gradeLetter(w.overallGrade),
                                   w.text,
                                   QFileInfo(w.imageFile).fileName()};
        for (int column = 0; column < cells.size(); ++column)
            m_worstTable->setItem(row, column, new QTableWidgetItem(cells[column]));
    }
    m_worstTable->resizeColumnsToContents();
    m_openImageButton->setEnabled(false);
}

QString HistoryWindow::imagePath(const QString& file) const {
    if (QFileInfo(file).isAbsolute())
        return file;
    // A bare name is where the program saves images.
    return QDir(vm::app::imageSaveDirectory()).filePath(file);
}

void HistoryWindow::openImageOfRow(int row) {
    if (row < 0 || row >= m_worst.size() || m_worst[row].imageFile.isEmpty())
        return;
    const vm::history::WorstRead& w = m_worst[row];
    const QString path = imagePath(w.imageFile);
    if (!QFileInfo::exists(path)) {
        vm::app::showMessage(this, Str(20641).arg(w.number).arg(QDir::toNativeSeparators(path)),
                             PromptButtons::Ok, PromptIcon::Exclamation);
        return;
    }
    if (!m_openImage(path))
        vm::app::showMessage(this, Str(20642).arg(QDir::toNativeSeparators(path)), PromptButtons::Ok,
                             PromptIcon::Exclamation);
}

void HistoryWindow::openImageClicked() {
    openImageOfRow(m_worstTable->currentRow());
}

bool HistoryWindow::exportCsv(const QString& path, QString* error) {
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
        if (error)
            *error = out.errorString();
        return false;
    }
    if (!m_query.exportCsv(m_reader->currentText(), m_fromMs, m_toMs, out, error)) {
        out.cancelWriting();
        return false;
    }
    if (!out.commit()) {
        if (error)
            *error = out.errorString();
        return false;
    }
    return true;
}

void HistoryWindow::exportClicked() {
    const QString path = m_chooseFile(this, Str(20636), Str(20637));
    if (path.isEmpty())
        return;
    QString error;
    if (!exportCsv(path, &error))
        vm::app::showMessage(this, Str(20640).arg(QDir::toNativeSeparators(path), error), PromptButtons::Ok,
                             PromptIcon::Exclamation);
}

QString HistoryWindow::rangeText() const {
    return timeText(m_fromMs) + QStringLiteral(" to ") + timeText(m_toMs);
}

bool HistoryWindow::savePdf(const QString& path, QString* error) {
    const QString reader = m_reader->currentText();
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
        if (error)
            *error = out.errorString();
        return false;
    }
    {
        QPdfWriter pdf(&out);
        pdf.setTitle(QStringLiteral("History and Trends: ") + reader);
        pdf.setCreator(QStringLiteral("Velmarrow"));
        pdf.setPageSize(QPageSize(QPageSize::A4));
        pdf.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
        pdf.setResolution(300);
        QPainter painter(&pdf);
        const int dpi = pdf.resolution();
        const int width = pdf.width();
        const int height = pdf.height();
        int y = 0;
        auto line = [&](const QString& text, int points, bool bold = false) {
            QFont font(QStringLiteral("Helvetica"));
            font.setPointSize(points);
            font.setBold(bold);
            painter.setFont(font);
            const QRect box = painter.boundingRect(QRect(0, y, width, height - y), Qt::TextWordWrap, text);
            painter.drawText(box, Qt::TextWordWrap, text);
            y = box.bottom() + painter.fontMetrics().height() / 3;
        };
        line(QStringLiteral("History and Trends"), 18, true);
        line(QStringLiteral("Reader: ") + reader, 10);
        line(QStringLiteral("Range: ") + rangeText(), 10);
        line(m_summary->text(), 10);
        line(driftText(), 11, true);
        y += dpi / 10;
        // The two charts side by side as the window shows them, at the page's width.
        const int chartWidth = (width - dpi / 10) / 2;
        const int chartHeight = chartWidth * 3 / 4;
        m_countsView->render(&painter, QRectF(0, y, chartWidth, chartHeight));
        m_trendView->render(&painter, QRectF(width - chartWidth, y, chartWidth, chartHeight));
        y += chartHeight + dpi / 8;

        line(Str(20625).remove(QLatin1Char('&')), 12, true);
        QFont font(QStringLiteral("Helvetica"));
        font.setPointSize(9);
        painter.setFont(font);
        const int rowHeight = painter.fontMetrics().height() * 4 / 3;
        const int columns[] = {
            0, width * 24 / 100, width * 34 / 100, width * 52 / 100, width * 60 / 100, width * 84 / 100};
        auto row = [&](const QStringList& cells, bool bold) {
            QFont f = font;
            f.setBold(bold);
            painter.setFont(f);
            y += rowHeight;
            for (int i = 0; i < cells.size(); ++i) {
                const int right = i + 1 < 6 ? columns[i + 1] : width;
                const QString text =
                    painter.fontMetrics().elidedText(cells[i], Qt::ElideRight, right - columns[i] - dpi / 20);
                painter.drawText(columns[i], y, text);
            }
            painter.drawLine(0, y + rowHeight / 4, width, y + rowHeight / 4);
        };
        row({Str(20626), Str(20627), Str(20628), Str(20629), Str(20630), Str(20631)}, true);
        // As many of the worst reads as the page holds: the summary is one page.
        for (int r = 0; r < m_worstTable->rowCount() && y + 2 * rowHeight < height; ++r) {
            QStringList cells;
            for (int c = 0; c < 6; ++c)
                cells << (m_worstTable->item(r, c) ? m_worstTable->item(r, c)->text() : QString());
            row(cells, false);
        }
        painter.end();
    }
    if (!out.commit()) {
        if (error)
            *error = out.errorString();
        return false;
    }
    return true;
}

void HistoryWindow::pdfClicked() {
    const QString path = m_chooseFile(this, Str(20638), Str(20639));
    if (path.isEmpty())
        return;
    QString error;
    if (!savePdf(path, &error))
        vm::app::showMessage(this, Str(20640).arg(QDir::toNativeSeparators(path), error), PromptButtons::Ok,
                             PromptIcon::Exclamation);
}

} // namespace vm::tools
