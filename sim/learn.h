#pragma once

#include <QImage>
#include <QList>
#include <QPair>
#include <QPolygonF>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace vm::sim {

class FieldReader;

// What the next read cycle is asked to learn.
struct LearnRequest {
    bool decoder = false;
    bool photometry = false;
    bool assisted = false;
    QPolygonF region; // assisted learn: where the operator marked the symbol
    int rows = 0;
    int cols = 0;
    QString polarity; // "DL" or "LD" for an assisted learn
};

// "LEARNEX <decoder> <photometry>", "LEARNASSIST x0 y0 .. x3 y3 rows cols pol",
// "LEARN BOTH". Returns nothing and fills error for a malformed command.
std::optional<LearnRequest> parseLearnCommand(const QStringList& words, QString* error);

struct LearnOutcome {
    // -1 no decoder learn, 0 failed, 1 barcode learned, 2 matrix symbol learned;
    // plus 4 when photometry was learned.
    int code = -1;
    QList<QPair<QString, QStringList>> writes; // parameters the learn changes
    int exposure = 0;
    int gain = 0;
};

// Takes one picture of the scene in front of the reader with the given
// exposure and gain, preprocessed as for decoding; `good` reports whether the
// raw picture was well exposed.
using Shooter = std::function<QImage(int exposure, int gain, bool* good)>;

LearnOutcome runLearn(const LearnRequest& request, const FieldReader& fields, const Shooter& shoot,
                      int currentExposure, int currentGain);

// The decoder settings an "UNLEARN" puts back.
QList<QPair<QString, QStringList>> unlearnWrites();

} // namespace vm::sim
