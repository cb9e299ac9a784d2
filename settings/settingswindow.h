#pragma once

#include "app/prompts.h"
#include "app/windowregistry.h"
#include "settings/controls.h"

#include <QDialog>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QGridLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vm::link {
class Connection;
class ParameterSet;
} // namespace vm::link

namespace vm::settings {

// Counts a window's own writes to its controls; while one is alive the control
// handlers leave the reader's values alone.
class ScopedFlag {
public:
    explicit ScopedFlag(int& depth)
        : m_depth(depth) {
        ++m_depth;
    }
    ~ScopedFlag() { --m_depth; }
    ScopedFlag(const ScopedFlag&) = delete;
    ScopedFlag& operator=(const ScopedFlag&) = delete;

private:
    int& m_depth;
};

// One entry of a list bound to a reader field: the text shown, the word written, and
// further words that select it when the reader reports them.
struct Choice {
    QString text;
    QString value;
    QStringList alsoReads = {};
};

// The entry of a settings dialog opened from the Settings menu: the item at `position`
// (see MenuPlace), enabled with a reader and asking for control before it opens.
template <typename Window>
vm::app::WindowEntry settingsMenuWindow(const char* name, int position, const char* key,
                                        const QString& caption) {
    vm::app::WindowEntry registered;
    registered.name = QLatin1String(name);
    registered.factory = [](QWidget* parent) -> QWidget* { return new Window(parent); };
    registered.menu.menu = vm::app::Menu::Settings;
    registered.menu.position = position;
    registered.menu.group = 1;
    registered.menu.key = QLatin1String(key);
    registered.menu.caption = caption;
    registered.menu.rule = vm::app::ItemRule::Control;
    return registered;
}

// The trigger frame that the application mode and IO settings windows share: the
// trigger check box and the edge list with its label, bound to "TRIG" and "TE" by the
// window that builds it.
struct TriggerFrame {
    QGroupBox* frame = nullptr;
    QGridLayout* grid = nullptr; // rows from 2 on are the window's own
    QCheckBox* enabled = nullptr;
    QLabel* edgeLabel = nullptr;
    QComboBox* edge = nullptr;
};

// The whole number at the start of a text, as the reader windows read what the operator
// typed: blanks skipped, an optional sign, then digits; 0 when there are none.
qint64 leadingNumber(const QString& text);

// The message for a text that cannot travel as one quoted field (link/fields.h
// isQuotableText), naming the box it was typed in; empty when it can.
QString unquotableMessage(const QString& text, const QString& boxName);

// What a window's check before an apply found: nothing, or the message for the operator
// and the control to put the focus on.
struct Validation {
    QString message;
    QWidget* focus = nullptr;
    // The box's title (empty: the program's) and icon, where the window's messages have their own.
    QString title = {};
    vm::app::PromptIcon icon = vm::app::PromptIcon::Exclamation;
    bool passed() const { return message.isEmpty(); }
};

// One control declared to the base: the reader field it shows and, through the calls
// below, the firmware level from which the reader has it, the group it is enabled with
// and the labels that follow it.
class Declared {
public:
    // Below `level` the reader has no such field: the control and its labels are hidden
    // and the field is neither read nor written.
    Declared& fromLevel(int level) {
        m_fromLevel = level;
        return *this;
    }
    // Enabled, besides programming control, only while the group's rule holds (see
    // SettingsWindow::declareGroup).
    Declared& inGroup(int group) {
        m_group = group;
        return *this;
    }
    // Captions that are shown, hidden and greyed with the control (not with control).
    Declared& withLabels(QList<QWidget*> labels) {
        m_labels += labels;
        return *this;
    }
    QWidget* control() const { return m_control; }
    const QString& parameter() const { return m_parameter; }
    int field() const { return m_field; }

private:
    friend class SettingsWindow;
    QWidget* m_control = nullptr;
    QString m_parameter;
    int m_field = 0;
    int m_fromLevel = 0;
    int m_group = 0;
    QList<QWidget*> m_labels;
    std::function<void()> m_show;
    std::function<void()> m_commit;
    // The control's own check before an apply: empty, or the message for the operator.
    std::function<QString()> m_check;
};

// The pattern every settings window repeats: its own connection to the focused reader
// and its own parameter set, loaded on opening, on a connection reset and on the
// broadcasts the window names; controls filled under the updating flag so that their
// handlers ignore the program's own writes; OK and Apply enabled while the PC holds
// control and something changed; changes handed to the apply routine, refusals shown to
// the operator, the window's broadcasts sent after a change went out (and its own
// ignored when they come back); unloaded once, storing its place.
//
// A window derives from it, builds its controls and declares each one (the bind
// helpers): the reader field it shows, its kind, the firmware level from which it exists
// and the group it is enabled with. The base fills, enables and writes them, and handles
// what goes wrong the same way for every window:
// - a parameter the reader did not answer keeps its controls as they were, greyed and
//   marked, and the window names it; nothing of it is written back;
// - a refused or lost write is shown with the reader's reason, and in a window that sends
//   at once the control goes back to what the reader holds;
// - control lost while edits wait tells the operator that they were not sent.
class SettingsWindow : public QDialog {
    Q_OBJECT
public:
    enum class Mode {
        OkApply,   // changes collect until Apply or OK
        OkCancel,  // changes collect until OK; no Apply
        Immediate, // every change goes to the reader at once; no OK or Apply
        ReadOnly,  // shows what the reader holds; changes nothing
    };
    // Image: the window also follows the photometry of each record.
    enum class ConnectionKind { Settings, Reader, Image };

    // How a text field travels: as it is; in one pair of double quotes; in quotes that
    // are taken off by dropping the first and last character whatever they are; or in one
    // pair, a text read without it losing every quote (link/fields.h unquoteOrStrip).
    enum class Quotes { None, Pair, DropEnds, PairOrStrip };
    // How long a broadcast waits before it reloads the window, so that the reload runs
    // outside the event that announced the change.
    static constexpr int kBroadcastReloadMs = 100;
    // The dynamic property set on a control whose parameter the reader did not answer.
    static constexpr const char* kNotReadProperty = "vmNotRead";

    ~SettingsWindow() override;

    // Loads the window unless it has been loaded; showing it does this too.
    void ensureLoaded();
    // Loads everything from the reader now, dropping edits not yet sent.
    void reload();
    // Hands the changes to the reader (the Apply button). True when every change was
    // accepted; nothing goes out without programming control.
    bool apply();

    bool isModified() const;
    bool isLoaded() const { return m_loadCount > 0; }
    int loadCount() const { return m_loadCount; }
    vm::link::ParameterSet& parameters() { return *m_set; }
    const vm::link::ParameterSet& parameters() const { return *m_set; }
    vm::link::Connection* connection() const { return m_conn.get(); }
    QPushButton* okButton() const { return m_ok; }
    QPushButton* cancelButton() const { return m_cancel; }
    QPushButton* applyButton() const { return m_apply; }
    // The parameters the last load could not read from the reader.
    const QStringList& notRead() const { return m_notRead; }
    // The controls the window declared, in the order it declared them.
    QList<const Declared*> declaredControls() const;

    // Closing unloads: the connection goes, then the window's place is stored.
    void done(int result) override;

signals:
    // A load has finished (also when no reader was connected).
    void loaded();
    // An apply has finished; ok is false when the reader refused something.
    void applied(bool ok);

protected:
    SettingsWindow(const QString& name, Mode mode, QWidget* parent = nullptr,
                   ConnectionKind kind = ConnectionKind::Settings);

    // The reader parameters the window shows, loaded in this order. The default is
    // every parameter a declared control shows at the reader's level, in the order of
    // declaration.
    virtual QStringList parametersToLoad() const;
    // Loads from the reader (the set has just been emptied); the default loads
    // parametersToLoad() while a reader is connected. A window that needs more (a
    // directory listing, compound names) overrides it and may call the default.
    virtual void loadParameters();
    // Fills the window's own controls from the set; the declared controls are filled
    // before it. Runs with the updating flag set.
    virtual void refresh() {}
    // Broadcast words that reload the whole window.
    virtual QStringList reloadOn() const { return {}; }
    // Any other broadcast from another window.
    virtual void broadcastReceived(const QString& message, const QString& text);
    // Broadcast words sent, in this order, after changes went to the reader.
    virtual QStringList broadcastsAfterApply() const { return {}; }
    // Enables the window's own controls by control, after the base has enabled and shown
    // the declared ones (by control, loaded parameter, group and firmware level). OK and
    // Apply are the base's.
    virtual void applyControlState(bool control) { Q_UNUSED(control); }
    // Writes what the window's own controls hold into the set before an apply (for
    // windows that write on Apply rather than on each change); false stops the apply.
    virtual bool writeControls() { return true; }
    // Checks the values before they go out; a failed check is shown to the operator, the
    // focus goes to its control and nothing is sent.
    virtual Validation validate() { return {}; }
    // Parameters the window writes in full without reading them first (commands and
    // write-only parameters); every other parameter is written only once it was read.
    virtual QStringList writtenWithoutReading() const { return {}; }
    // Windows that ignore control changes (they only load on a reset) return false.
    virtual bool followsControl() const { return true; }
    // Whether the operator may work the declared controls now: by default while the PC holds
    // programming control. A window whose inputs have a rule of their own (settings prepared
    // without control that OK sends only with it, or control read once when it opens) says so.
    virtual bool inputsAllowed() const { return hasControl(); }
    // Whether OK can be pressed now: by default while the PC holds control and something
    // changed.
    virtual bool okAllowed() const { return hasControl() && isModified(); }
    // What OK does: by default it applies and closes once everything went through. A window
    // whose OK does more than send (takes the reader off line around it, stores this PC's
    // own settings) does that here.
    virtual void okPressed();
    // Windows whose failed applies end without a message return false.
    virtual bool reportsRefusals() const { return true; }
    // The parameters whose changes wait to be sent: by default those modified in the set. A
    // window that puts its controls into the set only when it sends names what differs.
    virtual QStringList unsentChanges() const { return pendingNames(); }
    // The parameters modified in the set and not yet sent.
    QStringList pendingNames() const;

    // For the window's handlers.
    bool updating() const { return m_updating > 0; }
    [[nodiscard]] ScopedFlag updateGuard() { return ScopedFlag(m_updating); }
    bool loading() const { return m_loading > 0; }
    bool hasControl() const;
    bool isConnected() const;
    // The focused reader's firmware level (0 without a reader).
    int readerLevel() const;
    // The reader answered this parameter in the last load.
    bool wasRead(const QString& parameter) const;
    // An operator change went into the set: OK and Apply come on, or in immediate mode
    // it goes to the reader at once.
    void markModified();
    // The operator is typing; the value goes into the set when the field is left.
    void markEdited();
    // Fills every control from the set under the updating flag, then the control state.
    void refreshDisplay();
    // Enables and shows the declared controls, then the window's own (applyControlState).
    void updateControlState();
    // Loads one more parameter into the set; false (with the reason) when the reader
    // did not answer it, and the window then names it as not read.
    bool load(const QString& name, QString* error = nullptr);
    // The same for a name of several keywords ("OUTPUT TCP1 OKDEC").
    bool loadCompound(const QString& name, QString* error = nullptr);
    // Names as not read something the window asks for without load() (a block of text, a
    // listing) when the reader did not answer it in full; the next load forgets it.
    void markNotRead(const QString& name);
    // OK, Cancel and Apply under these object names (the window's own names for them).
    void setButtonNames(const QString& ok, const QString& cancel, const QString& apply);
    // The OK, Cancel and Apply row for the window's layout (empty in the other modes),
    // with the note that names what could not be read or was not sent above it.
    QWidget* buttonBox() const {
        m_footerPlaced = true;
        return m_footer;
    }

    // A rule for a group of controls: they are enabled (with control) only while it holds.
    void declareGroup(int group, std::function<bool()> rule);

    // Declarations of a control that shows one field of a reader parameter. The base
    // fills the control on every refresh and writes the field when the operator changes
    // it.
    // A list: selecting an entry writes its word; the entry whose word (or one of its
    // alsoReads) the reader reports is selected. `allow` may refuse a choice, which then
    // writes nothing.
    Declared& bindChoice(QComboBox* list, const QString& parameter, int field, const QList<Choice>& choices,
                         std::function<bool(const Choice&)> allow = {});
    // The same for a list whose entries depend on the reader (its firmware level): the
    // entries are asked for again, and the list refilled, on every refresh.
    Declared& bindChoice(QComboBox* list, const QString& parameter, int field,
                         std::function<QList<Choice>()> choices,
                         std::function<bool(const Choice&)> allow = {});
    // A check box: checked writes `on`, cleared writes `off`; checked when the field is `on`.
    Declared& bindCheck(QCheckBox* box, const QString& parameter, int field, const QString& on,
                        const QString& off);
    // A number box: when the field is left its text is read as a whole number (0 when it
    // is none) and held to min..max; with a message, a value out of range also tells the
    // operator so.
    Declared& bindNumber(QLineEdit* box, const QString& parameter, int field, qint64 min, qint64 max,
                         const QString& rangeMessage = QString());
    // A text box of at most maxLength characters (0: no limit); the text goes into the
    // field when the box is left.
    Declared& bindText(QLineEdit* box, const QString& parameter, int field, Quotes quotes, int maxLength = 0);
    // A control the window fills and writes itself, declared so that the base enables,
    // hides and marks it with its parameter.
    Declared& declare(QWidget* control, const QString& parameter, int field = 0);
    // Writes pending typed values into the set (Apply does this first).
    void commitEdits();
    // Builds the trigger frame and binds its check box and edge list.
    TriggerFrame addTriggerFrame();

    void showEvent(QShowEvent* event) override;

private:
    void onConnectionReset();
    void onControlStatusChanged();
    void onBroadcast(const QString& sender, const QString& message, const QString& text);
    void updateButtons();
    void updateNote();
    void unload();
    Declared& addDeclared(QWidget* control, const QString& parameter, int field);
    bool loadWith(const QString& name, QString* error,
                  const std::function<bool(const QString&, QString*)>& loader);
    bool exists(const Declared& d) const;
    // A typed box: marks the edit, and writes it when the box is left.
    void connectTypedBox(QLineEdit* box, const std::shared_ptr<bool>& edited,
                         const std::function<void()>& commit);
    // Takes back, without sending them, changes to parameters the reader never answered.
    QStringList dropUnreadChanges();

    Mode m_mode;
    std::unique_ptr<vm::link::Connection> m_conn;
    std::unique_ptr<vm::link::ParameterSet> m_set;
    std::vector<std::unique_ptr<Declared>> m_declared;
    QHash<int, std::function<bool()>> m_groups;
    QStringList m_notRead;
    QStringList m_notSent; // edits waiting when control was lost
    bool m_notSentPending = false;
    QWidget* m_footer = nullptr;
    mutable bool m_footerPlaced = false;
    QLabel* m_note = nullptr;
    QDialogButtonBox* m_buttons = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_apply = nullptr;
    QTimer m_broadcastReload;
    int m_updating = 0;
    int m_loading = 0;
    int m_loadCount = 0;
    bool m_edited = false;
    bool m_reloadAgain = false;
    bool m_hadControl = false;
    int m_applying = 0;
    bool m_unloaded = false;
};

} // namespace vm::settings
