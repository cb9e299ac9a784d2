#include "tools/filmstriprecorder.h"

#include "app/displaypreferences.h"
#include "app/imagefiles.h"
#include "app/programstate.h"
#include "app/prompts.h"
#include "app/settingsstore.h"
#include "app/windowroutines.h"
#include "display/imageview.h"
#include "link/connection.h"
#include "link/device.h"
#include "link/vocabulary.h"
#include "resources/strings.h"
#include "tools/dlgselectfolder.h"
#include "tools/imagerecorder.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QPainter>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace vm::tools {

using vm::app::PromptButtons;
using vm::app::PromptIcon;

namespace {

// Filter items with the flags they set, by their string number.
struct FilterItem {
    int text;
    FilmstripRecorder::Filter flags;
};

const QList<FilterItem>& passFailItems() {
    static const QList<FilterItem> items = {
        {1102, {true, true, false, false, false, false}},
        {1103, {false, true, false, false, false, false}},
        {1104, {true, false, false, false, false, false}},
    };
    return items;
}

const QList<FilterItem>& verifyItems() {
    static const QList<FilterItem> items = {
        {1106, {false, false, true, true, true, true}},    {1107, {false, false, true, true, true, false}},
        {1108, {false, false, true, true, false, false}},  {1109, {false, false, true, false, false, false}},
        {1110, {false, false, false, true, false, false}}, {1111, {false, false, false, false, true, false}},
        {1112, {false, false, false, false, false, true}}, {1113, {false, false, false, false, true, true}},
        {1114, {false, false, false, true, true, true}},
    };
    return items;
}

// The toolbar's pictures, drawn rather than shipped: each state its own colour.
QIcon buttonIcon(const QString& image) {
    QPixmap pixmap(24, 24);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(45, 55, 72), 1.2));
    if (image.startsWith(QLatin1String("go"))) {
        p.setBrush(image == QLatin1String("go-lit") ? QColor(40, 200, 70) : QColor(150, 155, 165));
        p.drawPolygon(QPolygonF({QPointF(6, 4), QPointF(20, 12), QPointF(6, 20)}));
    } else if (image.startsWith(QLatin1String("stop"))) {
        p.setBrush(image == QLatin1String("stop-lit") ? QColor(235, 140, 20) : QColor(150, 155, 165));
        p.drawRect(QRectF(5, 5, 14, 14));
    } else if (image.startsWith(QLatin1String("rec"))) {
        QColor fill(150, 155, 165);
        if (image == QLatin1String("rec-lit"))
            fill = QColor(255, 60, 60);
        else if (image == QLatin1String("rec-red"))
            fill = QColor(150, 0, 0);
        else if (image == QLatin1String("rec"))
            fill = QColor(200, 90, 90);
        p.setBrush(fill);
        p.drawEllipse(QPointF(12, 12), 8, 8);
    } else if (image == QLatin1String("folder")) {
        p.setBrush(QColor(240, 200, 90));
        p.drawRect(QRectF(3, 8, 18, 12));
        p.drawRect(QRectF(3, 5, 8, 4));
    } else {
        p.setBrush(QColor(45, 55, 72));
        const bool back = image == QLatin1String("back");
        p.drawPolygon(back ? QPolygonF({QPointF(18, 5), QPointF(6, 12), QPointF(18, 19)})
                           : QPolygonF({QPointF(6, 5), QPointF(18, 12), QPointF(6, 19)}));
    }
    return QIcon(pixmap);
}

} // namespace

FilmstripRecorder::FilmstripRecorder(QWidget* parent)
    : MonitorWindow(QLatin1String(WindowName), vm::res::Str(1101), parent)
    , m_recorder(std::make_unique<ImageRecorder>()) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_toolbar = new QToolBar(this);
    m_toolbar->setObjectName(QStringLiteral("Toolbar1"));
    vm::app::nameToolbar(m_toolbar, vm::res::Str(20368));
    m_toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    struct Button {
        const char* key;
        QString caption;
        bool checkable;
    };
    const Button buttons[] = {
        {"go", vm::res::Str(20276), true},     {"stop", vm::res::Str(20277), true},
        {"record", vm::res::Str(20278), true}, {"folder", vm::res::Str(20279), false},
        {"back", vm::res::Str(20280), false},  {"forward", vm::res::Str(20281), false},
    };
    for (const Button& b : buttons) {
        if (QLatin1String(b.key) == QLatin1String("back"))
            m_toolbar->addSeparator();
        QAction* action = m_toolbar->addAction(b.caption);
        action->setObjectName(QLatin1String(b.key));
        action->setCheckable(b.checkable);
        if (auto* button = qobject_cast<QToolButton*>(m_toolbar->widgetForAction(action))) {
            button->setAccessibleName(b.caption);
            button->setFocusPolicy(Qt::StrongFocus);
        }
        setButtonImage(QLatin1String(b.key), QLatin1String(b.key));
    }
    m_position = new QLabel(m_toolbar);
    m_position->setObjectName(QStringLiteral("lblPosition"));
    m_position->setMargin(6);
    m_toolbar->addWidget(m_position);
    m_toolbar->addSeparator();
    m_filterList = new QComboBox(m_toolbar);
    m_filterList->setObjectName(QStringLiteral("Filter"));
    m_filterList->setAccessibleName(vm::res::Str(20282));
    m_filterList->setToolTip(vm::res::Str(20283));
    m_toolbar->addWidget(m_filterList);
    layout->addWidget(m_toolbar);

    m_imageCtl = new vm::display::VxImageView(this);
    // Results drawn as in the main view, and again whenever the preferences change.
    m_imageCtl->ApplyDisplaySettings(vm::app::storedDisplaySettings());
    connect(&vm::app::displayPreferences(), &vm::app::DisplayPreferences::changed, m_imageCtl,
            [view = m_imageCtl] { view->ApplyDisplaySettings(vm::app::storedDisplaySettings()); });
    m_imageCtl->SetMaxPaintRate(kLivePaintRate);
    m_imageCtl->setObjectName(QStringLiteral("ImageCtl"));
    m_imageCtl->setAccessibleName(vm::res::Str(20284));
    m_imageCtl->Initialize(QStringLiteral("Velmarrow"));
    layout->addWidget(m_imageCtl, 1);
    // Below the picture, in sight only while images could not be saved.
    m_notSaved = new QLabel(this);
    m_notSaved->setObjectName(QStringLiteral("lblNotSaved"));
    m_notSaved->setMargin(4);
    m_notSaved->hide();
    layout->addWidget(m_notSaved);

    connect(button(QStringLiteral("go")), &QAction::triggered, this, &FilmstripRecorder::Go);
    connect(button(QStringLiteral("stop")), &QAction::triggered, this, &FilmstripRecorder::Stop);
    connect(button(QStringLiteral("record")), &QAction::triggered, this, &FilmstripRecorder::SetRecording);
    connect(button(QStringLiteral("folder")), &QAction::triggered, this, &FilmstripRecorder::chooseFolder);
    connect(button(QStringLiteral("back")), &QAction::triggered, this, &FilmstripRecorder::Back);
    connect(button(QStringLiteral("forward")), &QAction::triggered, this, &FilmstripRecorder::Forward);
    connect(m_filterList, &QComboBox::currentIndexChanged, this, &FilmstripRecorder::filterChosen);
    connect(m_recorder.get(), &ImageRecorder::writeFailed, this, &FilmstripRecorder::writeFailed);
    m_recTimer.setInterval(kRecBlinkMs);
    connect(&m_recTimer, &QTimer::timeout, this, &FilmstripRecorder::recTick);

    fillFilterList();
    m_iconn = std::make_unique<vm::link::ImageConnection>();
    m_rconn = std::make_unique<vm::link::ReaderConnection>();
    connect(m_iconn.get(), &vm::link::Connection::OnNewRecord, this, &FilmstripRecorder::newRecord);
    connect(m_iconn.get(), &vm::link::Connection::OnConnectionReset, this,
            &FilmstripRecorder::evaluateVerificationMode);
    connect(m_rconn.get(), &vm::link::Connection::OnBroadcastMessage, this,
            [this](const QString& sender, const QString& message, const QString&) {
                if (sender == QLatin1String(WindowName))
                    return;
                if (message == QLatin1String(vm::link::broadcast::VerificationOn) ||
                    message == QLatin1String(vm::link::broadcast::VerificationOff))
                    evaluateVerificationMode();
            });
    Go();
    evaluateVerificationMode();
    updateButtons();
    resize(700, 560);
}

FilmstripRecorder::~FilmstripRecorder() = default;

vm::app::WindowEntry FilmstripRecorder::windowEntry() {
    return monitorWindowEntry(
        WindowName, [](QWidget* parent) -> QWidget* { return new FilmstripRecorder(parent); }, 306,
        "mnuFilmstrip", 30, "filmstrip", 1505, 1523, "filmstrip");
}

QAction* FilmstripRecorder::button(const QString& key) const {
    return m_toolbar->findChild<QAction*>(key, Qt::FindDirectChildrenOnly);
}

QString FilmstripRecorder::buttonImage(const QString& key) const {
    const QAction* action = button(key);
    return action ? action->property("imageKey").toString() : QString();
}

void FilmstripRecorder::setButtonImage(const QString& key, const QString& image) {
    QAction* action = button(key);
    if (!action || action->property("imageKey").toString() == image)
        return;
    action->setProperty("imageKey", image);
    action->setIcon(buttonIcon(image));
}

void FilmstripRecorder::fillFilterList() {
    const QSignalBlocker block(m_filterList);
    m_filterList->clear();
    for (const FilterItem& item : m_verificationMode ? verifyItems() : passFailItems())
        m_filterList->addItem(vm::res::Str(item.text));
    m_filterList->setCurrentIndex(0);
    filterChosen(0);
}

void FilmstripRecorder::filterChosen(int index) {
    const QList<FilterItem>& items = m_verificationMode ? verifyItems() : passFailItems();
    if (index >= 0 && index < items.size())
        m_filter = items.at(index).flags;
}

void FilmstripRecorder::evaluateVerificationMode() {
    const bool mode =
        vm::app::firmwareLevel() >= vm::link::level::Verification && vm::app::verificationEnabled();
    if (m_modeKnown && mode == m_verificationMode)
        return;
    m_modeKnown = true;
    m_verificationMode = mode;
    fillFilterList();
}

bool FilmstripRecorder::passes(const vm::link::Record& record) const {
    if (m_verificationMode) {
        const int grade = record.HasVerification() ? record.Verification()->gradeCode : -1;
        return (m_filter.keepGood && grade == 3) || (m_filter.keepFair && grade == 2) ||
               (m_filter.keepPoor && grade == 1) ||
               (m_filter.keepFailedGrade && grade != 1 && grade != 2 && grade != 3);
    }
    return record.Passed() ? m_filter.keepPassed : m_filter.keepFailed;
}

void FilmstripRecorder::newRecord(const vm::link::Record& record) {
    if (m_stopped || !passes(record))
        return;
    if (!record.Image().IsEmpty()) {
        m_ring.push_front(record);
        if (int(m_ring.size()) > kRingSize)
            m_ring.pop_back();
        // While browsing back the same picture stays: its place moves one further back.
        if (m_browse > 0)
            m_browse = std::min(m_browse + 1, int(m_ring.size()) - 1);
    }
    if (m_browse == 0) {
        m_imageCtl->SetRecord(record);
        ++m_shownCount;
    }
    if (m_recording && !record.Image().IsEmpty()) {
        vm::link::Device* device = m_iconn ? m_iconn->Device() : nullptr;
        const QString path = vm::app::MakeImageFileName(device ? device->Name() : QString(), record.Number());
        if (path.isEmpty())
            writeFailed(device ? device->Name() : QString(), vm::res::Str(20285));
        else
            m_recorder->enqueue(record.Image(), path);
    }
    updateButtons();
}

const vm::link::Record* FilmstripRecorder::shownRecord() const {
    if (m_ring.empty())
        return nullptr;
    return &m_ring.at(std::size_t(std::min(m_browse, int(m_ring.size()) - 1)));
}

void FilmstripRecorder::Back() {
    if (m_browse + 1 < int(m_ring.size())) {
        ++m_browse;
        showBrowsed();
    }
}

void FilmstripRecorder::Forward() {
    if (m_browse > 0) {
        --m_browse;
        showBrowsed();
    }
}

void FilmstripRecorder::showBrowsed() {
    if (const vm::link::Record* record = shownRecord())
        m_imageCtl->SetRecord(*record);
    updateButtons();
}

void FilmstripRecorder::Go() {
    m_stopped = false;
    updateButtons();
}

void FilmstripRecorder::Stop() {
    m_stopped = true;
    updateButtons();
}

void FilmstripRecorder::SetRecording(bool on) {
    m_recording = on;
    m_failureShown = false;
    if (on) {
        m_droppedAtStart = m_recorder->dropped();
        m_recTimer.start();
    } else {
        m_recTimer.stop();
    }
    updateButtons();
}

void FilmstripRecorder::recTick() {
    if (!m_recording || m_stopped)
        return;
    m_recLit = !m_recLit;
    setButtonImage(QStringLiteral("record"),
                   m_recLit ? QStringLiteral("rec-lit") : QStringLiteral("rec-red"));
}

void FilmstripRecorder::updateButtons() {
    button(QStringLiteral("go"))->setChecked(!m_stopped);
    button(QStringLiteral("stop"))->setChecked(m_stopped);
    button(QStringLiteral("record"))->setChecked(m_recording);
    setButtonImage(QStringLiteral("go"), m_stopped ? QStringLiteral("go") : QStringLiteral("go-lit"));
    setButtonImage(QStringLiteral("stop"), m_stopped ? QStringLiteral("stop-lit") : QStringLiteral("stop"));
    if (!m_recording)
        setButtonImage(QStringLiteral("record"), QStringLiteral("record"));
    else if (m_stopped || !m_recTimer.isActive())
        setButtonImage(QStringLiteral("record"), QStringLiteral("rec"));
    button(QStringLiteral("back"))->setEnabled(m_browse + 1 < int(m_ring.size()));
    button(QStringLiteral("forward"))->setEnabled(m_browse > 0);
    const QString position = m_ring.empty()  ? QString()
                             : m_browse == 0 ? vm::res::Str(20286).arg(m_ring.size())
                                             : vm::res::Str(20287).arg(m_browse).arg(m_ring.size());
    // Images the disk could not take since recording was last switched on stay in sight
    // until it is switched on again.
    const quint64 dropped = m_recorder->dropped() - m_droppedAtStart;
    const QString notSaved = dropped > 0 ? vm::res::Str(20365).arg(dropped) : QString();
    if (m_notSaved->text() != notSaved) {
        m_notSaved->setText(notSaved);
        m_notSaved->setVisible(!notSaved.isEmpty());
    }
    if (m_position->text() != position)
        m_position->setText(position);
}

void FilmstripRecorder::chooseFolder() {
    dlgSelectFolder picker(this);
    picker.SetInitialFolder(vm::app::imageSaveDirectory());
    vm::app::runDialog(picker);
    if (picker.Folder().isEmpty())
        return;
    vm::app::setImageSaveDirectory(picker.Folder());
    vm::app::settings().setText(vm::app::keys::ImageSaveDirectory, picker.Folder());
    vm::app::settings().Save();
}

void FilmstripRecorder::writeFailed(const QString& path, const QString& error) {
    // At the reader's rate one failure is followed by many: recording stops and the
    // operator hears of it once.
    if (m_recording)
        SetRecording(false);
    if (m_failureShown)
        return;
    m_failureShown = true;
    vm::app::showMessage(this, vm::res::Str(20288).arg(path, error), PromptButtons::Ok,
                         PromptIcon::Exclamation);
}

void FilmstripRecorder::unload() {
    m_recTimer.stop();
    m_iconn.reset();
    m_rconn.reset();
    m_ring.clear();
}

} // namespace vm::tools
