// libFuzzer target for the station names file: any bytes, read as the file,
// give names that pass the name checks; naming one more MAC writes a file,
// private to its owner, that reads back as the same names.
#include "fuzz/fuzz_support.h"
#include "session/names.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using fuzzing::check;
    fuzzing::enterScratchDirectory("station_names_fuzz");
    unlink(session::namesFileName);
    FILE* f = std::fopen(session::namesFileName, "wb");
    check(f != nullptr);
    check(std::fwrite(data, 1, size, f) == size);
    std::fclose(f);
    chmod(session::namesFileName, 0600);

    session::StationNames names;
    const bool read = names.load();
    check(read == (size <= session::namesFileMaxBytes));
    for (const auto& [mac, name] : names.all()) {
        std::string same, why;
        check(mac <= 0xFFFFFFFFFFFFu && !name.empty() && session::checkName(name, &same, &why) && same == name);
    }
    if (!read)
        return 0;
    const session::Mac mac(size > 6 ? data[size - 1] | uint64_t(data[size - 2]) << 40 : 0x02b71c200001);
    const session::NameMap before = names.all();
    if (!names.set(mac, "Hall")) {
        check(names.error().rfind("too many names", 0) == 0);  // the one refusal left for a file read
        return 0;
    }
    session::NameMap want = before;
    want[mac.number()] = "Hall";
    check(names.all() == want);
    struct stat st {};
    check(stat(session::namesFileName, &st) == 0 && (st.st_mode & 07777) == 0600);
    session::StationNames again;
    check(again.load() && again.all() == want);
    return 0;
}
