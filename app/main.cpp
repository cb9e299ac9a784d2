#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Velmarrow");
    QMainWindow window;
    window.setWindowTitle(" - Velmarrow");
    window.show();
    return app.exec();
}
