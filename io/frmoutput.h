#pragma once

#include "app/windowregistry.h"
#include "link/record.h"
#include "settings/settingswindow.h"

#include <optional>

class QGroupBox;
class QLabel;
class QLineEdit;
class QTabBar;
class QTableWidget;

namespace vm::io {

class EditFormatString;
class ClickableLabel;

// The event rows of the output windows: caption and reader word.
struct OutputEventRow {
    int caption; // in the string table
    const char* word;
};

// Opens the output window that suits the reader: the older output dialog below firmware
// level 3 (readers 1.0.x), the format editor from level 3 on.
QString outputWindowFor(const vm::app::ReaderInfo& reader);

// The output format editor: for each output port of the reader (STANDARD and TCP1 to TCP4)
// and each read event, whether the port reports it, the format string and the use of the
// port's header and trailer; the port's header and trailer format strings and, on the
// newest readers, the fixed buffer length. A preview shows what the reader would send for
// the last record received.
class frmOutput final : public vm::settings::SettingsWindow {
    Q_OBJECT
public:
    static constexpr const char* WindowName = "frmOutput";
    static constexpr int kFixedMax = 254;
    // The longest format, header or trailer text the reader keeps.
    static constexpr int kLongestText = 128;
    static const QList<OutputEventRow>& events();

    explicit frmOutput(QWidget* parent = nullptr);
    static vm::app::WindowEntry windowEntry();

    QString currentPort() const { return m_port; }
    // The preview line of the row (or the string being edited) for the last record.
    QString previewText() const;

private:
    void loadParameters() override;
    void refresh() override;
    void applyControlState(bool control) override;
    bool writeControls() override;

    void buildControls();
    void loadPort(const QString& port);
    void showPort();
    QString parameterName(int row) const;
    QString headerTrailerName() const;
    QString fixedName() const;
    // The reader answered the parameter in the last load of its port: only then is it shown
    // and edited.
    bool answered(const QString& name) const;
    void tabClicked(int index);
    void gridClicked(int row, int column);
    void labelClicked(bool header);
    void openEditor(const QRect& area, const QString& key, const QString& text);
    void editFinished(const QString& key, const QString& text);
    void hideEditor();
    void fixedLeft();
    void handOver();
    void recordArrived(const vm::link::Record& record);
    void updatePreview();
    void colourRow(int row);

    QTabBar* m_tabstrip = nullptr;
    QTableWidget* m_grid = nullptr;
    QGroupBox* m_enableframe = nullptr;
    ClickableLabel* m_header = nullptr;
    ClickableLabel* m_trailer = nullptr;
    EditFormatString* m_edformat = nullptr;
    QGroupBox* FixedFrame = nullptr;
    QLineEdit* m_fixedBufSize = nullptr;
    QLabel* lblFixedState = nullptr;
    QLabel* m_preview = nullptr;
    QString m_port = QStringLiteral("STANDARD");
    bool m_refusingText = false; // a box refusing the editor's text is open
    std::optional<bool> m_controlShown;
    std::optional<vm::link::Record> m_lastRecord;
    bool m_handingOver = false;
};

// A label that the operator can click, or reach with Tab and press with Space or Enter.
class ClickableLabel final : public QWidget {
    Q_OBJECT
public:
    ClickableLabel(const QString& accessibleName, QWidget* parent);
    void setText(const QString& text);
    QString text() const;

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QLabel* m_label;
};

} // namespace vm::io
