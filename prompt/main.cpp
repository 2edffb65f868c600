#include <QApplication>

#include "prompt/form1.h"
#include "prompt/version.h"

#include <cstdio>

#include <sys/auxv.h>

int main(int argc, char** argv) {
    // Qt loads plugins from paths its user chooses: never with privilege.
    if (getauxval(AT_SECURE) != 0) {
        std::fputs("pelmora: refusing to run with file capabilities or setuid; it needs neither\n", stderr);
        return 1;
    }
    // The prompt takes no command line; Qt gets its name and nothing else.
    static char fallbackName[] = "pelmora";
    static char* qtArgv[] = {argc > 0 && argv[0] ? argv[0] : fallbackName, nullptr};
    static int qtArgc = 1;
    QApplication app(qtArgc, qtArgv);
    QApplication::setApplicationName(QString::fromLatin1(prompt::productName));
    QApplication::setApplicationVersion(QString::fromLatin1(prompt::productVersion));
    prompt::Form1 form;
    form.show();
    return QApplication::exec();
}
