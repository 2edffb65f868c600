#include <QApplication>

#include "prompt/form1.h"
#include "prompt/version.h"

#include <cstdio>
#include <string>

#include <sys/auxv.h>

int main(int argc, char** argv)
{
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::printf("pelmora %s\n", BRENNIC_VERSION);
        return 0;
    }
    // Qt loads plugins from paths its user chooses: never with privilege.
    if (getauxval(AT_SECURE) != 0) {
        std::fputs("pelmora: refusing to run with file capabilities or setuid; it needs neither\n", stderr);
        return 1;
    }
    // The prompt takes no other command line; Qt gets its name and nothing else.
    static char fallbackName[] = "pelmora";
    static char* qtArgv[] = {argc > 0 && argv[0] ? argv[0] : fallbackName, nullptr};
    static int qtArgc = 1;
    QApplication app(qtArgc, qtArgv);
    QApplication::setApplicationName(QString::fromLatin1(prompt::productName));
    QApplication::setApplicationVersion(QString::fromLatin1(prompt::productVersion));
    QGuiApplication::setDesktopFileName(QStringLiteral("brennic"));
    prompt::Form1 form;
    form.show();
    return QApplication::exec();
}
