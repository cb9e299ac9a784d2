#include "settings/learn.h"

#include "app/applyparameters.h"
#include "app/mainimageview.h"
#include "app/prompts.h"
#include "app/settingsstore.h"
#include "app/windowroutines.h"
#include "display/imageview.h"
#include "link/connection.h"
#include "link/record.h"
#include "link/vocabulary.h"
#include "resources/strings.h"
#include "settings/barcodesummary.h"
#include "tools/overlays.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace vm::settings {

namespace {

const QString kSection = QStringLiteral("Learn Options");
const QString kKey = QStringLiteral("LearnSelect");
const QStringList kOptionWords = {"PHOTO", "DECODER", "BOTH"};
const QString kMainWindow = QStringLiteral("BasicInterface");
const QString kCrLf = QStringLiteral("\r\n");
// Over a serial line the reader sends a record only when asked: the next one, without its image.
const QString kNextReport = QStringLiteral("REPORTREQ  255 0");

// Halves go to the even neighbour, as the reader expects whole pixels.
QString roundedPixel(double value) {
    return QString::number(qint64(std::nearbyint(value)));
}

} // namespace

Learn::Learn(QWidget* parent)
    : SettingsWindow(QLatin1String(WindowName), Mode::ReadOnly, parent, ConnectionKind::Reader)
    , m_region(std::make_shared<vm::tools::MatrixROI>()) {
    setWindowTitle(QStringLiteral("(no camera) - Learn"));
    buildControls();
    connect(connection(), &vm::link::Connection::OnNewRecord, this, &Learn::newRecord);
    const QString chosen = vm::app::settings().GetValue(kKey, QStringLiteral("DECODER"), kSection).toUpper();
    const int option = kOptionWords.indexOf(chosen);
    m_option = option < 0 ? DecoderOnly : option;
    m_options[size_t(m_option)]->setChecked(true);
    optionClicked(m_option);
    ensureLoaded();
}

Learn::~Learn() {
    hideRegion();
}

vm::app::WindowEntry Learn::windowEntry() {
    vm::app::WindowEntry entry;
    entry.name = QLatin1String(WindowName);
    entry.factory = [](QWidget* parent) -> QWidget* { return new Learn(parent); };
    entry.button.bar = vm::app::Toolbar::Control;
    entry.button.position = 70;
    entry.button.key = QStringLiteral("learn");
    entry.button.caption = vm::res::Str(1531);
    entry.button.tooltip = vm::res::Str(1537);
    entry.button.image = QStringLiteral("quicklearn");
    entry.button.toggles = true;
    entry.button.tag = QStringLiteral("both");
    entry.button.rule = vm::app::ItemRule::Reader;
    return entry;
}

void Learn::buildControls() {
    auto* layout = new QVBoxLayout(this);
    const int captions[] = {20307, 20308, 20309};
    for (int i = 0; i < 3; ++i) {
        m_options[size_t(i)] = new QRadioButton(vm::res::Str(captions[i]), this);
        m_options[size_t(i)]->setObjectName(QStringLiteral("LearnOption(%1)").arg(i));
        layout->addWidget(m_options[size_t(i)]);
        connect(m_options[size_t(i)], &QRadioButton::clicked, this, [this, i] { optionClicked(i); });
    }

    m_assistFrame = new QGroupBox(vm::res::Str(20147), this);
    m_assistFrame->setObjectName(QStringLiteral("Frame1"));
    auto* assist = new QGridLayout(m_assistFrame);
    m_enableAssist = new QCheckBox(vm::res::Str(20148), m_assistFrame);
    m_enableAssist->setObjectName(QStringLiteral("EnableAssist"));
    m_rows = new QComboBox(m_assistFrame);
    m_rows->setObjectName(QStringLiteral("NumRows"));
    m_cols = new QComboBox(m_assistFrame);
    m_cols->setObjectName(QStringLiteral("NumCols"));
    for (int n = 8; n <= 144; ++n) {
        m_rows->addItem(QString::number(n));
        m_cols->addItem(QString::number(n));
    }
    m_polarity = new QComboBox(m_assistFrame);
    m_polarity->setObjectName(QStringLiteral("Polarity"));
    m_polarity->addItems({QStringLiteral("DARK ON LIGHT"), QStringLiteral("LIGHT ON DARK")});
    m_rowsLabel = labelFor(m_rows, vm::res::Str(20149), m_assistFrame);
    m_rowsLabel->setObjectName(QStringLiteral("NumRowsLabel"));
    m_colsLabel = labelFor(m_cols, vm::res::Str(20150), m_assistFrame);
    m_colsLabel->setObjectName(QStringLiteral("NumColsLabel"));
    m_polarityLabel = labelFor(m_polarity, vm::res::Str(20151), m_assistFrame);
    m_polarityLabel->setObjectName(QStringLiteral("PolarityLabel"));
    assist->addWidget(m_enableAssist, 0, 0, 1, 2);
    assist->addWidget(m_rowsLabel, 1, 0);
    assist->addWidget(m_rows, 1, 1);
    assist->addWidget(m_colsLabel, 2, 0);
    assist->addWidget(m_cols, 2, 1);
    assist->addWidget(m_polarityLabel, 3, 0);
    assist->addWidget(m_polarity, 3, 1);
    layout->addWidget(m_assistFrame);

    auto* buttons = new QHBoxLayout;
    m_learn = new QPushButton(this);
    m_learn->setObjectName(QStringLiteral("Learn"));
    m_unlearn = new QPushButton(this);
    m_unlearn->setObjectName(QStringLiteral("Unlearn"));
    buttons->addWidget(m_learn);
    buttons->addWidget(m_unlearn);
    layout->addLayout(buttons);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("Status"));
    m_status->setAccessibleName(vm::res::Str(20152));
    m_status->setMinimumHeight(48);
    m_status->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    m_status->setFrameShape(QFrame::StyledPanel);
    m_status->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    m_status->setFocusPolicy(Qt::StrongFocus);
    layout->addWidget(m_status);
    m_done = new QPushButton(vm::res::Str(20153), this);
    m_done->setObjectName(QStringLiteral("Done"));
    layout->addWidget(m_done, 0, Qt::AlignRight);

    connect(m_enableAssist, &QCheckBox::clicked, this, &Learn::assistClicked);
    connect(m_learn, &QPushButton::clicked, this, &Learn::learnClicked);
    connect(m_unlearn, &QPushButton::clicked, this, &Learn::unlearnClicked);
    connect(m_done, &QPushButton::clicked, this, &QDialog::accept);
}

void Learn::optionClicked(int option) {
    m_option = option;
    if (option != DecoderOnly) {
        m_assistFrame->hide();
        if (m_enableAssist->isChecked()) {
            m_enableAssist->setChecked(false);
            hideRegion();
        }
    } else {
        m_assistFrame->show();
    }
    updateAssist();
}

void Learn::updateAssist() {
    // The matrix size and polarity count only for an assisted learn.
    for (QWidget* w : std::initializer_list<QWidget*>{m_rows, m_cols, m_polarity, m_rowsLabel, m_colsLabel,
                                                      m_polarityLabel})
        w->setEnabled(m_enableAssist->isChecked());
    static const int learnCaptions[] = {20310, 20311, 20312};
    static const int unlearnCaptions[] = {20313, 20314, 20315};
    m_learn->setText(vm::res::Str(learnCaptions[m_option]));
    m_unlearn->setText(vm::res::Str(unlearnCaptions[m_option]));
}

void Learn::assistClicked(bool checked) {
    if (checked)
        showRegion();
    else
        hideRegion();
    updateAssist();
}

void Learn::showRegion() {
    if (m_regionShown || !connection())
        return;
    m_regionShown = true;
    connection()->BroadcastMessage(kMainWindow, QLatin1String(vm::link::broadcast::Roi),
                                   QStringLiteral("DISABLE"));
    for (int i = 0; i < 4; ++i)
        m_region->MoveHandleTo(i, m_corners[size_t(i)].x(), m_corners[size_t(i)].y());
    if (auto* view = vm::app::mainImageView())
        view->AddOverlay(QLatin1String(kRegionOverlay), m_region);
}

void Learn::hideRegion() {
    if (!m_regionShown)
        return;
    m_regionShown = false;
    if (connection())
        connection()->BroadcastMessage(kMainWindow, QLatin1String(vm::link::broadcast::Roi),
                                       QStringLiteral("ENABLE"));
    if (auto* view = vm::app::mainImageView())
        view->RemoveOverlay(QLatin1String(kRegionOverlay));
}

QString Learn::learnCommand() const {
    if (!m_enableAssist->isChecked()) {
        const bool decoder = m_option == DecoderOnly || m_option == Both;
        const bool photometry = m_option == PhotometryOnly || m_option == Both;
        return QStringLiteral("LEARNEX") + (decoder ? QStringLiteral(" BOTH") : QStringLiteral(" NONE")) +
               (photometry ? QStringLiteral(" PHOTO") : QStringLiteral(" NONE"));
    }
    QString command = QStringLiteral("LEARNASSIST");
    for (int i = 0; i < 4; ++i) {
        double x = 0, y = 0;
        int flags = 0;
        m_region->GetHandle(i, x, y, flags);
        command += QLatin1Char(' ') + roundedPixel(x) + QLatin1Char(' ') + roundedPixel(y);
    }
    command += QLatin1Char(' ') + m_rows->currentText() + QLatin1Char(' ') + m_cols->currentText();
    command += m_polarity->currentIndex() == 1 ? QStringLiteral(" LD") : QStringLiteral(" DL");
    return command;
}

void Learn::learnClicked() {
    if (!hasControl())
        return;
    const bool serial = connection()->IsSerial();
    vm::app::SerialPollingControl* polling = vm::app::serialPollingControl();
    if (serial && polling)
        polling->SuspendSerialPolling();
    connection()->SendCommand(learnCommand(), kCommandTimeoutMs);
    m_waiting = true;
    setStatus(vm::res::Str(20154));
    // With the main window's polling paused the outcome would never be sent: ask for it here.
    if (serial)
        connection()->SendCommand(kNextReport, kCommandTimeoutMs);
}

void Learn::unlearnClicked() {
    if (!hasControl())
        return;
    // The commands of the option in the order they go out, and the order the status lists
    // them in.
    QStringList commands, shown;
    if (m_option != DecoderOnly)
        commands << QStringLiteral("PHOTO AUTO");
    if (m_option != PhotometryOnly)
        commands << QStringLiteral("UNLEARN");
    shown = commands;
    std::reverse(shown.begin(), shown.end());
    // The status says "command sent" only for what the reader took; the first command it
    // did not carry out ends the undo and is told with its reason.
    QHash<QString, QString> outcome;
    for (const QString& command : commands) {
        const vm::link::CommandReply reply = connection()->SendCommand(command, kCommandTimeoutMs);
        outcome.insert(command,
                       reply.ok ? QStringLiteral("command sent") : QStringLiteral("not carried out"));
        if (!reply.ok) {
            vm::app::tellCommandFailed(this, command, reply.errorText);
            break;
        }
    }
    QStringList status;
    for (const QString& command : shown)
        if (outcome.contains(command))
            status << command + QLatin1Char(' ') + outcome.value(command);
    setStatus(status.join(kCrLf));
    // Even a garbled answer may hide a carried-out undo: the other windows read again.
    if (m_option != DecoderOnly)
        connection()->BroadcastMessage(objectName(), QLatin1String(vm::link::broadcast::UpdatePhoto),
                                       QString());
    if (m_option != PhotometryOnly)
        connection()->BroadcastMessage(objectName(), QLatin1String(vm::link::broadcast::Unlearn), QString());
}

QString Learn::outcomeText(int code) {
    const bool photometry = code >= 4;
    if (photometry)
        code -= 4;
    QString text;
    if (m_option != PhotometryOnly) {
        text = QStringLiteral("Decoder Learn Status = ");
        if (code == -1)
            text += QStringLiteral("NO LEARN");
        else if (code == 0)
            text += QStringLiteral("Failed");
        else if (code == 1)
            text += QStringLiteral("1D OK") + kCrLf + QStringLiteral("Barcode Type = ") +
                    (connection() ? readerBarcodeSummary(connection()->Response()) : QString());
        else if (code == 2)
            text += QStringLiteral("2D OK");
        text += kCrLf;
    }
    if (photometry)
        text += QStringLiteral("Photometry Learned");
    return text;
}

void Learn::newRecord(const vm::link::Record& record) {
    if (!m_waiting) {
        // The next region shown frames the symbol the reader located last.
        const auto& corners = record.Result().Corners();
        if (record.Result().SymbolFound() && corners.size() == 4)
            for (int i = 0; i < 4; ++i)
                m_corners[size_t(i)] = corners.at(i);
        return;
    }
    if (!record.HasLearnStatus()) {
        // A record of a cycle before the learn: the outcome comes with a later one.
        if (connection() && connection()->IsSerial())
            connection()->SendCommand(kNextReport, kCommandTimeoutMs);
        return;
    }
    m_waiting = false;
    setStatus(outcomeText(record.LearnStatus()));
    vm::app::SerialPollingControl* polling = vm::app::serialPollingControl();
    if (connection() && connection()->IsSerial() && polling)
        polling->ResumeSerialPolling();
}

void Learn::setStatus(const QString& text) {
    m_status->setText(text);
}

QString Learn::statusText() const {
    return m_status->text();
}

void Learn::applyControlState(bool control) {
    // Every choice here leads to a command, and the reader takes commands only under control.
    for (QWidget* w : std::initializer_list<QWidget*>{m_options[0], m_options[1], m_options[2], m_assistFrame,
                                                      m_enableAssist, m_learn, m_unlearn})
        w->setEnabled(control);
}

void Learn::done(int result) {
    hideRegion();
    vm::app::settings().SetValue(kKey, kOptionWords.at(m_option), kSection);
    SettingsWindow::done(result);
}

} // namespace vm::settings
