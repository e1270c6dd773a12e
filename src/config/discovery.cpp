// Where the program finds its files and folders: the program folder, the
// installation folder, APPDATA, the per-user temporary folder, and the
// configuration files and the viewer program. What is found is cached for the
// run; what is not found is searched again, with its log records, next time.
#include <windows.h>
#include <shlwapi.h>

#include <direct.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cwchar>
#include <span>

#include "kvix_environment.h"
#include "log.h"
#include "nb_utils.h"
#include "ostrilo.h"
#include "run_context.h"
#include "unique_resource.h"

namespace {

// Where a search candidate lies. A bare name is tested as it stands, relative
// to the current directory (or to the root of the current drive when it
// begins with a backslash), and leaves no log record.
enum class place { program_folder, installation_folder, appdata, bare };

struct candidate {
    place where;
    const char* name;
};

// The names that begin with a backslash are joined with a second one in
// front; Windows accepts the doubled separator.
const candidate ostrilo_cfg_candidates[] = {
    {place::program_folder, "ostrilo.cfg"},
    {place::program_folder, "\\ostrilo.cfg"},
    {place::installation_folder, "ostrilo.cfg"},
    {place::installation_folder, "\\ostrilo.cfg"},
    {place::bare, "ostrilo.cfg"},
    {place::bare, "\\ostrilo.cfg"},
};

const candidate kvix_cfg_candidates[] = {
    {place::program_folder, "kvix.cfg"},
    {place::program_folder, "\\kvix.cfg"},
    {place::installation_folder, "kvix.cfg"},
    {place::installation_folder, "\\kvix.cfg"},
    {place::bare, "kvix.cfg"},
    {place::bare, "\\kvix.cfg"},
};

// APPDATA is read only when the first two candidates fail, so a missing
// APPDATA ends the run only when the file is not beside the program.
const candidate kvix_vnc_candidates[] = {
    {place::program_folder, "kvix.vnc"}, {place::program_folder, "\\vnc\\kvix.vnc"},
    {place::appdata, "\\vnc\\kvix.vnc"}, {place::appdata, "kvix.vnc"},
    {place::bare, "kvix.vnc"},           {place::bare, "\\vnc\\kvix.vnc"},
};

const candidate vncviewer_candidates[] = {
    {place::program_folder, "vncviewer.exe"},
    {place::installation_folder, "vncviewer.exe"},
    {place::bare, "vncviewer.exe"},
};

// The installpath buffer: 8096 wide characters, the terminator included.
constexpr std::size_t installpath_size = 8096;

const char* const product_folder_name = "Corvane-Pro";
const char* const selector_folder_name = "Corvane-Selector";

std::optional<std::string> find_candidate(run_context& run, const candidate& c)
{
    switch (c.where) {
        case place::program_folder:
            return find_file_in_folder(program_folder(), c.name);
        case place::installation_folder:
            return find_file_in_folder(get_kvix_installpath(run), c.name);
        case place::appdata:
            return find_file_in_folder(get_appdata_path(run, 0), c.name);
        case place::bare:
            break;
    }
    if (file_exists(std::string_view(c.name))) {
        return std::string(c.name);
    }
    return std::nullopt;
}

const std::optional<std::string>& search(run_context& run, std::optional<std::string>& cache,
                                         std::span<const candidate> candidates)
{
    if (cache) {
        return cache;
    }
    for (const candidate& c : candidates) {
        if (std::optional<std::string> found = find_candidate(run, c)) {
            cache = std::move(found);
            break;
        }
    }
    return cache;
}

bool is_directory(const std::string& path)
{
    struct _stat64 info;
    return _stat64(path.c_str(), &info) == 0 && (info.st_mode & _S_IFDIR) != 0;
}

// %PROGRAMFILES%\<product>, else %PROGRAMFILES(X86)%\<product>, when it is a
// directory; an unset variable is skipped.
std::optional<std::string> product_folder_in_program_files(const char* product)
{
    for (const char* variable : {"PROGRAMFILES", "PROGRAMFILES(X86)"}) {
        const char* base = std::getenv(variable);
        if (!base) {
            continue;
        }
        std::string path = std::string(base) + "\\" + product;
        if (is_directory(path)) {
            return path;
        }
    }
    return std::nullopt;
}

std::string join_folder_and_name(std::string_view folder, std::string_view name)
{
    std::string path;
    if (!folder.empty()) {
        // The separator goes in every time, also behind a folder that ends
        // in one or before a name that begins with one.
        path.append(folder).append("\\");
    }
    return path.append(name);
}

const wchar_t* or_null_text(const wchar_t* text)
{
    return text ? text : L"(null)";
}

}  // namespace

std::optional<std::string> find_file_in_folder(std::string_view folder, std::string_view name)
{
    const std::string path = join_folder_and_name(folder, name);
    LOG_ENVIRONMENT(LOG_TRACE, "Looking for file <%s> -- ", path.c_str());
    if (file_exists(std::string_view(path))) {
        LOG_ENVIRONMENT(LOG_TRACE, "THERE IT IS!");
        return path;
    }
    LOG_ENVIRONMENT(LOG_TRACE, "it is not there!");
    return std::nullopt;
}

std::optional<std::string> find_ostrilo_cfg(run_context& run)
{
    return search(run, run.found.ostrilo_cfg, ostrilo_cfg_candidates);
}

// The opt-in keys of ostrilo.cfg must leave no trace in the log: when the file
// has not been found yet, the same places are tried without records, and a
// find is not cached, so that the next ordinary search logs exactly as before.
std::optional<std::string> find_ostrilo_cfg_quietly(const run_context& run)
{
    if (run.found.ostrilo_cfg) {
        return run.found.ostrilo_cfg;
    }
    const std::string installation =
        run.found.installpath ? *run.found.installpath
                              : product_folder_in_program_files(product_folder_name).value_or(program_folder());
    for (const candidate& c : ostrilo_cfg_candidates) {
        const std::string folder = c.where == place::program_folder        ? program_folder()
                                   : c.where == place::installation_folder ? installation
                                                                           : std::string();
        std::string path = join_folder_and_name(folder, c.name);
        if (file_exists(std::string_view(path))) {
            return path;
        }
    }
    return std::nullopt;
}

std::optional<std::string> find_kvix_vnc(run_context& run)
{
    return search(run, run.found.kvix_vnc, kvix_vnc_candidates);
}

std::optional<std::string> find_kvix_cfg(run_context& run)
{
    return search(run, run.found.kvix_cfg, kvix_cfg_candidates);
}

std::optional<std::string> find_vncviewer(run_context& run)
{
    return search(run, run.found.vncviewer, vncviewer_candidates);
}

const std::string& get_kvix_installpath(run_context& run)
{
    std::optional<std::string>& installpath = run.found.installpath;
    if (!installpath) {
        installpath = product_folder_in_program_files(product_folder_name);
        if (!installpath) {
            installpath = program_folder();
        }
    }
    LOG_ENVIRONMENT(LOG_TRACE, "Kvix installation path: %s", installpath->c_str());
    return *installpath;
}

std::string get_selector_installpath()
{
    if (std::optional<std::string> folder = product_folder_in_program_files(selector_folder_name)) {
        return *folder;
    }
    return program_folder();
}

const std::string& get_appdata_path(run_context& run, int create_vnc)
{
    std::optional<std::string>& appdata_path = run.found.appdata;
    if (appdata_path) {
        return *appdata_path;
    }
    const char* value = std::getenv("APPDATA");
    if (!value) {
        fatal_error(1, L"Die Systemvariable APPDATA wurde nicht gefunden.", event_kind::appdata_missing);
    }
    appdata_path = value;
    if (create_vnc) {
        const std::string vnc = *appdata_path + "\\vnc";
        if (_mkdir(vnc.c_str()) != 0 && errno != EEXIST) {
            fatal_error(1, L"Die Erstellung des vnc-Unterverzeichnisses in %APPDATA% ist fehlgeschlagen.",
                        event_kind::appdata_folder_failed);
        }
    }
    return *appdata_path;
}

std::optional<std::string> get_kvix_tempdir(run_context& run)
{
    std::optional<std::string>& kvix_tempdir = run.found.tempdir;
    if (kvix_tempdir) {
        return kvix_tempdir;
    }
    constexpr DWORD temp_path_limit = 4086;
    char temp_path[temp_path_limit + 1] = {};
    const DWORD length = GetTempPathA(temp_path_limit, temp_path);
    // When Windows reports no temporary directory (0, or one too long for
    // the buffer), the folder under APPDATA is taken, as when the one under
    // the temporary directory cannot be created.
    if (length > 0 && length < temp_path_limit) {
        const std::string folder = std::string(temp_path, length) + "kvixtemp\\";
        if (_mkdir(folder.c_str()) == 0 || errno == EEXIST) {
            kvix_tempdir = folder;
            return kvix_tempdir;
        }
    }
    const std::string folder = format_bounded(4095, "%s\\%s\\", get_appdata_path(run, 1).c_str(), "kvixtemp");
    if (_mkdir(folder.c_str()) != 0 && errno != EEXIST) {
        return std::nullopt;
    }
    kvix_tempdir = folder;
    return kvix_tempdir;
}

std::optional<std::wstring> has_kvix_installpath_file(run_context& run, const wchar_t* folder, const wchar_t* subfile)
{
    std::wstring& installpath_buffer = run.found.installpath_buffer;
    LOG_OSTRILO(LOG_TRACE, "has_kvix_installpath_file(\"%ls\", \"%ls\")", or_null_text(folder), or_null_text(subfile));
    if (!folder || !subfile) {
        LOG_OSTRILO(LOG_WARN, "No path or no subfile, returning.");
        return std::nullopt;
    }
    // One separator and the terminator.
    const unsigned long p_len = static_cast<unsigned long>(std::wcslen(folder) + std::wcslen(subfile) + 2);
    LOG_OSTRILO(LOG_TRACE, "p_len is %lu.", p_len);
    if (p_len > installpath_size) {
        fatal_error(1, L"Der Pfad ist länger als 8096 Zeichen.", event_kind::path_too_long);
    }
    LOG_OSTRILO(LOG_TRACE, "Got memory. Copying this string now into it: <%ls\\%ls>", folder, subfile);
    installpath_buffer = format_wide_bounded(installpath_size, L"%ls\\%ls", folder, subfile);
    LOG_OSTRILO(LOG_TRACE, "Made a path. It is <%ls>. I'll check if it exists now.", installpath_buffer.c_str());
    if (PathFileExistsW(installpath_buffer.c_str())) {
        LOG_OSTRILO(LOG_TRACE, "It exists. Returning now.");
        return installpath_buffer;
    }
    LOG_OSTRILO(LOG_TRACE, "It does not exist. Goodbye function.");
    return std::nullopt;
}

std::optional<std::wstring> wc_get_installpath_subfile(run_context& run, const wchar_t* subfile)
{
    std::wstring& installpath_buffer = run.found.installpath_buffer;
    LOG_OSTRILO(LOG_TRACE, "wc_get_installpath_subfile(\"%ls\")", or_null_text(subfile));
    LOG_OSTRILO(LOG_TRACE, "First try: check if there is the subfile in KVIX_INSTALLPATH.");
    if (has_kvix_installpath_file(run, _wgetenv(L"KVIX_INSTALLPATH"), subfile)) {
        LOG_OSTRILO(LOG_TRACE, "Found file in <%ls>", installpath_buffer.c_str());
        return installpath_buffer;
    }

    LOG_OSTRILO(LOG_TRACE,
                "Second try: there could be a Corvane-Selector\\subfile or a Corvane-Pro\\subfile in PROGRAMFILES.");
    const wchar_t* const bases[] = {L"PROGRAMFILES", L"PROGRAMFILES(X86)"};
    const wchar_t* const product_folders[] = {L"Corvane-Selector", L"Corvane-Pro"};
    for (int pass = 0; pass < 2; ++pass) {
        LOG_OSTRILO(LOG_TRACE, "Check loop %i", pass);
        const wchar_t* base = _wgetenv(bases[pass]);
        if (!base) {
            continue;
        }
        LOG_OSTRILO(LOG_TRACE, "There is a path <%ls>", base);
        const std::size_t subfile_length = subfile ? std::wcslen(subfile) : 0;
        for (const wchar_t* product : product_folders) {
            // Two separators and the terminator.
            if (std::wcslen(base) + std::wcslen(product) + subfile_length + 3 > installpath_size) {
                fatal_error(1, L"Pfad zu lang.", event_kind::path_too_long);
            }
            installpath_buffer =
                format_wide_bounded(installpath_size, L"%ls\\%ls\\%ls", base, product, or_null_text(subfile));
            LOG_OSTRILO(LOG_DEBUG, "Testing path <%ls>", installpath_buffer.c_str());
            if (PathFileExistsW(installpath_buffer.c_str())) {
                LOG_OSTRILO(LOG_DEBUG, "<%ls> exists. Nice!", installpath_buffer.c_str());
                return installpath_buffer;
            }
            LOG_OSTRILO(LOG_WARN, "<%ls> doesn't exist", installpath_buffer.c_str());
        }
    }

    LOG_OSTRILO(LOG_TRACE, "Third and final try: maybe there is a subfile in the current working dir.");
    const unique_malloc<wchar_t*> cwd(_wgetcwd(nullptr, 0));
    if (has_kvix_installpath_file(run, cwd.get(), subfile)) {
        LOG_OSTRILO(LOG_DEBUG, "%ls exists. Nice!", installpath_buffer.c_str());
        return installpath_buffer;
    }
    // The buffer holds the last path formed, whichever try formed it.
    LOG_OSTRILO(LOG_ERROR, "<%ls> doesn't exist. Failed. Returning NULL", installpath_buffer.c_str());
    return std::nullopt;
}

void free_environment(run_context& run)
{
    run.found.ostrilo_cfg.reset();
    run.found.kvix_cfg.reset();
    run.found.kvix_vnc.reset();
    run.found.vncviewer.reset();
    run.found.tempdir.reset();
}
