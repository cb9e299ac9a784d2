#pragma once

#include "app/windowregistry.h"
#include "settings/settingswindow.h"

#include <QHash>
#include <QList>
#include <QSet>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;

namespace vm::io {

// A tag a line can carry: the reader's word and whether it is an input function.
struct IOTag {
    const char* word;
    bool input;
};
// Tags 1 to 28 (the list's entry 0 is the empty "unassigned").
const QList<IOTag>& ioTags();
// How many tags a reader of this firmware level offers (19, 20, 24 or 28).
int offeredTagCount(int firmwareLevel);
// The criterion types, in list order; types 4 to 6 are for inputs.
const QStringList& criterionTypes();
// Captions of the two arguments of a type ("" when the argument is not used).
QPair<QString, QString> argumentCaptions(int type);

// The IO assignment dialog: what drives each of the reader's seven lines (a tag, the
// criterion that makes it true, the polarity) and what the input line does (trigger
// delay, latch, the PID it selects). Apply sends every line as the window shows it, so
// that the reader's lines are exactly these; it also shows each line's live state as the
// reader reports it.
class frmIOAssign final : public vm::settings::SettingsWindow {
    Q_OBJECT
    // Read by the application mode window before it gives GPIO 1 to external lights.
    Q_PROPERTY(int gpio1Selection READ gpio1Selection)
public:
    static constexpr const char* WindowName = "frmIOAssign";
    static constexpr int kLineCount = 7;
    static constexpr int kFirstGpioLine = 3;
    static constexpr qint64 kInputArgumentMax = 10000;

    explicit frmIOAssign(QWidget* parent = nullptr);
    static vm::app::WindowEntry windowEntry();

    int gpio1Selection() const;
    // A line's word in the reader commands ("OPTO_OUT1" ... "GPIO_OUT4").
    static QString lineWord(int line);
    // What the window shows for a line: its frame caption, tag, type and arguments.
    QString frameCaption(int line) const;
    QString lineState(int line) const;

private:
    struct Line {
        QGroupBox* frame = nullptr;
        QComboBox* tag = nullptr;
        QComboBox* type = nullptr;
        QLabel* arg1Label = nullptr;
        QLineEdit* arg1 = nullptr;
        QLabel* arg2Label = nullptr;
        QLineEdit* arg2 = nullptr;
        QCheckBox* polarity = nullptr;
        QLabel* pidLabel = nullptr;
        QComboBox* pid = nullptr; // general-purpose lines only
        QLabel* state = nullptr;  // the line's live state
    };
    struct Criterion {
        QString type;
        QString arg1;
        QString arg2;
    };

    // Enable groups, three per line from here: its criterion (known for the tag it carries)
    // and each of its two arguments (the criterion's type uses it).
    static constexpr int kLineGroups = 10;

    void loadParameters() override;
    void refresh() override;
    bool writeControls() override;
    QStringList writtenWithoutReading() const override;
    // The dialog's lines do not follow programming control (OK and Apply do).
    bool followsControl() const override { return false; }
    bool inputsAllowed() const override { return true; }
    // The lines go into the set only at Apply: what waits is what differs from the reader.
    QStringList unsentChanges() const override;
    // Each parameter the window writes, with the fields its lines show.
    struct Shown {
        QString parameter;
        QStringList fields;
    };
    QList<Shown> shownFields() const;

    void buildControls();
    void fillTagLists();
    void fillPidLists();
    void tagChosen(int line, int index);
    void typeChosen(int line, int index);
    void argumentLeft(int line, int which);
    void unassign(int line);
    void setType(int line, int type);
    void presentInput(int line);
    bool externalLightingInUse();
    bool isInputTag(int tagIndex) const;
    // The tag a line carries ("" for none), and whether the window knows its criterion: read
    // from the reader, or set by the operator choosing the tag.
    QString tagOf(int line) const;
    bool criterionKnown(int line) const;
    void lineStateChanged(const QString& line, bool active, bool high);
    // The operator changed something: the enable groups follow, OK and Apply come on.
    void edited();

    QList<Line> m_lines;
    QLineEdit* m_delay = nullptr;
    QLineEdit* m_latch = nullptr;
    QComboBox* m_inputPid = nullptr;
    QLabel* m_inputState = nullptr;
    QHash<QString, Criterion> m_criteria; // by tag word, as the reader holds them
    QSet<QString> m_chosenTags;           // tags the operator put on a line since the load
    QStringList m_storedPids;
    QHash<QString, QStringList> m_loadedFields; // shownFields() right after the last load
};

} // namespace vm::io
