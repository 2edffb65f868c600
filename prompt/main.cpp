#include <QApplication>

#include "prompt/form1.h"
#include "prompt/version.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(prompt::productName));
    QApplication::setApplicationVersion(QString::fromLatin1(prompt::productVersion));
    prompt::Form1 form;
    form.show();
    return QApplication::exec();
}
