#pragma once

#include "app/windowregistry.h"
#include "settings/settingswindow.h"

#include <QList>

class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

namespace vm::io {

// The output dialog of the oldest readers (firmware level below 3): for each of six read
// events whether a report is sent, its text, the common header and trailer around it and
// the number of beeps; the header and trailer texts, hexadecimal data and the match string.
// Readers of level 3 or more get the output format editor instead.
class BasicOutput final : public vm::settings::SettingsWindow {
    Q_OBJECT
public:
    static constexpr const char* WindowName = "BasicOutput";

    explicit BasicOutput(QWidget* parent = nullptr);
    static vm::app::WindowEntry windowEntry();

    // The event parameters in the dialog's row order.
    static const QStringList& eventParameters();
    QMenu* keywordMenu() const { return m_menuKeyword; }

private:
    QStringList parametersToLoad() const override;
    void loadParameters() override;
    void refresh() override;
    void applyControlState(bool control) override;

    void buildControls();
    void handOver();
    void showKeywords(int row);

    QLabel* m_sendLabel = nullptr;
    QList<QLineEdit*> m_report;
    QList<QPushButton*> m_keyword;
    QCheckBox* m_matchEnable = nullptr;
    QMenu* m_menuKeyword = nullptr;
    int m_keywordTarget = 0;
    QString m_loadError;
    bool m_handingOver = false;
};

} // namespace vm::io
