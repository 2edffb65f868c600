#include "ui/start.h"

#include "platform/files.h"
#include "platform/instance.h"
#include "session/recording.h"
#include "session/session.h"

#include <cstdio>
#include <string>

#include <dlfcn.h>
#include <sys/auxv.h>

int runBrennic(int argc, char** argv, SheetMain sheet)
{
    // Qt loads plugins and styles from paths its user chooses: a toolkit must
    // never run with privilege, so the raw sockets live in brennic-link.
    if (getauxval(AT_SECURE) != 0) {
        std::fprintf(stderr,
                     "brennic: refusing to run with file capabilities or setuid; the capability belongs on "
                     "brennic-link: sudo setcap cap_net_raw+ep %s\n",
                     BRENNIC_LINK_INSTALLED_PATH);
        return 1;
    }
    session::holdMonitorUntilStart();
    // Silent while the user's own copy runs; the service's lock has said why.
    if (platform::acquireInstanceLock("brennic") != platform::InstanceLock::taken)
        return 0;
    // The probe windows are dead time: they run while Qt loads and the sheet is made.
    session::beginStartEarly();
    // The link history; one that cannot be opened has said so on stderr.
    session::openHistory();
    return sheet(argc, argv);
}

int runModule(const char* name, const char* installed, const char* entryName, int argc, char** argv)
{
    // Beside the program (a build tree, or a copy of both), else the installed one.
    std::string path = platform::besideProgramElse(name, installed);
    // Its references to the session resolve to this program's own copy.
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    auto entry = module ? reinterpret_cast<SheetMain>(dlsym(module, entryName)) : nullptr;
    if (!entry) {
        // dlerror names the file.
        const char* why = dlerror();
        std::fprintf(stderr, "brennic: cannot load its window module: %s\n", why ? why : path.c_str());
        session::abandonEarlyStart();
        return 1;
    }
    return entry(argc, argv);
}

int runSheetModule(int argc, char** argv)
{
    return runModule("brennic-ui.so", BRENNIC_UI_INSTALLED_PATH, "brennicSheetMain", argc, argv);
}
