#pragma once

#include "app/windowregistry.h"

#include <QDialog>
#include <QPointer>

class QFrame;
class QLabel;
class QPushButton;

namespace vm::shell {

struct FileVersion;

// The About box: the program's title and version, the maker's notice, and the way to the
// reader's manufacturing settings and the system-information tool. The main window also
// shows an instance of it, without its buttons, as its splash.
class frmAbout : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* WindowName = "frmAbout";

    enum class Use { Dialog, Splash };

    explicit frmAbout(QWidget* parent = nullptr, Use use = Use::Dialog);

    // Opens an About box modal over `owner`; it goes when it is closed.
    static frmAbout* Open(QWidget* owner);
    // The Help menu's "About Velmarrow™..."; opened modal.
    static vm::app::WindowEntry windowEntry();

    // "Velmarrow", a blank and text 2 of the version record ("3.0.2 Build 1").
    static QString TitleText(const FileVersion& version);

    QString titleText() const;
    bool detailsAvailable() const { return m_detailsAvailable; }
    // The manufacturing settings viewer opened by DetailsButton, while it is open.
    QWidget* details() const { return m_details; }

    // DetailsButton: the reader's manufacturing settings, modal over the About box. The
    // viewer comes from the window registry, so the About box does not depend on it.
    QWidget* ShowDetails();
    // The system-information button.
    void ShowSystemInfo();

    // Closing unloads the About box and stores its place (the splash stores nothing).
    void done(int result) override;

private:
    QLabel* m_title = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_detailsButton = nullptr;
    QPushButton* m_sysInfo = nullptr;
    QPointer<QWidget> m_details;
    Use m_use;
    bool m_detailsAvailable = false;
    bool m_unloaded = false;
};

} // namespace vm::shell
