// Writes files over and over until it is killed, so that a test can kill it at any
// moment and look at what a crash leaves behind. Each finished write is reported on
// standard output as one line.
//   crashwriter whole FILE       1 MiB of one letter, the letter alternating
//   crashwriter registry FOLDER  a growing DWORD under 40 keys in the registry file
#include "app/registry.h"
#include "link/wholefile.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 3)
        return 2;
    const QByteArray mode = argv[1];
    const QString target = QString::fromLocal8Bit(argv[2]);
    if (mode == "registry")
        vm::app::setRegistryFolder(target);
    for (quint32 round = 1;; ++round) {
        bool ok = false;
        if (mode == "whole") {
            ok = vm::link::writeWholeFile(target, QByteArray(1 << 20, char('a' + round % 2)));
        } else if (mode == "registry") {
            // Many values make the file large enough for a crash to land inside a write.
            ok = true;
            for (int i = 0; i < 40 && ok; ++i)
                ok = !vm::app::WriteRegistryDword(vm::app::RegistryRoot::CurrentUser,
                                                  QStringLiteral("Software\\Crash\\Key%1").arg(i),
                                                  QStringLiteral("Round"), round);
        } else {
            return 2;
        }
        if (!ok)
            return 1;
        std::printf("%u\n", round);
        std::fflush(stdout);
    }
}
