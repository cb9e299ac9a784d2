#include <QCoreApplication>

int runSimTests(int argc, char** argv);
int runOutputTests(int argc, char** argv);
int runTranscriptTests(int argc, char** argv);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int failures = runSimTests(argc, argv);
    failures += runOutputTests(argc, argv);
    failures += runTranscriptTests(argc, argv);
    return failures;
}
