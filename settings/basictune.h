#pragma once

#include "app/windowregistry.h"
#include "settings/settingswindow.h"

#include <QStringList>
#include <QTimer>

#include <vector>

class QAction;
class QComboBox;
class QLineEdit;
class QStackedWidget;
class QTableWidget;
class QToolBar;

namespace vm::link {
class Record;
}

namespace vm::settings {

// One row of the tuning grid: a field of a reader parameter, its label and its editor.
struct TuneRow {
    enum class Editor { List, Edit, Barcodes };
    int group = 0;
    QString name;
    int field = 0;
    QString label;
    Editor editor = Editor::List;
    QStringList items; // the list's entries
    int minLevel = 0;
    int maxLevel = 99;
};

// The rows a reader of this firmware level shows, in grid order per group.
std::vector<TuneRow> tuneRows(int firmwareLevel);
// The groups a reader of this firmware level has (3, 6, 8 or 9).
int tuneGroupCount(int firmwareLevel);

// The advanced tuning window: the decoder's tuning parameters as a grid per group, each
// change sent at once; the reader's own learn started, cancelled and undone from its
// toolbar.
class BasicTune final : public SettingsWindow {
    Q_OBJECT
public:
    static constexpr const char* WindowName = "BasicTune";
    static constexpr int kUpdateDelayMs = 1000;
    static constexpr int kLearnReleaseMs = 200;
    static constexpr int kCommandTimeoutMs = 500;

    explicit BasicTune(QWidget* parent = nullptr);
    static vm::app::WindowEntry windowEntry();

    int currentGroup() const;
    void selectGroup(int group);
    QTableWidget* grid(int group) const;
    // Opens the in-place editor of a row of the current group, as a click on its value does.
    void editCell(int row);
    QComboBox* comboEditor() const { return m_combo; }
    QLineEdit* textEditor() const { return m_edit; }
    QAction* learnAction() const { return m_learnAction; }
    QAction* unlearnAction() const { return m_unlearnAction; }
    int lastLearnStatus() const { return m_learnStatus; }

private:
    QStringList parametersToLoad() const override;
    void loadParameters() override;
    void refresh() override;
    void broadcastReceived(const QString& message, const QString& text) override;
    void applyControlState(bool control) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

    void buildGrids();
    const TuneRow* rowAt(int group, int row) const;
    void hideEditors();
    void placeEditor();
    void showValues();
    void comboChosen(int index);
    void editCommitted();
    void learnToggled(bool down);
    void unlearnClicked();
    void newRecord(const vm::link::Record& record);
    // The three rows that older readers create but neither load nor show.
    bool shown(const TuneRow& row) const;
    bool readable(const TuneRow& row) const;

    QToolBar* m_toolbar = nullptr;
    QAction* m_learnAction = nullptr;
    QAction* m_unlearnAction = nullptr;
    QComboBox* m_paramSelect = nullptr;
    QStackedWidget* m_stack = nullptr;
    std::vector<QTableWidget*> m_grids;
    QComboBox* m_combo = nullptr;
    QLineEdit* m_edit = nullptr;
    QTimer m_learnTimer;
    QTimer m_updateTimer;

    int m_level = 0;
    std::vector<TuneRow> m_rows;
    const TuneRow* m_editing = nullptr;
    int m_editingRow = -1;
    bool m_calibrated = false;
    QString m_barcodeSummary; // the reader's enabled barcodes, read with the other values
    int m_learnStatus = 0;
    bool m_releasingLearn = false;
};

} // namespace vm::settings
