#include "shell/frmabout.h"

#include "app/programstate.h"
#include "app/windowroutines.h"
#include "link/vocabulary.h"
#include "resources/icons.h"
#include "resources/strings.h"
#include "shell/fileversion.h"
#include "shell/frmlog.h"
#include "shell/systeminfo.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vm::shell {

namespace {

// The registered name of the manufacturing settings viewer.
constexpr char kDetailsWindow[] = "frmSettings";

QIcon applicationIcon() {
    const QIcon icon = QApplication::windowIcon();
    return icon.isNull() ? vm::res::Icon(QStringLiteral("cam")) : icon;
}

} // namespace

frmAbout::frmAbout(QWidget* parent, Use use)
    : QDialog(parent, use == Use::Splash
                          ? Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                          : Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint)
    , m_use(use) {
    setObjectName(QLatin1String(WindowName));
    // The menu item's text without its ellipsis.
    QString caption = vm::res::Str(402);
    while (caption.endsWith(QLatin1Char('.')))
        caption.chop(1);
    setWindowTitle(caption);
    setWindowIcon(applicationIcon());
    if (use == Use::Splash)
        setAttribute(Qt::WA_ShowWithoutActivating);

    // The splash has no title bar, so its contents get a frame of their own.
    auto* frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("Frame"));
    if (use == Use::Splash) {
        frame->setFrameShape(QFrame::Box);
        frame->setLineWidth(1);
        frame->setAutoFillBackground(true);
    }

    auto* logo = new QLabel(frame);
    logo->setObjectName(QStringLiteral("imgCompanyLogo"));
    logo->setPixmap(applicationIcon().pixmap(48, 48));
    logo->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    logo->setAccessibleName(vm::res::Str(20185));

    m_title = new QLabel(TitleText(ReadProgramVersion()), frame);
    m_title->setObjectName(QStringLiteral("lblTitle"));
    m_title->setTextFormat(Qt::PlainText);
    m_title->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont big = m_title->font();
    big.setPointSizeF(big.pointSizeF() * 1.8);
    big.setBold(true);
    m_title->setFont(big);

    auto* description = new QLabel(vm::res::Str(20186), frame);
    description->setObjectName(QStringLiteral("lblDescription0"));
    description->setWordWrap(true);
    auto* notice = new QLabel(vm::res::Str(20317), frame);
    notice->setObjectName(QStringLiteral("lblDescription1"));
    notice->setWordWrap(true);

    auto* line = new QFrame(frame);
    line->setObjectName(QStringLiteral("Line1"));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);

    m_detailsButton = new QPushButton(vm::res::Str(20187), frame);
    m_detailsButton->setObjectName(QStringLiteral("DetailsButton"));
    m_detailsButton->setAccessibleName(vm::res::Str(20187));
    m_detailsButton->setAccessibleDescription(vm::res::Str(20188));
    m_detailsButton->setAutoDefault(false);
    connect(m_detailsButton, &QPushButton::clicked, this, [this] { ShowDetails(); });

    m_sysInfo = new QPushButton(vm::res::Str(20189), frame);
    m_sysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    m_sysInfo->setAccessibleName(vm::res::Str(20190));
    m_sysInfo->setAutoDefault(false);
    connect(m_sysInfo, &QPushButton::clicked, this, &frmAbout::ShowSystemInfo);

    m_ok = new QPushButton(vm::res::Str(51), frame);
    m_ok->setObjectName(QStringLiteral("cmdOK"));
    m_ok->setAccessibleName(vm::res::Str(51));
    m_ok->setDefault(true);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* text = new QVBoxLayout;
    text->setSpacing(8);
    text->addWidget(m_title);
    text->addWidget(description);
    text->addWidget(notice);
    text->addStretch(1);
    auto* top = new QHBoxLayout;
    top->setSpacing(16);
    top->addWidget(logo, 0, Qt::AlignTop);
    top->addLayout(text, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_detailsButton);
    buttons->addStretch(1);
    buttons->addWidget(m_sysInfo);
    buttons->addWidget(m_ok);

    auto* inner = new QVBoxLayout(frame);
    inner->setContentsMargins(20, 18, 20, 14);
    inner->setSpacing(12);
    inner->addLayout(top);
    inner->addWidget(line);
    inner->addLayout(buttons);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(frame);

    m_detailsAvailable =
        use == Use::Dialog && vm::app::firmwareLevel() >= vm::link::level::ManufacturingSettings;
    m_detailsButton->setVisible(m_detailsAvailable);
    if (use == Use::Splash) {
        line->hide();
        m_sysInfo->hide();
        m_ok->hide();
    }
    setTabOrder(m_detailsButton, m_sysInfo);
    setTabOrder(m_sysInfo, m_ok);

    setFixedSize(sizeHint().expandedTo(QSize(440, 0)));
}

frmAbout* frmAbout::Open(QWidget* owner) {
    auto* about = new frmAbout(owner);
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->setWindowModality(Qt::ApplicationModal);
    if (owner) {
        QRect r(QPoint(), about->size());
        r.moveCenter(owner->frameGeometry().center());
        about->move(r.topLeft());
    }
    about->show();
    about->raise();
    about->activateWindow();
    return about;
}

QString frmAbout::TitleText(const FileVersion& version) {
    return QStringLiteral("Velmarrow ") + version.versionBuild;
}

QString frmAbout::titleText() const {
    return m_title->text();
}

QWidget* frmAbout::ShowDetails() {
    if (m_details) {
        m_details->raise();
        m_details->activateWindow();
        return m_details;
    }
    const vm::app::WindowEntry* viewer = vm::app::windows().entry(QLatin1String(kDetailsWindow));
    if (!viewer)
        return nullptr;
    m_details = viewer->factory(this);
    if (!m_details)
        return nullptr;
    // Modality holds only when it is set before the window is first shown.
    m_details->setWindowModality(Qt::ApplicationModal);
    vm::app::ShowRestoredWindow(m_details, true);
    return m_details;
}

void frmAbout::ShowSystemInfo() {
    StartSysInfo(this);
}

void frmAbout::done(int result) {
    if (!m_unloaded && m_use == Use::Dialog) {
        m_unloaded = true;
        vm::app::SaveWindowMetrics(this);
        vm::app::windows().forget(this);
    }
    QDialog::done(result);
}

vm::app::WindowEntry frmAbout::windowEntry() {
    vm::app::WindowEntry registered;
    registered.name = QLatin1String(WindowName);
    registered.factory = [](QWidget* parent) -> QWidget* {
        auto* about = new frmAbout(parent);
        about->setAttribute(Qt::WA_DeleteOnClose);
        about->setWindowModality(Qt::ApplicationModal);
        return about;
    };
    registered.menu.menu = vm::app::Menu::Help;
    registered.menu.position = 4020;
    registered.menu.key = QStringLiteral("mnuAbout");
    registered.menu.caption = vm::res::Str(402);
    registered.followsReader = true;
    return registered;
}

} // namespace vm::shell
