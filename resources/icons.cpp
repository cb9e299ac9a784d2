#include "resources/icons.h"

#include "resources/strings.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <functional>

namespace vm::res {

namespace {

using Painter = std::function<void(QPainter&)>;

const QColor kInk(45, 55, 72);
const QColor kOff(150, 155, 165);
const QColor kOn(40, 160, 70);
const QColor kControl(235, 140, 20);
const QColor kBlue(30, 110, 210);

QIcon paint(const Painter& draw) {
    QIcon icon;
    for (int size : {16, 24, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 32.0, size / 32.0);
        draw(p);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

// A reader: a box with a lens, in the state's colour.
void camera(QPainter& p, const QColor& body) {
    p.setPen(QPen(kInk, 1.5));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(3, 9, 20, 15), 3, 3);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(13, 16.5), 4.5, 4.5);
    p.setBrush(kInk);
    p.drawEllipse(QPointF(13, 16.5), 2, 2);
}

void serialBadge(QPainter& p) {
    p.setPen(QPen(kInk, 1.2));
    p.setBrush(QColor(250, 250, 250));
    p.drawRoundedRect(QRectF(20, 19, 11, 9), 2, 2);
    p.setBrush(kInk);
    for (int i = 0; i < 3; ++i)
        p.drawEllipse(QPointF(22.5 + i * 3, 23.5), 0.9, 0.9);
}

void networkBadge(QPainter& p) {
    p.setPen(QPen(kInk, 1.4));
    p.drawLine(QPointF(25.5, 20), QPointF(25.5, 29));
    p.drawLine(QPointF(21, 29), QPointF(30, 29));
    p.setBrush(QColor(250, 250, 250));
    p.drawRect(QRectF(22, 17, 7, 5));
}

void key(QPainter& p, const QColor& colour) {
    p.setPen(QPen(kInk, 1.3));
    p.setBrush(colour);
    p.drawEllipse(QPointF(10, 12), 6, 6);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(10, 12), 2, 2);
    QPainterPath shaft;
    shaft.moveTo(14, 16);
    shaft.lineTo(27, 27);
    p.setPen(QPen(colour.darker(140), 3.2, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(shaft);
    p.drawLine(QPointF(22, 23), QPointF(19.5, 26));
    p.drawLine(QPointF(25, 25.5), QPointF(22.5, 28.5));
}

void plus(QPainter& p) {
    p.setPen(QPen(kOn.darker(120), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(25, 2.5), QPointF(25, 11.5));
    p.drawLine(QPointF(20.5, 7), QPointF(29.5, 7));
}

void document(QPainter& p, const QString& label, const QColor& colour) {
    p.setPen(QPen(kInk, 1.3));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(6, 3, 20, 26));
    p.setPen(colour);
    QFont f = p.font();
    f.setPixelSize(9);
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRectF(6, 10, 20, 12), Qt::AlignCenter, label);
}

void sun(QPainter& p) {
    p.setPen(QPen(kControl, 2, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 8; ++i) {
        p.save();
        p.translate(16, 16);
        p.rotate(i * 45);
        p.drawLine(QPointF(0, -10), QPointF(0, -14));
        p.restore();
    }
    p.setBrush(QColor(255, 205, 60));
    p.setPen(QPen(kControl.darker(120), 1.2));
    p.drawEllipse(QPointF(16, 16), 7, 7);
}

void dataMatrix(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawRect(QRectF(4, 4, 2.5, 24));
    p.drawRect(QRectF(4, 25.5, 24, 2.5));
    for (int i = 0; i < 8; ++i) {
        p.drawRect(QRectF(6.5 + i * 3, 4, 1.5 + (i % 2), 1.5 + ((i + 1) % 2)));
        p.drawRect(QRectF(26.5, 6.5 + i * 2.4, 1.5, 1.2 + (i % 2)));
    }
    const int cells[][2] = {{9, 9},   {14, 10}, {19, 8},  {11, 15}, {17, 16},
                            {21, 13}, {9, 20},  {15, 21}, {21, 20}};
    for (const auto& c : cells)
        p.drawRect(QRectF(c[0], c[1], 3, 3));
}

void roiFrame(QPainter& p) {
    p.setPen(QPen(kBlue, 1.6, Qt::DashLine));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(5, 7, 22, 18));
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    for (const QPointF c : {QPointF(5, 7), QPointF(27, 7), QPointF(5, 25), QPointF(27, 25)})
        p.drawRect(QRectF(c.x() - 2, c.y() - 2, 4, 4));
}

void play(QPainter& p, const QColor& colour) {
    p.setPen(QPen(kInk, 1.3));
    p.setBrush(colour);
    QPolygonF triangle;
    triangle << QPointF(9, 6) << QPointF(26, 16) << QPointF(9, 26);
    p.drawPolygon(triangle);
}

void downArrow(QPainter& p) {
    p.setPen(QPen(kBlue, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(QPointF(16, 4), QPointF(16, 22));
    p.drawLine(QPointF(9, 15), QPointF(16, 22));
    p.drawLine(QPointF(23, 15), QPointF(16, 22));
    p.setPen(QPen(kInk, 2));
    p.drawLine(QPointF(6, 28), QPointF(26, 28));
}

void terminal(QPainter& p) {
    p.setPen(QPen(kInk, 1.4));
    p.setBrush(QColor(30, 34, 40));
    p.drawRoundedRect(QRectF(3, 5, 26, 22), 2, 2);
    p.setPen(QPen(QColor(110, 230, 120), 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(8, 12), QPointF(12, 16));
    p.drawLine(QPointF(12, 16), QPointF(8, 20));
    p.drawLine(QPointF(15, 21), QPointF(22, 21));
}

void filmstrip(QPainter& p) {
    p.setPen(QPen(kInk, 1.2));
    p.setBrush(QColor(60, 65, 75));
    p.drawRect(QRectF(3, 7, 26, 18));
    p.setBrush(QColor(200, 210, 225));
    for (int i = 0; i < 3; ++i)
        p.drawRect(QRectF(5 + i * 8.3, 11, 6.5, 10));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    for (int i = 0; i < 6; ++i) {
        p.drawRect(QRectF(5 + i * 4.3, 8, 2, 1.8));
        p.drawRect(QRectF(5 + i * 4.3, 22.2, 2, 1.8));
    }
}

void sliders(QPainter& p) {
    p.setPen(QPen(kInk, 1.6));
    for (int i = 0; i < 3; ++i)
        p.drawLine(QPointF(5, 8 + i * 8), QPointF(27, 8 + i * 8));
    p.setBrush(kBlue);
    const double knobs[] = {20, 10, 16};
    for (int i = 0; i < 3; ++i)
        p.drawRoundedRect(QRectF(knobs[i] - 2.5, 5 + i * 8, 5, 6), 1, 1);
}

void chart(QPainter& p) {
    p.setPen(QPen(kInk, 1.4));
    p.drawLine(QPointF(4, 4), QPointF(4, 28));
    p.drawLine(QPointF(4, 28), QPointF(29, 28));
    p.setPen(QPen(kOn, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPolygonF line;
    line << QPointF(6, 22) << QPointF(12, 14) << QPointF(18, 18) << QPointF(27, 7);
    p.drawPolyline(line);
}

void network(QPainter& p) {
    p.setPen(QPen(kInk, 1.4));
    p.drawLine(QPointF(16, 9), QPointF(16, 16));
    p.drawLine(QPointF(7, 16), QPointF(25, 16));
    p.drawLine(QPointF(7, 16), QPointF(7, 21));
    p.drawLine(QPointF(25, 16), QPointF(25, 21));
    p.setBrush(kBlue);
    p.drawRect(QRectF(11, 3, 10, 7));
    p.setBrush(kOn);
    p.drawRect(QRectF(2, 21, 10, 7));
    p.drawRect(QRectF(20, 21, 10, 7));
}

// A clock over a falling line: what was read, kept over time.
void history(QPainter& p) {
    p.setPen(QPen(kInk, 1.4));
    p.drawEllipse(QRectF(3, 3, 14, 14));
    p.drawLine(QPointF(10, 10), QPointF(10, 6));
    p.drawLine(QPointF(10, 10), QPointF(13, 11));
    p.drawLine(QPointF(4, 28), QPointF(29, 28));
    p.setPen(QPen(kControl, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPolygonF line;
    line << QPointF(13, 19) << QPointF(19, 21) << QPointF(23, 20) << QPointF(28, 25);
    p.drawPolyline(line);
}

const QHash<QString, Painter>& painters() {
    static const QHash<QString, Painter> table = {
        {QStringLiteral("addcamera"),
         [](QPainter& p) {
             camera(p, kOff.lighter(120));
             plus(p);
         }},
        {QStringLiteral("control"), [](QPainter& p) { key(p, kOff); }},
        {QStringLiteral("havecontrol"), [](QPainter& p) { key(p, kControl); }},
        {QStringLiteral("netdisconnected"),
         [](QPainter& p) {
             camera(p, kOff);
             networkBadge(p);
         }},
        {QStringLiteral("netconnected"),
         [](QPainter& p) {
             camera(p, kOn);
             networkBadge(p);
         }},
        {QStringLiteral("netcontrol"),
         [](QPainter& p) {
             camera(p, kControl);
             networkBadge(p);
         }},
        {QStringLiteral("serialdisconnected"),
         [](QPainter& p) {
             camera(p, kOff);
             serialBadge(p);
         }},
        {QStringLiteral("serialconnected"),
         [](QPainter& p) {
             camera(p, kOn);
             serialBadge(p);
         }},
        {QStringLiteral("serialcontrol"),
         [](QPainter& p) {
             camera(p, kControl);
             serialBadge(p);
         }},
        {QStringLiteral("report"), [](QPainter& p) { document(p, QStringLiteral("REP"), kBlue); }},
        {QStringLiteral("live"), [](QPainter& p) { play(p, kOn); }},
        {QStringLiteral("grab"), [](QPainter& p) { downArrow(p); }},
        {QStringLiteral("exposure"), [](QPainter& p) { sun(p); }},
        {QStringLiteral("quicklearn"), [](QPainter& p) { dataMatrix(p); }},
        {QStringLiteral("roi"), [](QPainter& p) { roiFrame(p); }},
        {QStringLiteral("tif"),
         [](QPainter& p) { document(p, QStringLiteral("TIF"), kControl.darker(120)); }},
        {QStringLiteral("cam"), [](QPainter& p) { camera(p, kBlue); }},
        {QStringLiteral("terminal"), [](QPainter& p) { terminal(p); }},
        {QStringLiteral("reports"), [](QPainter& p) { document(p, QStringLiteral("REP"), kBlue); }},
        {QStringLiteral("filmstrip"), [](QPainter& p) { filmstrip(p); }},
        {QStringLiteral("tune"), [](QPainter& p) { sliders(p); }},
        {QStringLiteral("chart"), [](QPainter& p) { chart(p); }},
        {QStringLiteral("network"), [](QPainter& p) { network(p); }},
        {QStringLiteral("history"), [](QPainter& p) { history(p); }},
    };
    return table;
}

} // namespace

bool hasIcon(const QString& key) {
    return painters().contains(key);
}

QIcon Icon(const QString& key) {
    static QHash<QString, QIcon> cache;
    const auto cached = cache.constFind(key);
    if (cached != cache.constEnd())
        return *cached;
    const auto painter = painters().constFind(key);
    if (painter == painters().constEnd()) {
        qCWarning(lcResources) << "No image with key" << key;
        return QIcon();
    }
    const QIcon icon = paint(*painter);
    cache.insert(key, icon);
    return icon;
}

} // namespace vm::res
