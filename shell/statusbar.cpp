#include "shell/statusbar.h"

#include "app/windowroutines.h"
#include "display/colorvalue.h"
#include "resources/strings.h"

#include <QAction>
#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QToolBar>
#include <QToolButton>

#include <functional>

namespace vm::shell {

using vm::display::IsSystemColor;
using vm::display::kWindowBackground;
using vm::display::kWindowText;
using vm::display::ToQColor;

namespace {
constexpr int kTextPadding = 8;
constexpr int kCounterDigits = 8; // counts up to this many digits fit their fields as laid out
constexpr int kSpacerWidth = 6;
// Grey values below this get white text on the grey field, the rest black.
constexpr int kGrayTextThreshold = 141;

QFont verdana(const QFont& base) {
    QFont f = base;
    f.setFamilies({QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans")});
    return f;
}

QIcon paintIcon(const std::function<void(QPainter&)>& draw) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    draw(painter);
    return QIcon(pixmap);
}

void drawSpeaker(QPainter& p, const QColor& colour, bool waves) {
    QPainterPath body;
    body.moveTo(2, 6);
    body.lineTo(5, 6);
    body.lineTo(9, 2);
    body.lineTo(9, 14);
    body.lineTo(5, 10);
    body.lineTo(2, 10);
    body.closeSubpath();
    p.setPen(QPen(colour.darker(150), 1));
    p.setBrush(colour);
    p.drawPath(body);
    if (waves) {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(colour, 1.4));
        p.drawArc(QRectF(7, 4, 6, 8), -60 * 16, 120 * 16);
        p.drawArc(QRectF(7, 1.5, 9, 13), -60 * 16, 120 * 16);
    }
}

void drawLaser(QPainter& p, const QColor& colour, bool rays, bool strobe) {
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawEllipse(QPointF(8, 8), 3, 3);
    if (rays) {
        p.setPen(QPen(colour, 1.3));
        for (int i = 0; i < 8; ++i) {
            p.save();
            p.translate(8, 8);
            p.rotate(i * 45.0);
            p.drawLine(QPointF(4.5, 0), QPointF(7, 0));
            p.restore();
        }
    }
    if (strobe) {
        p.setPen(QPen(QColor(40, 40, 40), 1.2));
        p.setBrush(QColor(255, 220, 0));
        p.drawEllipse(QRectF(9.5, 9.5, 6, 6));
        p.drawLine(QPointF(12.5, 12.5), QPointF(12.5, 10.5));
    }
}
} // namespace

VmStatusBar::VmStatusBar(QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("VmStatusBar"));
    setAccessibleName(vm::res::Str(20240));
    setFont(verdana(font()));

    m_totalLabel = makeLabel("TotalLabel", vm::res::Str(1514), vm::res::Str(20241));
    m_passLabel = makeLabel("PassLabel", vm::res::Str(1515), vm::res::Str(20242));
    m_failLabel = makeLabel("FailLabel", vm::res::Str(1516), vm::res::Str(20243));
    m_totalField = makeLabel("TotalField", QString(), vm::res::Str(20244));
    m_passField = makeLabel("PassField", QString(), vm::res::Str(20245));
    m_failField = makeLabel("FailField", QString(), vm::res::Str(20246));
    for (QLabel* field : {m_totalField, m_passField, m_failField}) {
        field->setAlignment(Qt::AlignCenter);
        field->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        field->setAutoFillBackground(true);
    }
    m_cursorLabel = makeLabel("CursorLabel", vm::res::Str(1517), vm::res::Str(20247));
    m_cursorField = makeLabel("CursorField", QString(), vm::res::Str(20248));
    m_cursorField->setAlignment(Qt::AlignCenter);
    m_cursorField->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_grayField = makeLabel("GrayField", QString(), vm::res::Str(20249));
    m_grayField->setAlignment(Qt::AlignCenter);
    m_grayField->setFrameStyle(QFrame::Panel | QFrame::Sunken);

    m_status.label = makeLabel("Info1", QString(), vm::res::Str(20250));
    m_info.label = makeLabel("Info2", QString(), vm::res::Str(20251));
    for (MessageField* field : {&m_status, &m_info}) {
        field->label->setFont(font()); // the message fields keep the widget's own font
        field->label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        field->label->setAutoFillBackground(true);
        field->label->setTextFormat(Qt::PlainText);
        field->fore = kWindowText;
        field->back = kWindowBackground;
    }
    m_spacer = makeLabel("Info3", QString(), vm::res::Str(20252));

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("Progress"));
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setAccessibleName(vm::res::Str(20253));
    m_progress->hide();

    buildImageList();
    m_toolbar = new QToolBar(this);
    m_toolbar->setObjectName(QStringLiteral("TBar"));
    vm::app::nameToolbar(m_toolbar, vm::res::Str(20254));
    m_toolbar->setIconSize(QSize(16, 16));
    m_toolbar->setMovable(false);
    m_toolbar->setFloatable(false);
    m_toolbar->setAccessibleName(vm::res::Str(20254));
    const struct {
        const char* key;
        QString tip;
    } buttons[] = {{"beep", vm::res::Str(209)}, {"laser", vm::res::Str(20255)}};
    for (const auto& b : buttons) {
        const QString key = QString::fromLatin1(b.key);
        QAction* action = m_toolbar->addAction(m_imageList.value(key + "_inactive"), b.tip);
        action->setObjectName(key);
        action->setProperty("imageKey", key + "_inactive");
        action->setToolTip(b.tip);
        connect(action, &QAction::triggered, this, [this, key] { emit OnButtonPress(key); });
        if (QWidget* button = m_toolbar->widgetForAction(action)) {
            button->setObjectName(key);
            button->setFocusPolicy(Qt::TabFocus);
            button->setAccessibleName(b.tip);
        }
        m_buttons.insert(key, action);
    }

    m_sendVTrigger = new QPushButton(vm::res::Str(20256), this);
    m_sendVTrigger->setObjectName(QStringLiteral("SendVTrigger"));
    m_sendVTrigger->setAccessibleName(vm::res::Str(20256));
    connect(m_sendVTrigger, &QPushButton::clicked, this, &VmStatusBar::OnSendVTrigger);

    m_waitTriggerMsg =
        makeLabel("WaitTriggerMsg", QStringLiteral("  Waiting For Trigger..."), vm::res::Str(20257));
    QFont arialBlack = font();
    arialBlack.setFamilies({QStringLiteral("Arial Black"), QStringLiteral("DejaVu Sans")});
    arialBlack.setWeight(QFont::Black);
    m_waitTriggerMsg->setFont(arialBlack);
    m_waitTriggerMsg->hide();

    m_built = true;
    relayout();
}

int VmStatusBar::messageWidth(const MessageField& field) {
    if (field.text.trimmed().isEmpty())
        return 0;
    return field.label->fontMetrics().horizontalAdvance(field.text) + kTextPadding;
}

QLabel* VmStatusBar::makeLabel(const QString& name, const QString& text, const QString& accessibleName) {
    auto* label = new QLabel(text, this);
    label->setObjectName(name);
    label->setFont(verdana(font()));
    label->setAccessibleName(accessibleName);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
}

void VmStatusBar::buildImageList() {
    const QColor grey(140, 140, 140);
    m_imageList.insert("beep_active",
                       paintIcon([](QPainter& p) { drawSpeaker(p, QColor(30, 110, 220), true); }));
    m_imageList.insert("beep_inactive", paintIcon([grey](QPainter& p) { drawSpeaker(p, grey, false); }));
    m_imageList.insert("laser_active",
                       paintIcon([](QPainter& p) { drawLaser(p, QColor(230, 0, 0), true, false); }));
    m_imageList.insert("laser_inactive",
                       paintIcon([grey](QPainter& p) { drawLaser(p, grey, false, false); }));
    m_imageList.insert("laser_option",
                       paintIcon([](QPainter& p) { drawLaser(p, QColor(230, 0, 0), true, true); }));
}

// ---- counters and cursor

void VmStatusBar::SetCounts(qint32 total, qint32 pass, qint32 fail) {
    m_totalField->setText(QString::number(total));
    m_passField->setText(QString::number(pass));
    m_failField->setText(QString::number(fail));
    updateCountNames();
    // Counts come with every record; measuring the fields' texts costs more than the rest of
    // the record's display. Only a count past the field's eight digits, or one coming back
    // within them, moves the fields.
    const bool wide = std::max({m_totalField->text().size(), m_passField->text().size(),
                                m_failField->text().size()}) > kCounterDigits;
    if (wide || m_countsWide)
        relayout();
    m_countsWide = wide;
}

void VmStatusBar::SetCountLabels(const QString& total, const QString& pass, const QString& fail) {
    m_totalLabel->setText(total);
    m_passLabel->setText(pass);
    m_failLabel->setText(fail);
    updateCountNames();
    relayout();
}

// A label's accessible name is all that assistive tools read of it, so the value
// fields carry their caption and their value there ("Pass 12").
void VmStatusBar::updateCountNames() {
    for (auto [caption, value] : {std::pair{m_totalLabel, m_totalField}, std::pair{m_passLabel, m_passField},
                                  std::pair{m_failLabel, m_failField}}) {
        const QString name =
            value->text().isEmpty() ? caption->text() : caption->text() + u' ' + value->text();
        if (value->accessibleName() != name)
            value->setAccessibleName(name);
    }
}

void VmStatusBar::SetCountColors(quint32 total, quint32 pass, quint32 fail) {
    setFieldColors(m_totalField, kWindowText, total);
    setFieldColors(m_passField, kWindowText, pass);
    setFieldColors(m_failField, kWindowText, fail);
}

void VmStatusBar::ClearCounts() {
    m_totalField->clear();
    m_passField->clear();
    m_failField->clear();
    updateCountNames();
}

void VmStatusBar::SetCursorPos(int x, int y) {
    m_cursorField->setText(QString::number(x) + "," + QString::number(y));
}

void VmStatusBar::SetGrayVal(int value) {
    const int v = std::clamp(value, 0, 255);
    m_grayField->setText(QString::number(v));
    QPalette p = m_grayField->palette();
    p.setColor(QPalette::Window, QColor(v, v, v));
    p.setColor(QPalette::WindowText, v < kGrayTextThreshold ? Qt::white : Qt::black);
    m_grayField->setPalette(p);
    m_grayField->setAutoFillBackground(true);
}

void VmStatusBar::ClearCursorInfo() {
    if (m_cursorField->text().isEmpty())
        return;
    m_cursorField->clear();
    m_grayField->clear();
    m_grayField->setPalette(palette());
    m_grayField->setAutoFillBackground(false);
}

// ---- toolbar

void VmStatusBar::EnableToobarButtons(bool enabled) {
    for (QAction* action : std::as_const(m_buttons))
        action->setEnabled(enabled);
}

void VmStatusBar::SetButtonState(const QString& key, bool active, bool option) {
    QAction* action = m_buttons.value(key);
    if (!action)
        return;
    const QString image = key + (!active ? "_inactive" : option ? "_option" : "_active");
    action->setIcon(m_imageList.value(image));
    action->setProperty("imageKey", image);
}

QString VmStatusBar::ButtonImageKey(const QString& key) const {
    const QAction* action = m_buttons.value(key);
    return action ? action->property("imageKey").toString() : QString();
}

// ---- progress and messages

void VmStatusBar::ShowProgress(bool visible) {
    m_progress->setValue(0);
    m_progressVisible = visible;
    relayout();
}

void VmStatusBar::SetProgressPercent(int percent) {
    if (percent < 0 || percent > 100)
        return;
    m_progress->setValue(percent);
}

int VmStatusBar::ProgressPercent() const {
    return m_progress->value();
}

void VmStatusBar::setFieldColors(QLabel* label, quint32 fore, quint32 back) {
    const QColor text = IsSystemColor(fore) ? palette().color(QPalette::WindowText) : ToQColor(fore);
    const QColor ground = IsSystemColor(back) ? palette().color(QPalette::Window) : ToQColor(back);
    QPalette p = label->palette();
    // The same colours come with every record; setting them again would restyle the label.
    if (p.color(QPalette::WindowText) == text && p.color(QPalette::Window) == ground)
        return;
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Window, ground);
    label->setPalette(p);
}

void VmStatusBar::setMessage(MessageField& field, const QString& text, quint32 fore, quint32 back) {
    QString shown = text + QLatin1Char(' ');
    shown.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    // Setting the same message again must not repaint: the main window repeats
    // its messages on every timer tick.
    if (shown == field.text && fore == field.fore && back == field.back)
        return;
    const bool sameText = shown == field.text;
    field.text = shown;
    field.label->setText(shown);
    // A message longer than its field can still be read in full.
    field.label->setToolTip(shown.trimmed());
    field.fore = fore;
    field.back = back;
    setFieldColors(field.label, fore, back);
    if (!sameText)
        relayout(); // the messages share their row by what each has to say
    else
        fitMessage(field);
    field.label->repaint();
}

// The end of a message (a saved image's file name) matters most: a message wider than
// its field loses its middle.
void VmStatusBar::fitMessage(MessageField& field) {
    const int room = field.label->contentsRect().width();
    const QString fitted = field.label->fontMetrics().elidedText(field.text, Qt::ElideMiddle, room);
    if (field.label->text() != fitted)
        field.label->setText(fitted);
}

void VmStatusBar::SetInfoMsg(const QString& text, quint32 foreColor, quint32 backColor) {
    setMessage(m_info, text, foreColor, backColor);
}

void VmStatusBar::SetStatusMsg(const QString& text, quint32 foreColor, quint32 backColor) {
    setMessage(m_status, text, foreColor, backColor);
}

QString VmStatusBar::StatusMsgText() const {
    return m_status.text;
}
QString VmStatusBar::InfoMsgText() const {
    return m_info.text;
}

// ---- trigger

void VmStatusBar::ShowWaitingForTrigger(bool show) {
    m_waiting = show;
    relayout();
}

void VmStatusBar::SetTriggerToolTip(const QString& text) {
    m_sendVTrigger->setToolTip(text);
}

// ---- layout

QSize VmStatusBar::sizeHint() const {
    const int height = std::max({fontMetrics().height() + 10, m_sendVTrigger->sizeHint().height(),
                                 m_toolbar->sizeHint().height(), 24});
    return {900, height};
}

QSize VmStatusBar::minimumSizeHint() const {
    return {200, sizeHint().height()};
}

void VmStatusBar::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    relayout();
}

void VmStatusBar::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        relayout();
}

void VmStatusBar::relayout() {
    if (!m_built)
        return;
    const int h = height();
    const int top = 1;
    const int rowHeight = std::max(0, h - 2);
    int right = width() - 2;
    auto place = [&](QWidget* w, int width) {
        right -= width;
        w->setGeometry(right, top, width, rowHeight);
        right -= 2;
    };
    auto textWidth = [](const QLabel* label, const QString& sample) {
        return label->fontMetrics().horizontalAdvance(sample) + kTextPadding;
    };
    const QString counterSample(kCounterDigits, QLatin1Char('0'));

    // From the right: Fail, Pass, Total (caption then value), the grey field,
    // the cursor caption and field, the toolbar, the virtual-trigger area.
    for (auto [caption, value] : {std::pair{m_failLabel, m_failField}, std::pair{m_passLabel, m_passField},
                                  std::pair{m_totalLabel, m_totalField}}) {
        place(value, std::max(textWidth(value, counterSample), textWidth(value, value->text())));
        place(caption, textWidth(caption, caption->text()));
    }
    place(m_grayField, textWidth(m_grayField, QStringLiteral("0000")));
    place(m_cursorField, textWidth(m_cursorField, QStringLiteral("000,000")));
    place(m_cursorLabel, textWidth(m_cursorLabel, m_cursorLabel->text()));
    place(m_toolbar, m_toolbar->sizeHint().width());

    m_sendVTrigger->setVisible(!m_waiting);
    m_waitTriggerMsg->setVisible(m_waiting);
    if (m_waiting)
        place(m_waitTriggerMsg, textWidth(m_waitTriggerMsg, m_waitTriggerMsg->text()));
    else
        place(m_sendVTrigger, m_sendVTrigger->sizeHint().width());

    place(m_spacer, kSpacerWidth);
    // The messages share what is left: the status message (or the progress bar
    // in its place) first, then the information message.
    const int left = 2;
    const int remaining = std::max(0, right - left);
    // Each message gets what its text needs when both fit; otherwise the row is
    // shared in proportion, so that a lone message (a saved image's path) is whole.
    const int statusNeed = m_progressVisible ? remaining / 2 : messageWidth(m_status);
    const int infoNeed = messageWidth(m_info);
    int statusWidth = remaining / 2;
    if (statusNeed + infoNeed + 2 <= remaining)
        statusWidth = statusNeed;
    else if (statusNeed + infoNeed > 0)
        statusWidth = int(qint64(remaining) * statusNeed / (statusNeed + infoNeed));
    m_status.label->setGeometry(left, top, statusWidth, rowHeight);
    m_progress->setGeometry(left, top, statusWidth, rowHeight);
    m_info.label->setGeometry(left + statusWidth + 2, top, std::max(0, remaining - statusWidth - 2),
                              rowHeight);
    m_status.label->setVisible(!m_progressVisible);
    m_progress->setVisible(m_progressVisible);
    fitMessage(m_status);
    fitMessage(m_info);
}

} // namespace vm::shell
