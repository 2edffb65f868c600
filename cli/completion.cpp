// The completion scripts of bash, zsh and fish, written from the argument
// table so that they never miss an option the parser knows.
#include "cli/cli.h"

#include "history/history.h"

#include <set>
#include <string>

namespace cli {

namespace {

constexpr unsigned devicesBits =
    bit(Command::devicesList) | bit(Command::devicesAdd) | bit(Command::devicesRemove) | bit(Command::devicesSetAll);

unsigned bitsOf(const VerbSpec& verb) { return verb.command == Command::devicesList ? devicesBits : bit(verb.command); }

std::string join(const std::vector<std::string>& words, const char* separator = " ")
{
    std::string out;
    for (const std::string& w : words)
        out += (out.empty() ? "" : separator) + w;
    return out;
}

std::vector<std::string> verbNames(const std::vector<VerbSpec>& table)
{
    std::vector<std::string> out;
    for (const VerbSpec& v : table)
        out.emplace_back(v.name);
    return out;
}

// The options shown after `commands` (0: before any command), long and short.
std::vector<std::string> optionsAfter(unsigned commands)
{
    std::vector<std::string> out;
    for (const OptionSpec& o : optionTable())
        if (o.summary && (o.commands == 0 || (o.commands & commands))) {
            out.emplace_back(o.name);
            if (o.shortName)
                out.emplace_back(o.shortName);
        }
    return out;
}

// The option names, long and short, whose value is of `kind`.
std::string namesOf(Value kind, const char* separator)
{
    std::vector<std::string> out;
    for (const OptionSpec& o : optionTable())
        if (o.value == kind) {
            out.emplace_back(o.name);
            if (o.shortName)
                out.emplace_back(o.shortName);
        }
    return join(out, separator);
}

std::string withValue(const char* separator)
{
    std::vector<std::string> out;
    for (Value kind : {Value::interface, Value::mac, Value::file, Value::directory, Value::number, Value::duration,
                       Value::time, Value::shell}) {
        std::string names = namesOf(kind, separator);
        if (!names.empty())
            out.push_back(names);
    }
    return join(out, separator);
}

// A `case` arm for the options whose value is of `kind`; none when there is no such option.
std::string arm(Value kind, const char* open, const std::string& body)
{
    std::string names = namesOf(kind, "|");
    return names.empty() ? "" : "        " + std::string(open) + names + ") " + body + "\n";
}

// One `case` arm per command with the options it takes; bash and zsh alike.
std::string optionCases(const char* open, const char* indent)
{
    std::string out;
    for (const VerbSpec& v : verbTable())
        if (v.command != Command::none)
            out += std::string(indent) + open + v.name + ") options=\"" + join(optionsAfter(bitsOf(v))) + "\" ;;\n";
    return out + indent + open + "*) options=\"" + join(optionsAfter(0)) + "\" ;;\n";
}

std::string bash()
{
    return R"(# bash completion for brennicctl; `brennicctl --completion bash` writes it.
_brennicctl()
{
    # MACs hold colons, which bash splits words at: glue them back.
    local words=() cword=0 i w
    for ((i = 0; i < ${#COMP_WORDS[@]}; i++)); do
        w=${COMP_WORDS[i]}
        if ((i > 1)) && [[ $w == : || ${COMP_WORDS[i-1]} == : ]] && [[ ${words[-1]} != -* ]]; then
            words[-1]+=$w
        else
            words+=("$w")
        fi
        ((i == COMP_CWORD)) && cword=$((${#words[@]} - 1))
    done
    local cur=${words[cword]} prev=${words[cword-1]} command="" sub="" options="" values=""
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            )" +
           withValue("|") + R"() ((i++)) ;;
            -*) ;;
            *) if [[ -z $command ]]; then command=${words[i]}; elif [[ -z $sub ]]; then sub=${words[i]}; fi ;;
        esac
    done
    case $prev in
)" +
           arm(Value::interface, "",
               "values=\"$(command ls /sys/class/net 2>/dev/null) $(\"${words[0]}\" --completion adapters "
               "2>/dev/null)\" ;;") +
           arm(Value::mac, "", "values=$(\"${words[0]}\" --completion stations 2>/dev/null) ;;") +
           arm(Value::file, "", "COMPREPLY=($(compgen -f -- \"$cur\")); return ;;") +
           arm(Value::directory, "", "COMPREPLY=($(compgen -d -- \"$cur\")); return ;;") +
           arm(Value::shell, "", "values=\"bash zsh fish\" ;;") + R"(        )" + withValue("|") + R"() return ;;
        *)
            if [[ $cur == -* ]]; then
                case $command in
)" + optionCases("", "                    ") +
           R"(                esac
                values=$options
            elif [[ -z $command || ($command == help && -z $sub) ]]; then
                values=")" +
           join(verbNames(verbTable())) + R"("
            elif [[ $command == devices && -z $sub ]]; then
                values=")" +
           join(verbNames(deviceVerbTable())) + R"("
            elif [[ $command == name && -z $sub ]]; then
                values=$("${words[0]}" --completion stations 2>/dev/null)
            fi ;;
    esac
    COMPREPLY=($(compgen -W "$values" -- "$cur"))
    # What bash replaces is the part after the last colon.
    if [[ $cur == *:* && $COMP_WORDBREAKS == *:* ]]; then
        for i in "${!COMPREPLY[@]}"; do COMPREPLY[i]=${COMPREPLY[i]#"${cur%:*}:"}; done
    fi
}
complete -F _brennicctl brennicctl
)";
}

std::string zsh()
{
    return R"(#compdef brennicctl
# zsh completion for brennicctl; `brennicctl --completion zsh` writes it.
_brennicctl() {
    local command= sub= options= i
    for ((i = 2; i < CURRENT; i++)); do
        case ${words[i]} in
            ()" +
           withValue("|") + R"() ((i++)) ;;
            (-*) ;;
            (*) if [[ -z $command ]]; then command=${words[i]}; elif [[ -z $sub ]]; then sub=${words[i]}; fi ;;
        esac
    done
    case ${words[CURRENT-1]} in
)" +
           arm(Value::interface, "(",
               "compadd -- ${(f)\"$(command ls /sys/class/net 2>/dev/null)\"} ${(f)\"$(${words[1]} --completion "
               "adapters 2>/dev/null)\"}; return ;;") +
           arm(Value::mac, "(", "compadd -- ${(f)\"$(${words[1]} --completion stations 2>/dev/null)\"}; return ;;") +
           arm(Value::file, "(", "_files; return ;;") + arm(Value::directory, "(", "_files -/; return ;;") +
           arm(Value::shell, "(", "compadd bash zsh fish; return ;;") + R"(        ()" + withValue("|") + R"() return ;;
    esac
    if [[ $PREFIX == -* ]]; then
        case $command in
)" + optionCases("(", "            ") +
           R"(        esac
        compadd -- ${=options}
    elif [[ -z $command || ($command == help && -z $sub) ]]; then
        compadd -- )" +
           join(verbNames(verbTable())) + R"(
    elif [[ $command == devices && -z $sub ]]; then
        compadd -- )" +
           join(verbNames(deviceVerbTable())) + R"(
    elif [[ $command == name && -z $sub ]]; then
        )" +
           "compadd -- ${(f)\"$(${words[1]} --completion stations 2>/dev/null)\"}" + R"(
    fi
}
_brennicctl "$@"
)";
}

std::string fish()
{
    std::string commands = join(verbNames(verbTable()));
    std::string sub = join(verbNames(deviceVerbTable()));
    std::string out = "# fish completion for brennicctl; `brennicctl --completion fish` writes it.\n"
                      "complete -c brennicctl -f\n";
    for (const VerbSpec& v : verbTable())
        out += "complete -c brennicctl -n 'not __fish_seen_subcommand_from " + commands + "' -a " + v.name + " -d \"" +
               v.summary + "\"\n";
    for (const VerbSpec& v : verbTable())
        if (v.command != Command::none)
            out += "complete -c brennicctl -n '__fish_seen_subcommand_from help; and not __fish_seen_subcommand_from " +
                   commands + "' -a " + v.name + "\n";
    for (const VerbSpec& v : deviceVerbTable())
        out += "complete -c brennicctl -n '__fish_seen_subcommand_from devices; and not __fish_seen_subcommand_from " +
               sub + "' -a " + v.name + " -d \"" + v.summary + "\"\n";
    // name's MAC: a station the history knows.
    out += "complete -c brennicctl -n '__fish_seen_subcommand_from name' -a '(brennicctl --completion stations "
           "2>/dev/null)'\n";
    for (const OptionSpec& o : optionTable()) {
        if (!o.summary)
            continue;
        std::vector<std::string> after;
        for (const VerbSpec& v : verbTable())
            if (v.command != Command::none && (o.commands & bitsOf(v)))
                after.emplace_back(v.name);
        out += "complete -c brennicctl";
        if (o.commands != 0)
            out += " -n '__fish_seen_subcommand_from " + join(after) + "'";
        out += std::string(" -l ") + (o.name + 2);
        if (o.shortName)
            out += std::string(" -s ") + (o.shortName + 1);
        switch (o.value) {
        case Value::none: break;
        case Value::interface:
            out += " -x -a '(command ls /sys/class/net 2>/dev/null; brennicctl --completion adapters 2>/dev/null)'";
            break;
        case Value::mac: out += " -x -a '(brennicctl --completion stations 2>/dev/null)'"; break;
        case Value::file: out += " -r -F"; break;
        case Value::directory: out += " -x -a '(__fish_complete_directories)'"; break;
        case Value::shell: out += " -x -a 'bash zsh fish'"; break;
        default: out += " -x"; break;
        }
        out += std::string(" -d \"") + o.summary + "\"\n";
    }
    return out;
}

}  // namespace

std::string completionScript(const std::string& shell)
{
    if (shell == "bash")
        return bash();
    if (shell == "zsh")
        return zsh();
    if (shell == "fish")
        return fish();
    return {};
}

int printCompletion(const Invocation& inv, std::FILE* out)
{
    std::string script = completionScript(inv.completion);
    if (!script.empty()) {
        std::fputs(script.c_str(), out);
        return exitOk;
    }
    // Asked for at each <Tab>: quiet, and nothing when there is no history.
    history::Store store;
    if (!store.open(inv.historyFile.empty() ? history::defaultPath() : inv.historyFile, history::Store::Mode::readOnly))
        return exitOk;
    std::set<uint64_t> macs;
    for (const history::Latest& link : store.latest()) {
        if (inv.completion == "adapters")
            macs.insert(link.reply.adapter);
        else
            for (const history::Sample& s : link.stations)
                macs.insert(s.station);
    }
    for (uint64_t mac : macs)
        std::fprintf(out, "%s\n", history::Mac(mac).text().c_str());
    return exitOk;
}

}  // namespace cli
