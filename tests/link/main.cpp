#include <QCoreApplication>

int runFramingTests(int argc, char** argv);
int runLinkTests(int argc, char** argv);
int runReaderWordsTests(int argc, char** argv);
int runHostileTests(int argc, char** argv);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int failures = runFramingTests(argc, argv);
    failures += runLinkTests(argc, argv);
    failures += runReaderWordsTests(argc, argv);
    failures += runHostileTests(argc, argv);
    return failures;
}
