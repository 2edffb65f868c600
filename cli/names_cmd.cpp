// name and names: the names users give stations, in the state folder. No
// adapter, no helper and no instance lock: the file is read again before each
// change and replaced whole, so brennic may run meanwhile.
#include "cli/cli.h"
#include "cli/output.h"

#include <string>

namespace cli {

namespace {

// RFC 4180: quoted when it holds a comma or a quote, its quotes doubled.
std::string csvField(const std::string& text)
{
    if (text.find_first_of(",\"") == std::string::npos)
        return text;
    std::string out = "\"";
    for (char c : text)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

int printNames(const Invocation& inv, const session::NameMap& names, std::FILE* out)
{
    if (inv.json) {
        Json list = Json::array();
        for (const auto& [mac, name] : names)
            list.push_back(Json{{"mac", session::Mac(mac).text()}, {"name", name}});
        std::fprintf(out, "%s\n", documentText(list, false).c_str());
    } else if (inv.csv) {
        std::fputs("mac,name\n", out);
        for (const auto& [mac, name] : names)
            std::fprintf(out, "%s,%s\n", session::Mac(mac).text().c_str(), csvField(name).c_str());
    } else {
        Table table({"MAC", "NAME"});
        for (const auto& [mac, name] : names)
            table.add({session::Mac(mac).text(), name});
        table.print(out);
    }
    return std::fflush(out) == 0 ? exitOk : exitError;
}

}  // namespace

int runNamesCommand(const Invocation& inv, std::FILE* out)
{
    std::string dir, why;
    if (!enterStateDir(chosenStateDir(inv.stateDir), &dir, &why)) {
        error(why);
        return exitError;
    }
    if (inv.verbose)
        std::fprintf(stderr, "brennicctl: names %s%s%s\n", dir.c_str(), dir == "/" ? "" : "/", session::namesFileName);
    session::StationNames names;
    if (inv.command == Command::names) {
        if (!names.load()) {
            error(names.error());
            return exitError;
        }
        return printNames(inv, names.all(), out);
    }
    // The parser has checked both.
    const session::Mac mac = session::Mac::parse(inv.target).value_or(session::Mac());
    if (!names.set(mac, inv.clear ? std::string() : inv.name.value_or(""))) {
        error(names.error());
        return exitError;
    }
    const std::string name = names.get(mac);
    if (inv.json)
        std::fprintf(out, "%s\n",
                     documentText(Json{{"mac", mac.text()}, {"name", name.empty() ? Json(nullptr) : Json(name)}}, false)
                         .c_str());
    else if (name.empty())
        std::fprintf(out, "%s: no name\n", mac.text().c_str());
    else
        std::fprintf(out, "%s: %s\n", mac.text().c_str(), name.c_str());
    return std::fflush(out) == 0 ? exitOk : exitError;
}

const session::NameMap& stateNames()
{
    static session::StationNames names;
    static std::string told;
    if (!names.loadIfChanged() && names.error() != told)
        error(names.error());
    told = names.error();
    return names.all();
}

session::NameMap readNames(const std::string& chosen)
{
    const std::string path = stateFile(chosen, session::namesFileName);
    if (path.empty())
        return {};
    session::StationNames names(path);
    if (!names.load())
        error(names.error());
    return names.all();
}

}  // namespace cli
