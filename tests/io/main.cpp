#include <QApplication>

int runIOTests(int argc, char** argv);
int runOutputWindowTests(int argc, char** argv);

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int failures = runIOTests(argc, argv);
    failures += runOutputWindowTests(argc, argv);
    return failures;
}
