#include "io/frmoutput.h"

#include "app/programstate.h"
#include "app/windowroutines.h"
#include "io/editformatstring.h"
#include "io/outputpreview.h"
#include "link/connection.h"
#include "link/fields.h"
#include "link/parameterset.h"
#include "link/vocabulary.h"
#include "resources/strings.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTabBar>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace vm::io {

using vm::link::quoteField;
using vm::link::unquoteOrStrip;

namespace {

constexpr int kCaptionColumn = 0;
constexpr int kEnabledColumn = 1;
constexpr int kHeaderColumn = 2;
constexpr int kTrailerColumn = 3;
constexpr int kFormatColumn = 4;
const QString kCheck = QStringLiteral("\u2713");
const char* const kPorts[] = {"STANDARD", "TCP1", "TCP2", "TCP3", "TCP4"};

bool usesHeader(const QString& use) {
    return use == QLatin1String("H") || use == QLatin1String("H_T");
}
bool usesTrailer(const QString& use) {
    return use == QLatin1String("T") || use == QLatin1String("H_T");
}

} // namespace

QString outputWindowFor(const vm::app::ReaderInfo& reader) {
    const QStringList v = reader.softwareVersion.split(QLatin1Char('.'));
    if (v.size() >= 2 && v[0].toInt() == 1 && v[1].toInt() < 1)
        return QStringLiteral("BasicOutput");
    return QLatin1String(frmOutput::WindowName);
}

const QList<OutputEventRow>& frmOutput::events() {
    static const QList<OutputEventRow> rows = {
        {20301, "OKDEC"},   {20302, "DECFL"},   {20304, "LOCFL"},
        {20305, "OKMATCH"}, {20306, "MATCHFL"}, {20303, "RTE"},
    };
    return rows;
}

namespace {

// Screen readers and UI automation see the header and trailer as buttons that open their
// editor, as a click or Space does.
class ClickableLabelAccessible final : public QAccessibleWidget {
public:
    explicit ClickableLabelAccessible(ClickableLabel* label)
        : QAccessibleWidget(label, QAccessible::Button) {}
    QStringList actionNames() const override {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override {
        if (name == pressAction() && widget()->isEnabled())
            emit static_cast<ClickableLabel*>(widget())->clicked();
        else
            QAccessibleWidget::doAction(name);
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value)
            return static_cast<ClickableLabel*>(widget())->text();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* clickableLabelAccessible(const QString&, QObject* object) {
    if (auto* label = qobject_cast<ClickableLabel*>(object))
        return new ClickableLabelAccessible(label);
    return nullptr;
}

} // namespace

ClickableLabel::ClickableLabel(const QString& accessibleName, QWidget* parent)
    : QWidget(parent)
    , m_label(new QLabel(this)) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(clickableLabelAccessible);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(accessibleName);
    setCursor(Qt::IBeamCursor);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(m_label);
    m_label->setFrameShape(QFrame::StyledPanel);
    m_label->setMinimumHeight(m_label->fontMetrics().height() + 6);
    m_label->setTextFormat(Qt::PlainText);
}

void ClickableLabel::setText(const QString& text) {
    m_label->setText(text);
    setAccessibleDescription(text);
}

QString ClickableLabel::text() const {
    return m_label->text();
}

void ClickableLabel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        emit clicked();
}

void ClickableLabel::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        emit clicked();
    else
        QWidget::keyPressEvent(event);
}

frmOutput::frmOutput(QWidget* parent)
    : SettingsWindow(QLatin1String(WindowName), Mode::OkApply, parent) {
    setWindowTitle(vm::res::Str(20074));
    setButtonNames(QStringLiteral("btnOK"), QStringLiteral("btnCancel"), QStringLiteral("btnApply"));
    buildControls();
    connect(connection(), &vm::link::Connection::OnNewRecord, this, &frmOutput::recordArrived);
    ensureLoaded();
}

vm::app::WindowEntry frmOutput::windowEntry() {
    vm::app::WindowEntry registered =
        vm::settings::settingsMenuWindow<frmOutput>(WindowName, 2050, "mnuOutput", vm::res::Str(205));
    registered.menu.target = &outputWindowFor;
    return registered;
}

void frmOutput::buildControls() {
    auto* layout = new QVBoxLayout(this);
    m_tabstrip = new QTabBar(this);
    m_tabstrip->setObjectName(QStringLiteral("m_tabstrip"));
    m_tabstrip->setAccessibleName(vm::res::Str(20075));
    for (const QString& caption : {vm::res::Str(20076), vm::res::Str(20077), vm::res::Str(20078),
                                   vm::res::Str(20079), vm::res::Str(20080)})
        m_tabstrip->addTab(caption);
    connect(m_tabstrip, &QTabBar::tabBarClicked, this, &frmOutput::tabClicked);
    // Arrow keys move between tabs as a click does.
    connect(m_tabstrip, &QTabBar::currentChanged, this, [this](int index) {
        if (!updating() && index >= 0 && QLatin1String(kPorts[index]) != m_port)
            tabClicked(index);
    });
    layout->addWidget(m_tabstrip);

    m_enableframe = new QGroupBox(this);
    m_enableframe->setObjectName(QStringLiteral("m_enableframe"));
    auto* frame = new QGridLayout(m_enableframe);
    m_grid = new QTableWidget(int(events().size()), 5, m_enableframe);
    m_grid->setObjectName(QStringLiteral("m_grid"));
    m_grid->setAccessibleName(vm::res::Str(20081));
    m_grid->setHorizontalHeaderLabels(
        {QString(), vm::res::Str(20002), vm::res::Str(20003), vm::res::Str(20004), vm::res::Str(20082)});
    m_grid->verticalHeader()->hide();
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectItems);
    m_grid->setColumnWidth(kCaptionColumn, 100);
    for (int c : {kEnabledColumn, kHeaderColumn, kTrailerColumn})
        m_grid->horizontalHeader()->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    m_grid->horizontalHeader()->setSectionResizeMode(kFormatColumn, QHeaderView::Stretch);
    for (int r = 0; r < events().size(); ++r) {
        auto* caption = new QTableWidgetItem(vm::res::Str(events()[r].caption));
        m_grid->setItem(r, kCaptionColumn, caption);
        for (int c = kEnabledColumn; c <= kTrailerColumn; ++c) {
            auto* check = new QTableWidgetItem;
            check->setTextAlignment(Qt::AlignCenter);
            m_grid->setItem(r, c, check);
        }
        auto* format = new QTableWidgetItem;
        format->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        m_grid->setItem(r, kFormatColumn, format);
    }
    m_grid->setFixedHeight(m_grid->horizontalHeader()->sizeHint().height() +
                           m_grid->verticalHeader()->length() + 2 * m_grid->frameWidth());
    m_grid->setMinimumWidth(520);
    connect(m_grid, &QTableWidget::cellClicked, this, &frmOutput::gridClicked);
    // Enter on a cell acts as a click, so the grid works from the keyboard.
    connect(m_grid, &QTableWidget::cellActivated, this, &frmOutput::gridClicked);
    connect(m_grid, &QTableWidget::currentCellChanged, this, [this] { updatePreview(); });
    frame->addWidget(m_grid, 0, 0, 1, 2);

    m_header = new ClickableLabel(vm::res::Str(20003), m_enableframe);
    m_header->setObjectName(QStringLiteral("m_header"));
    m_trailer = new ClickableLabel(vm::res::Str(20004), m_enableframe);
    m_trailer->setObjectName(QStringLiteral("m_trailer"));
    auto* headerCaption = new QLabel(vm::res::Str(20003), m_enableframe);
    headerCaption->setObjectName(QStringLiteral("Header_Label"));
    auto* trailerCaption = new QLabel(vm::res::Str(20004), m_enableframe);
    trailerCaption->setObjectName(QStringLiteral("Trailer_Label"));
    frame->addWidget(headerCaption, 1, 0);
    frame->addWidget(m_header, 1, 1);
    frame->addWidget(trailerCaption, 2, 0);
    frame->addWidget(m_trailer, 2, 1);
    frame->setColumnStretch(1, 1);
    connect(m_header, &ClickableLabel::clicked, this, [this] { labelClicked(true); });
    connect(m_trailer, &ClickableLabel::clicked, this, [this] { labelClicked(false); });
    layout->addWidget(m_enableframe);

    FixedFrame = new QGroupBox(vm::res::Str(20083), this);
    FixedFrame->setObjectName(QStringLiteral("FixedFrame"));
    auto* fixed = new QHBoxLayout(FixedFrame);
    m_fixedBufSize = new QLineEdit(FixedFrame);
    m_fixedBufSize->setObjectName(QStringLiteral("m_fixedBufSize"));
    m_fixedBufSize->setAccessibleName(vm::res::Str(20084));
    m_fixedBufSize->setMaximumWidth(80);
    lblFixedState = new QLabel(FixedFrame);
    lblFixedState->setObjectName(QStringLiteral("lblFixedState"));
    fixed->addWidget(m_fixedBufSize);
    fixed->addWidget(lblFixedState, 1);
    connect(m_fixedBufSize, &QLineEdit::textEdited, this, &frmOutput::markEdited);
    connect(m_fixedBufSize, &QLineEdit::editingFinished, this, &frmOutput::fixedLeft);
    layout->addWidget(FixedFrame);

    auto* previewFrame = new QGroupBox(vm::res::Str(20085), this);
    previewFrame->setObjectName(QStringLiteral("PreviewFrame"));
    auto* previewLayout = new QVBoxLayout(previewFrame);
    m_preview = new QLabel(previewFrame);
    m_preview->setObjectName(QStringLiteral("m_preview"));
    m_preview->setAccessibleName(vm::res::Str(20086));
    m_preview->setTextFormat(Qt::PlainText);
    m_preview->setWordWrap(true);
    // A long format without blanks cannot be wrapped: the preview then cuts it rather than
    // widening the window past the screen.
    m_preview->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_preview->setMinimumWidth(1);
    m_preview->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_preview->setFocusPolicy(Qt::StrongFocus);
    previewLayout->addWidget(m_preview);
    layout->addWidget(previewFrame);
    layout->addWidget(buttonBox());

    m_edformat = new EditFormatString(this);
    m_edformat->hide();
    connect(m_edformat, &EditFormatString::OnEdit, this, &frmOutput::editFinished);
    connect(m_edformat, &EditFormatString::textChanged, this, [this] { updatePreview(); });
}

QString frmOutput::parameterName(int row) const {
    return QStringLiteral("OUTPUT ") + m_port + QLatin1Char(' ') + QLatin1String(events()[row].word);
}

QString frmOutput::headerTrailerName() const {
    return QStringLiteral("OUTPUT ") + m_port + QStringLiteral(" H_T");
}

QString frmOutput::fixedName() const {
    return QStringLiteral("OUTPUT ") + m_port + QStringLiteral(" FIXED");
}

bool frmOutput::answered(const QString& name) const {
    return wasRead(name) && !notRead().contains(name);
}

void frmOutput::loadParameters() {
    hideEditor();
    m_fixedBufSize->setModified(false);
    if (!isConnected())
        return;
    if (vm::app::firmwareLevel() < vm::link::level::FormatEditor) {
        handOver();
        return;
    }
    // The port whose tab is shown is the one loaded again, so that later edits address
    // parameters read from this reader.
    loadPort(m_port);
}

void frmOutput::handOver() {
    if (m_handingOver)
        return;
    m_handingOver = true;
    // Outside the load: this window closes once the older dialog is shown.
    QTimer::singleShot(0, this, [this] {
        vm::app::windows().open(QStringLiteral("BasicOutput"), vm::app::mainWindow());
        close();
    });
}

void frmOutput::loadPort(const QString& port) {
    const QString p = port.toUpper();
    QStringList names;
    for (const OutputEventRow& e : events())
        names << QStringLiteral("OUTPUT ") + p + QLatin1Char(' ') + QLatin1String(e.word);
    names << QStringLiteral("OUTPUT ") + p + QStringLiteral(" H_T")
          << QStringLiteral("OUTPUT ") + p + QStringLiteral(" FIXED");
    for (const QString& name : std::as_const(names)) {
        // Edits of a port left for another tab wait for Apply; coming back shows them.
        const vm::link::Parameter* held = parameters().Find(name);
        if (held && held->Modified())
            continue;
        // The first parameter the reader does not answer ends the load: it and what follows
        // keep what they showed and take no edits (see answered()).
        if (!loadCompound(name))
            return;
    }
    // The reader's data format, only for the preview: a reader without it keeps the grid.
    parameters().LoadCompound(connection()->Response(), QStringLiteral("OUTPUT FORMAT"));
}

void frmOutput::refresh() {
    showPort();
}

void frmOutput::showPort() {
    const auto guard = updateGuard();
    const int index = int(std::find_if(std::begin(kPorts), std::end(kPorts),
                                       [this](const char* p) { return m_port == QLatin1String(p); }) -
                          std::begin(kPorts));
    if (index < m_tabstrip->count())
        m_tabstrip->setCurrentIndex(index);
    // What the reader did not answer keeps what it showed, greyed; what it was asked for and
    // left unanswered is marked too, as the base marks declared controls.
    const bool connected = isConnected();
    auto why = [&](const QString& name) {
        return connected && notRead().contains(name)
                   ? QStringLiteral("Not read from the camera: %1").arg(name)
                   : QString();
    };
    auto follow = [&](QWidget* control, const QString& name, bool read) {
        control->setEnabled(read);
        control->setProperty(kNotReadProperty, !why(name).isEmpty());
        control->setToolTip(why(name));
    };
    m_grid->setUpdatesEnabled(false);
    for (int r = 0; r < events().size(); ++r) {
        const QString name = parameterName(r);
        const bool unread = connected && !answered(name);
        for (int c = kCaptionColumn; c <= kFormatColumn; ++c) {
            QTableWidgetItem* item = m_grid->item(r, c);
            item->setFlags(unread ? item->flags() & ~Qt::ItemIsEnabled : item->flags() | Qt::ItemIsEnabled);
            item->setToolTip(why(name));
        }
        if (unread)
            continue;
        const vm::link::Parameter& p = parameters().GetParameter(name);
        m_grid->item(r, kFormatColumn)->setText(unquoteOrStrip(p.Field(1)));
        m_grid->item(r, kEnabledColumn)->setText(p.Field(0) == QLatin1String("Y") ? kCheck : QString());
        m_grid->item(r, kHeaderColumn)->setText(usesHeader(p.Field(2)) ? kCheck : QString());
        m_grid->item(r, kTrailerColumn)->setText(usesTrailer(p.Field(2)) ? kCheck : QString());
        colourRow(r);
    }
    m_grid->setUpdatesEnabled(true);
    const bool headerTrailerRead = !connected || answered(headerTrailerName());
    follow(m_header, headerTrailerName(), headerTrailerRead);
    follow(m_trailer, headerTrailerName(), headerTrailerRead);
    if (headerTrailerRead) {
        const vm::link::Parameter& ht = parameters().GetParameter(headerTrailerName());
        m_header->setText(unquoteOrStrip(ht.Field(0)));
        m_trailer->setText(unquoteOrStrip(ht.Field(1)));
    }
    const bool fixedShown = vm::app::firmwareLevel() >= vm::link::level::Calibration;
    const bool fixedRead = !connected || answered(fixedName());
    FixedFrame->setVisible(fixedShown);
    follow(m_fixedBufSize, fixedName(), fixedRead);
    if (fixedShown && fixedRead && !m_fixedBufSize->isModified()) {
        const int fixed = int(vm::settings::leadingNumber(parameters().GetParameter(fixedName()).Field(0)));
        m_fixedBufSize->setText(QString::number(fixed));
        lblFixedState->setText(fixed > 1 ? vm::res::Str(20002) : vm::res::Str(20087));
    }
    updatePreview();
}

void frmOutput::colourRow(int row) {
    const bool enabled = !m_grid->item(row, kEnabledColumn)->text().isEmpty();
    m_grid->item(row, kFormatColumn)
        ->setForeground(enabled ? palette().color(QPalette::Text) : QColor(0xC0, 0xC0, 0xC0));
}

void frmOutput::applyControlState(bool control) {
    // The grid and the labels stay enabled; their handlers do nothing without control. A
    // change of control ends an edit without keeping it.
    if (m_controlShown && *m_controlShown != control)
        hideEditor();
    m_controlShown = control;
}

bool frmOutput::writeControls() {
    if (m_edformat->isVisible())
        m_edformat->CloseEdit();
    fixedLeft();
    return true;
}

void frmOutput::tabClicked(int index) {
    if (index < 0 || index >= int(std::size(kPorts)))
        return;
    // A pending edit belongs to the port it was started on.
    if (m_edformat->isVisible())
        m_edformat->CloseEdit();
    fixedLeft();
    m_port = QLatin1String(kPorts[index]);
    if (isConnected())
        loadPort(m_port);
    refreshDisplay();
}

void frmOutput::gridClicked(int row, int column) {
    if (!hasControl() || row < 0 || row >= events().size() || !answered(parameterName(row)))
        return;
    vm::link::Parameter& p = parameters().GetParameter(parameterName(row));
    if (column >= kEnabledColumn && column <= kTrailerColumn) {
        QTableWidgetItem* cell = m_grid->item(row, column);
        const bool now = cell->text().isEmpty();
        cell->setText(now ? kCheck : QString());
        if (column == kEnabledColumn) {
            p.SetField(0, now ? QStringLiteral("Y") : QStringLiteral("N"));
        } else if (column == kHeaderColumn) {
            const bool t = !m_grid->item(row, kTrailerColumn)->text().isEmpty();
            p.SetField(2, now ? (t ? QStringLiteral("H_T") : QStringLiteral("H"))
                              : (t ? QStringLiteral("T") : QStringLiteral("NONE")));
        } else {
            const bool h = !m_grid->item(row, kHeaderColumn)->text().isEmpty();
            p.SetField(2, now ? (h ? QStringLiteral("H_T") : QStringLiteral("T"))
                              : (h ? QStringLiteral("H") : QStringLiteral("NONE")));
        }
        if (m_edformat->isVisible())
            m_edformat->CloseEdit();
        colourRow(row);
        markModified();
        updatePreview();
    } else if (column == kFormatColumn) {
        if (m_edformat->isVisible())
            m_edformat->CloseEdit();
        QRect cell = m_grid->visualItemRect(m_grid->item(row, kFormatColumn));
        cell.moveTopLeft(m_grid->viewport()->mapTo(this, cell.topLeft()));
        cell.setHeight(std::max(cell.height(), m_edformat->sizeHint().height()));
        openEditor(cell, QString::number(row), m_grid->item(row, kFormatColumn)->text());
    }
}

void frmOutput::labelClicked(bool header) {
    if (!hasControl() || !answered(headerTrailerName()))
        return;
    if (m_edformat->isVisible())
        m_edformat->CloseEdit();
    ClickableLabel* label = header ? m_header : m_trailer;
    QRect area(label->mapTo(this, QPoint(0, 0)), label->size());
    area.setHeight(std::max(area.height(), m_edformat->sizeHint().height()));
    openEditor(area, header ? QStringLiteral("HEADER") : QStringLiteral("TRAILER"), label->text());
}

void frmOutput::openEditor(const QRect& area, const QString& key, const QString& text) {
    if (!hasControl())
        return;
    m_edformat->setGeometry(area);
    m_edformat->setText(text);
    m_edformat->setCdEnabled(m_port != QLatin1String("STANDARD"));
    m_edformat->setKey(key);
    m_edformat->show();
    m_edformat->raise();
    m_edformat->setFocus(Qt::OtherFocusReason);
    updatePreview();
}

void frmOutput::hideEditor() {
    m_edformat->hide();
}

void frmOutput::editFinished(const QString& key, const QString& text) {
    if (!m_edformat->isVisible() || m_refusingText)
        return;
    // A text the reader would split is not taken: the editor stays open with it. (The box
    // takes the focus from the editor, which would end the edit again while it is open.)
    bool isRow = false;
    const int textRow = key.toInt(&isRow);
    const QString boxName =
        key == QLatin1String("HEADER")    ? m_grid->horizontalHeaderItem(kHeaderColumn)->text()
        : key == QLatin1String("TRAILER") ? m_grid->horizontalHeaderItem(kTrailerColumn)->text()
        : isRow && m_grid->item(textRow, kCaptionColumn) ? m_grid->item(textRow, kCaptionColumn)->text()
                                                         : key;
    QString refusal = vm::settings::unquotableMessage(text, boxName);
    if (refusal.isEmpty() && text.size() > kLongestText)
        refusal = QStringLiteral("The text in \"%1\" has %2 characters; the camera keeps at most %3.")
                      .arg(boxName)
                      .arg(text.size())
                      .arg(kLongestText);
    if (!refusal.isEmpty()) {
        m_refusingText = true;
        vm::app::showMessage(this, refusal, vm::app::PromptButtons::Ok, vm::app::PromptIcon::Exclamation);
        m_refusingText = false;
        m_edformat->editor()->setFocus(Qt::OtherFocusReason);
        return;
    }
    if (key == QLatin1String("HEADER")) {
        parameters().GetParameter(headerTrailerName()).SetField(0, quoteField(text));
    } else if (key == QLatin1String("TRAILER")) {
        parameters().GetParameter(headerTrailerName()).SetField(1, quoteField(text));
    } else {
        bool ok = false;
        const int row = key.toInt(&ok);
        if (!ok || row < 0 || row >= events().size())
            return;
        parameters().GetParameter(parameterName(row)).SetField(1, quoteField(text));
    }
    hideEditor();
    refreshDisplay();
    markModified();
}

void frmOutput::fixedLeft() {
    if (updating() || !m_fixedBufSize->isModified() || !answered(fixedName()))
        return;
    const int value =
        int(std::clamp<qint64>(vm::settings::leadingNumber(m_fixedBufSize->text()), 0, kFixedMax));
    {
        const auto guard = updateGuard();
        m_fixedBufSize->setText(QString::number(value));
    }
    lblFixedState->setText(value > 1 ? vm::res::Str(20002) : vm::res::Str(20087));
    parameters().GetParameter(fixedName()).SetField(0, QString::number(value));
    markModified();
    updatePreview();
}

void frmOutput::recordArrived(const vm::link::Record& record) {
    m_lastRecord = record;
    updatePreview();
}

QString frmOutput::previewText() const {
    return m_preview->text();
}

void frmOutput::updatePreview() {
    if (!m_lastRecord) {
        m_preview->setText(vm::res::Str(20088));
        return;
    }
    const bool editing = m_edformat->isVisible();
    const QString key = m_edformat->key();
    const int row = editing && key != QLatin1String("HEADER") && key != QLatin1String("TRAILER")
                        ? key.toInt()
                        : std::max(m_grid->currentRow(), 0);
    const vm::link::Parameter& p = parameters().GetParameter(parameterName(row));
    const vm::link::Parameter& ht = parameters().GetParameter(headerTrailerName());
    QString header = unquoteOrStrip(ht.Field(0));
    QString trailer = unquoteOrStrip(ht.Field(1));
    QString format = unquoteOrStrip(p.Field(1));
    if (editing && key == QLatin1String("HEADER"))
        header = m_edformat->text();
    else if (editing && key == QLatin1String("TRAILER"))
        trailer = m_edformat->text();
    else if (editing)
        format = m_edformat->text();
    const bool cycleData = m_port != QLatin1String("STANDARD");
    const vm::link::Parameter* dataFormat = parameters().Find(QStringLiteral("OUTPUT FORMAT"));
    const bool hex = dataFormat && dataFormat->Field(0) == QLatin1String("HEX");
    QString text;
    if (usesHeader(p.Field(2)))
        text += previewFormat(header, *m_lastRecord, cycleData, hex);
    text += previewFormat(format, *m_lastRecord, cycleData, hex);
    if (usesTrailer(p.Field(2)))
        text += previewFormat(trailer, *m_lastRecord, cycleData, hex);
    const QString state = p.Field(0) == QLatin1String("Y") ? QString() : vm::res::Str(20089);
    m_preview->setText(vm::res::Str(events()[row].caption) + QStringLiteral(", ") + m_port +
                       QStringLiteral(": ") + text + state);
}

} // namespace vm::io
