// ostrilo-admin: where a link goes, what is wrong with a rule file, whether
// Ostrilo is really the default browser. A console program; it reads, it
// writes no file but the one that default-associations --out names and the
// whitelist_url cache that status --refresh fetches, and opens nothing.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "commands.h"
#include "explain.h"
#include "log.h"
#include "nb_utils.h"
#include "sitelist.h"
#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>

#include "here.h"
#include "kvix_environment.h"
#include "run_context.h"
#include "unique_resource.h"
#endif

namespace {

const char usage_text[] =
    "usage: ostrilo-admin COMMAND [OPTIONS]\n"
    "\n"
    "  explain [-configdir DIR] [--json] [--strict-host] [--safe-arguments]\n"
    "          [--unwrap[=2]] [--rules FILE... --] [URL...]\n"
    "      where each URL goes (URLs one per line on standard input when none\n"
    "      is given): the rule files consulted in Ostrilo's order, the rule\n"
    "      that matched, and what Ostrilo would do. --rules takes the rule files\n"
    "      in the given order instead of searching for them (required on Linux).\n"
    "      --strict-host and --safe-arguments explain as if ostrilo.cfg set\n"
    "      strict_host_match=1 and safe_browser_arguments=1; --unwrap and\n"
    "      --unwrap=2 as if it set unwrap_links=1 or 2 (the layers of a link\n"
    "      wrapped by mail security, and which link is looked up and opened).\n"
    "  lint [-configdir DIR] [--json] [--strict-host] [FILE...]\n"
    "      findings in the rule files as file:line:col: error|warning: text [code];\n"
    "      without files, every rule file Ostrilo would consult here.\n"
    "      --strict-host lints as if ostrilo.cfg set strict_host_match=1.\n"
    "      Exit status 0 clean, 1 warnings only, 2 errors.\n"
    "  import-sitelist [--edge RULE] [--ie RULE] [--other RULE]\n"
    "                  [--edge-values LIST] [--ie-values LIST] [--strict-host] FILE.xml\n"
    "      rule lines for an enterprise mode site list (UTF-8, at most 32 MiB)\n"
    "      on standard output, a summary on standard error. Sites whose <open-in>\n"
    "      is one of the comma-separated edge values (default MSEdge) get\n"
    "      \"local|edge\", of the IE values (default IE11) \"local|ie\", all others\n"
    "      \"remote\". Each site takes its host only; --strict-host, for desktops\n"
    "      with strict_host_match=1, adds its subdomains. Exit status 2: the\n"
    "      list is refused as a whole.\n"
    "  status [-configdir DIR] [--json] [--refresh]   (Windows only)\n"
    "      the registration, the default browser, the files and the viewer\n"
    "      as Ostrilo sees them here, Defender's rule that can keep Outlook from\n"
    "      starting Ostrilo, the whitelist_url list's cache and last refresh, and\n"
    "      every key's value with its source (machine policy, user policy,\n"
    "      ostrilo.cfg and line, default). --refresh fetches the whitelist_url\n"
    "      list into its cache first and says what changed. Exit status 0 all\n"
    "      fine, 1 otherwise.\n"
    "  default-associations [-configdir DIR] [--out FILE] [--base64]   (Windows only)\n"
    "      the default associations file that makes Ostrilo the default for\n"
    "      http, https, .htm and .html at sign-in (DISM, Group Policy), with\n"
    "      the application name -setregistry registers here; --base64 for Intune.\n"
    "\n"
    "Exit status 3: a usage error.\n";

constexpr int usage_status = 3;

int usage_error(const std::string& message)
{
    std::fprintf(stderr, "ostrilo-admin: %s\n\n%s", message.c_str(), usage_text);
    return usage_status;
}

struct arguments {
    std::optional<std::string> configdir;
    std::vector<std::string> rules;
    bool rules_given = false;
    bool json = false;
    explain_keys keys;                                         // explain's --strict-host, --safe-arguments and --unwrap
    std::vector<std::pair<std::string, std::string>> options;  // --name value, for import-sitelist and --out
    bool base64 = false;                                       // default-associations --base64
    std::vector<std::string> operands;
};

// Options may come anywhere; "--" ends them. Gives an error text or none.
std::optional<std::string> parse(const std::vector<std::string>& words, const std::vector<std::string>& valued,
                                 bool takes_rules, arguments& out, bool takes_base64 = false,
                                 bool takes_strict_host = false)
{
    bool in_rules = false;
    bool options_done = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (options_done || word.empty() || word[0] != '-') {
            (in_rules ? out.rules : out.operands).push_back(word);
            continue;
        }
        in_rules = false;
        if (word == "--") {
            options_done = true;
        } else if (word == "--json") {
            out.json = true;
        } else if (word == "-configdir" || word == "--configdir") {
            if (i + 1 == words.size())
                return word + " needs a folder";
            out.configdir = words[++i];
        } else if (word == "--strict-host" && (takes_rules || takes_strict_host)) {
            out.keys.strict_host = true;
        } else if (word == "--safe-arguments" && takes_rules) {
            out.keys.safe_arguments = true;
        } else if (word == "--base64" && takes_base64) {
            out.base64 = true;
        } else if ((word == "--unwrap" || word == "--unwrap=1" || word == "--unwrap=2") && takes_rules) {
            out.keys.unwrap_links = word.back() == '2' ? 2 : 1;
        } else if (word == "--rules" && takes_rules) {
            in_rules = true;
            out.rules_given = true;
        } else if (std::find(valued.begin(), valued.end(), word) != valued.end()) {
            if (i + 1 == words.size())
                return word + " needs a value";
            out.options.emplace_back(word, words[i + 1]);
            ++i;
        } else {
            return "unknown option " + word;
        }
    }
    return std::nullopt;
}

void print_json(const nlohmann::ordered_json& value)
{
    std::cout << value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

#ifdef _WIN32
// The tool's own run, built as Ostrilo.exe builds its run: the -configdir
// folder without trailing backslashes, everything else found on demand.
run_context tool_run(const arguments& args)
{
    run_context run;
    run.configdir = configdir_folder(args.configdir);
    return run;
}
#endif

int run_explain(const arguments& args)
{
    std::vector<std::string> urls = args.operands;
    if (urls.empty()) {
        for (std::string line; std::getline(std::cin, line);) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (!line.empty())
                urls.push_back(line);
        }
    }
#ifndef _WIN32
    if (!args.rules_given)
        return usage_error("explain needs --rules FILE... here: there are no Windows folders to search");
#endif
#ifdef _WIN32
    run_context run = tool_run(args);
#endif
    explain_keys keys = args.keys;
#ifdef _WIN32
    // Here the keys of ostrilo.cfg apply too.
    const explain_keys set_here = explain_keys_here(run);
    keys.strict_host = keys.strict_host || set_here.strict_host;
    keys.safe_arguments = keys.safe_arguments || set_here.safe_arguments;
    if (keys.unwrap_links == 0)
        keys.unwrap_links = set_here.unwrap_links;
    // The keys this machine sets, named where they change a decision; an
    // option of explain stands for its key.
    key_sources sources = key_sources_here(run);
    for (const auto& [forced, name] : {std::pair(args.keys.strict_host, "strict_host_match"),
                                       std::pair(args.keys.safe_arguments, "safe_browser_arguments"),
                                       std::pair(args.keys.unwrap_links != 0, "unwrap_links")})
        if (forced)
            sources.erase(name);
#endif
    nlohmann::ordered_json all = nlohmann::ordered_json::array();
    for (const std::string& url : urls) {
        explanation e;
#ifdef _WIN32
        if (!args.rules_given)
            e = explain_here(run, url, keys);
        else
#endif
            e = explain_files(url, args.rules, keys);
#ifdef _WIN32
        note_deciding_keys(e, sources);
#endif
        if (args.json)
            all.push_back(explanation_json(e));
        else
            std::cout << explanation_text(e);
    }
    if (args.json)
        print_json(all);
    return 0;
}

// The file's bytes, or none when it cannot be read; at most limit + 1 of
// them, so that the reader can tell a file beyond its limit.
std::optional<std::string> read_whole_file(const std::string& path,
                                           std::size_t limit = std::numeric_limits<std::size_t>::max() - 1)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    std::string text;
    for (char block[65536]; file && text.size() <= limit;) {
        file.read(block, sizeof block);
        text.append(block, static_cast<std::size_t>(file.gcount()));
    }
    if (file.bad())
        return std::nullopt;
    text.resize(std::min(text.size(), limit + 1));
    return text;
}

int run_lint(const arguments& args)
{
    std::vector<std::string> paths = args.operands;
    if (paths.empty()) {
#ifdef _WIN32
        run_context run = tool_run(args);
        // The ostrilo.cfg Ostrilo reads here first, then its rule files.
        if (const std::optional<std::string> cfg = find_ostrilo_cfg(run))
            paths.push_back(*cfg);
        const std::vector<std::string> rule_files = rule_files_here(run);
        if (rule_files.empty())
            std::fprintf(stderr, "ostrilo-admin: Ostrilo finds no rule file here\n");
        paths.insert(paths.end(), rule_files.begin(), rule_files.end());
        if (paths.empty())
            return 0;
#else
        return usage_error("lint needs rule files here: there are no Windows folders to search");
#endif
    }
    std::vector<rule_file_bytes> files;
    for (const std::string& path : paths) {
        std::optional<std::string> content = read_whole_file(path);
        if (!content) {
            std::fprintf(stderr, "ostrilo-admin: cannot read %s\n", path.c_str());
            return 2;
        }
        files.push_back({path, *content});
    }
    return lint_command(files, args.json, args.keys.strict_host);
}

int run_import(const arguments& args)
{
    if (args.operands.size() != 1)
        return usage_error("import-sitelist needs exactly one site list file");
    std::optional<std::string> xml = read_whole_file(args.operands[0], sitelist_max_bytes);
    if (!xml) {
        std::fprintf(stderr, "ostrilo-admin: cannot read %s\n", args.operands[0].c_str());
        return 2;
    }
    const command_output output = import_command(*xml, args.options, args.keys.strict_host);
    std::cout << output.out;
    std::cerr << output.err;
    return output.status;
}

#ifdef _WIN32
std::vector<std::string> utf8_arguments()
{
    int count = 0;
    const unique_local<wchar_t**> wide(CommandLineToArgvW(GetCommandLineW(), &count));
    std::vector<std::string> words;
    for (int i = 1; wide && i < count; ++i)
        words.push_back(wide_to_utf8(wide.get()[i]).value_or(std::string()));
    return words;
}
#endif

}  // namespace

int main(int argc, char** argv)
{
    // The product's log records and its progress lines are not this program's output.
#ifdef _WIN32
    set_log_to_stderr(false);
#endif
    set_stdout_lines(false);
    std::vector<std::string> words(argv + 1, argv + argc);
#ifdef _WIN32
    // The narrow arguments are in the ANSI code page; the links Ostrilo.exe
    // looks up are the UTF-8 form of its wide arguments.
    words = utf8_arguments();
#endif
    if (words.empty())
        return usage_error("no command given");
    const std::string command = words.front();
    words.erase(words.begin());
    if (command == "--help" || command == "-h" || command == "help" || command == "/?") {
        std::fputs(usage_text, stdout);
        return 0;
    }
    arguments args;
    std::optional<std::string> error;
    if (command == "explain") {
        error = parse(words, {}, true, args);
        return error ? usage_error(*error) : run_explain(args);
    }
    if (command == "lint") {
        error = parse(words, {}, false, args, false, true);
        return error ? usage_error(*error) : run_lint(args);
    }
    if (command == "import-sitelist") {
        error = parse(words, {"--edge", "--ie", "--other", "--edge-values", "--ie-values"}, false, args, false, true);
        return error ? usage_error(*error) : run_import(args);
    }
    if (command == "status") {
        const auto refresh = std::find(words.begin(), words.end(), "--refresh");
        const bool refreshing = refresh != words.end();
        if (refreshing)
            words.erase(refresh);
        error = parse(words, {}, false, args);
        if (!error && !args.operands.empty())
            error = "status takes no operands";
        if (error)
            return usage_error(*error);
#ifdef _WIN32
        run_context run = tool_run(args);
        return print_status(run, args.json, refreshing);
#else
        return usage_error("status looks at a Windows user's registry and folders; it runs on Windows only");
#endif
    }
    if (command == "default-associations") {
        error = parse(words, {"--out"}, false, args, true);
        if (!error && !args.operands.empty())
            error = "default-associations takes no operands";
        if (error)
            return usage_error(*error);
#ifdef _WIN32
        run_context run = tool_run(args);
        std::optional<std::string> out;
        if (!args.options.empty())
            out = args.options.back().second;
        return write_default_associations(run, out, args.base64);
#else
        return usage_error("default-associations reads the product name as Ostrilo does here; it runs on Windows only");
#endif
    }
    return usage_error("unknown command " + command);
}
