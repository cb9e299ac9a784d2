#pragma once

#include "sim/catalogue.h"
#include "sim/readcycle.h"

#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>

namespace vm::sim {

// Status codes of the reader's error replies.
enum ReplyCode {
    kReplyOk = 0,
    kErrorUnknown = 1,
    kErrorBadValue = 2,
    kErrorFieldCount = 3,
    kErrorNoControl = 4,
    kErrorLevel = 5,
    kErrorLineTooLong = 6,
    kErrorBusy = 7,
    kErrorFailed = 8,
};

struct WriteResult {
    int code = kReplyOk;
    QString text;
    bool ok() const { return code == kReplyOk; }
};

// Calibration state of one light, kept beside the configuration.
struct LightCalibration {
    bool calibrated = false;
    QString text; // the calibration string, without quotes
    double cellUnit = 100.0;
    double contrastMax = 255; // grey levels, to a tenth
    double contrastMin = 0;
    double reflectance = 0.0; // R_cal
};

// The reader's parameters at its firmware level: current values, factory defaults, the stored
// PIDs and the calibration of each light. Values are kept as the reader answers them (text
// fields with their quotes).
class ParameterStore : public ParameterSource {
public:
    ParameterStore(int firmwareLevel, const QString& readerName, const QString& macAddress,
                   int lightChannels);

    // ParameterSource: the fields of a catalogue parameter, of a calibration view ("CELL_UNIT",
    // "CALIBRATED 90", ...), or of an engine request ("LEARN", "SCENE", "CAPTURE", "IMAGE FILES").
    QStringList fields(const QString& name) const override;
    void setFields(const QString& name, const QStringList& fields) override;
    int firmwareLevel() const override { return m_level; }

    // Checks and stores a write; on failure nothing changes.
    WriteResult write(const ParameterSpec& definition, QStringList tokens);
    // One value checked against a field (normalised into `out`); false with `error` set otherwise.
    static bool normalize(const FieldSpec& field, const QString& token, QString* out, QString* error);

    // Every writable parameter as a command line, in catalogue order.
    QStringList configurationListing() const;
    // The same listing with the factory values; the unit's name and address stay its own.
    QStringList defaultsListing() const;

    void resetGroup(ParameterGroup group);

    // PIDs 1 to 15.
    bool storePid(int pid);
    bool loadPid(int pid);
    QMap<int, QDateTime> storedPids() const;
    // For one retry attempt the reader reads with a stored PID's settings without loading it;
    // false (and no overlay) when the PID is not stored.
    bool beginPidOverlay(int pid);
    void endPidOverlay() { m_overlay = nullptr; }

    // Calibration of the light that LIGHT_CTL selects (the internal light when none is).
    QString currentLight() const;
    LightCalibration calibration(const QString& light) const;
    void setCalibration(const QString& light, const LightCalibration& c);

    int lightChannels() const { return m_lightChannels; }

    // The flash image: saved configuration, PIDs and calibration.
    QJsonObject toJson() const;
    void fromJson(const QJsonObject& o);

    // Called after any parameter changed, with its name.
    void setChangeHandler(std::function<void(const QString&)> handler) { m_onChange = std::move(handler); }

    // Engine requests that are not reader parameters.
    void setRequest(const QString& name, const QStringList& fields);
    void clearRequest(const QString& name) { m_requests.remove(name); }

private:
    using Values = QHash<QString, QStringList>;
    Values defaults() const;
    QStringList listing(const Values& values) const;
    void changed(const QString& name);
    bool crossCheck(const QString& name, const QStringList& fields, QString* error) const;

    int m_level;
    int m_lightChannels;
    QString m_readerName;
    QString m_macAddress;
    Values m_values;
    QMap<int, QPair<QDateTime, Values>> m_pids;
    const Values* m_overlay = nullptr;
    QHash<QString, LightCalibration> m_calibration;
    QHash<QString, QStringList> m_requests;
    std::function<void(const QString&)> m_onChange;
};

// Splits a command line into words: single blanks separate (two blanks give an empty word; other
// white space is part of a word), a word that begins with a double quote runs to the next quote
// followed by a blank or the end, quotes included, and without one to the end of the line.
QStringList splitCommandLine(const QString& line);

// Removes one pair of surrounding double quotes.
QString stripQuotes(const QString& field);

} // namespace vm::sim
