// ostrilo-admin lint over two rule files: the bytes before and after the first NUL.
#include <tuple>

#include "fuzz.h"
#include "lint.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto [first, second] = split_at_nul(input_text(data, size));
    const std::vector<rule_file_text> files = {{"a\\url whitelist.txt", std::string(first)},
                                               {"b\\url_whitelist.txt", std::string(second)}};
    const std::vector<lint_finding> findings = lint_rule_files(files);
    bool error = false;
    for (const lint_finding& finding : findings) {
        check(finding.line >= 1 && finding.column >= 1 && !finding.code.empty() && !finding.text.empty() &&
                  (finding.file == files[0].path || finding.file == files[1].path),
              "a finding has a linted file, a place, a text and a code");
        error = error || finding.error;
    }
    const auto place = [&](const lint_finding& f) { return std::tuple(f.file != files[0].path, f.line, f.column); };
    check(std::is_sorted(findings.begin(), findings.end(), [&](auto& a, auto& b) { return place(a) < place(b); }),
          "findings in the order of the files, then by line and column");
    check(lint_exit_status(findings) == (error ? 2 : findings.empty() ? 0 : 1), "the exit status follows the findings");
    return 0;
}
