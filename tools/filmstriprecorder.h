#pragma once

#include "tools/monitorwindow.h"

#include <QTimer>

#include <deque>
#include <memory>

class QAction;
class QComboBox;
class QLabel;
class QToolBar;

namespace vm::link {
class ImageConnection;
}

namespace vm::display {
class VxImageView;
}

namespace vm::tools {

class ImageRecorder;

// "Filmstrip Recorder": follows the focused reader's images, shows those that pass the
// chosen filter (pass or fail, or a verification grade), keeps the latest of them to
// browse back and forward, and while recording saves each one to the image folder.
class FilmstripRecorder final : public MonitorWindow {
    Q_OBJECT
public:
    static constexpr const char* WindowName = "FilmstripRecorder";
    // Images kept to browse back through (about 16 MB of grey images).
    static constexpr int kRingSize = 50;
    static constexpr int kRecBlinkMs = 500;
    // The live picture beside the main window's: half the screen's refresh is plenty to watch
    // it by, and saves scaling every other image at the reader's full rate.
    static constexpr double kLivePaintRate = 30.0;

    struct Filter {
        bool keepPassed = false;
        bool keepFailed = false;
        bool keepGood = false;
        bool keepFair = false;
        bool keepPoor = false;
        bool keepFailedGrade = false;
    };

    explicit FilmstripRecorder(QWidget* parent = nullptr);
    ~FilmstripRecorder() override;
    static vm::app::WindowEntry windowEntry();

    // The toolbar's buttons.
    void Go();
    void Stop();
    void SetRecording(bool on);
    bool isStopped() const { return m_stopped; }
    bool isRecording() const { return m_recording; }
    bool verificationMode() const { return m_verificationMode; }
    const Filter& filter() const { return m_filter; }
    bool passes(const vm::link::Record& record) const;

    // Browsing the kept images: 0 is the newest. Browsing back holds the picture while
    // new images keep arriving; coming forward to the newest follows them again.
    void Back();
    void Forward();
    int browsePosition() const { return m_browse; }
    int keptCount() const { return int(m_ring.size()); }
    const vm::link::Record* shownRecord() const;

    QComboBox* filterList() const { return m_filterList; }
    vm::display::VxImageView* imageView() const { return m_imageCtl; }
    QToolBar* toolbar() const { return m_toolbar; }
    QAction* button(const QString& key) const;
    // The image key each button shows ("go-lit", "rec-red", ...).
    QString buttonImage(const QString& key) const;
    ImageRecorder& recorder() const { return *m_recorder; }
    // Images handed to the view since the window opened.
    quint64 shownCount() const { return m_shownCount; }

private:
    void newRecord(const vm::link::Record& record);
    void evaluateVerificationMode();
    void fillFilterList();
    void filterChosen(int index);
    void updateButtons();
    void setButtonImage(const QString& key, const QString& image);
    void recTick();
    void showBrowsed();
    void chooseFolder();
    void writeFailed(const QString& path, const QString& error);
    void unload() override;

    std::unique_ptr<vm::link::ImageConnection> m_iconn;
    std::unique_ptr<vm::link::ReaderConnection> m_rconn;
    std::unique_ptr<ImageRecorder> m_recorder;
    QToolBar* m_toolbar = nullptr;
    QComboBox* m_filterList = nullptr;
    QLabel* m_position = nullptr;
    QLabel* m_notSaved = nullptr;
    vm::display::VxImageView* m_imageCtl = nullptr;
    QTimer m_recTimer;
    std::deque<vm::link::Record> m_ring; // newest first
    int m_browse = 0;
    bool m_stopped = false;
    bool m_recording = false;
    bool m_recLit = false;
    bool m_verificationMode = false;
    bool m_modeKnown = false;
    bool m_failureShown = false;
    quint64 m_droppedAtStart = 0; // the recorder's dropped count when recording was switched on
    Filter m_filter;
    quint64 m_shownCount = 0;
};

} // namespace vm::tools
