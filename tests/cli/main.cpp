#include <QCoreApplication>

int runCliTests(int argc, char** argv);
int runCliTranscriptTests(int argc, char** argv);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int failures = runCliTests(argc, argv);
    failures += runCliTranscriptTests(argc, argv);
    return failures;
}
