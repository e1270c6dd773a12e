#!/usr/bin/env bash
# Breaks the product on purpose, one fault at a time, and checks that the
# tests notice. Each row of the table below is one fault ("mutant"):
#   id @@ file @@ perl -0 substitution @@ ctest tests to run @@ gtest filter @@ what the fault is
# For each row the script applies the substitution to the file (refusing rows
# whose substitution no longer changes anything: re-make them from the
# description), builds only the named test programs, runs them under Wine and
# Xvfb with the filter (native_* tests: natively, from build/native), records "caught" or "SURVIVED", and puts the file back.
#
# Usage: scripts/mutants.sh [ID...]      (no ID: every row)
# Results: build/mutants/results.txt, one log per row in build/mutants/<id>.log.
# src/, tools/ and packaging/ must have no uncommitted changes; the script never leaves a mutant behind.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${OSTRILO_BUILD_DIR:-$repo/build}"

table() {
cat <<'ROWS'
file-order-viewer @@ src/config/discovery.cpp @@ s/(\{place::program_folder, "vncviewer.exe"\},)(\s*)(\{place::installation_folder, "vncviewer.exe"\},)/$3$2$1/ @@ e2e_environment @@ FileSearch.* @@ vncviewer.exe: the installation folder searched before the program folder
file-order-appdata @@ src/config/discovery.cpp @@ s/(\{place::appdata, "\\\\vnc\\\\kvix.vnc"\},)(\s*)(\{place::appdata, "kvix.vnc"\},)/$3$2$1/ @@ e2e_environment @@ FileSearch.* @@ kvix.vnc: %APPDATA%\kvix.vnc before %APPDATA%\vnc\kvix.vnc
install-order @@ src/config/discovery.cpp @@ s/\{"PROGRAMFILES", "PROGRAMFILES\(X86\)"\}/{"PROGRAMFILES(X86)", "PROGRAMFILES"}/ @@ e2e_environment @@ InstallationFolder.* @@ installation folder: PROGRAMFILES(X86) before PROGRAMFILES
subfile-order @@ src/config/discovery.cpp @@ s/\{L"Corvane-Selector", L"Corvane-Pro"\}/{L"Corvane-Pro", L"Corvane-Selector"}/ @@ e2e_environment @@ FileSearch.* @@ installed programs: the product folder before the selector folder in each Program Files
rule-order @@ src/rules/rule_lookup.cpp @@ s/get_kvix_installpath\(run\), global_location/*appdata_rule_folder(run, mode), global_location/; s/\*appdata_folder, appdata_location/get_kvix_installpath(run), appdata_location/ @@ e2e_entry @@ LookupOrder.* @@ rule lookup: the APPDATA rule file consulted before the installation folder's
cfg-piece-4094 @@ src/config/config_file.cpp @@ s/line_buffer_size = 4095;/line_buffer_size = 4096;/ @@ unit_core @@ * @@ key/value files read in pieces of 4095 bytes instead of 4094
rule-piece-4094 @@ src/rules/rule_match.cpp @@ s/line_piece_bytes = 4094;/line_piece_bytes = 4095;/ @@ unit_core @@ * @@ rule files read in pieces of 4095 bytes instead of 4094
pipe-name-4094 @@ src/viewer/handoff.cpp @@ s/pipe_name_line_bytes = 4094;/pipe_name_line_bytes = 4095;/ @@ unit_core @@ * @@ the pipe-name line read up to 4095 bytes instead of 4094
handoff-4093 @@ src/rules/route_plan.cpp @@ s/remote_text_bound = 4094;/remote_text_bound = 4095;/ @@ unit_core @@ * @@ remote hand-off text cut at 4094 bytes instead of 4093
path-8096 @@ src/config/discovery.cpp @@ s/if \(p_len > installpath_size\)/if (p_len > installpath_size + 1)/ @@ e2e_environment @@ InstallpathSubfile.* @@ KVIX_INSTALLPATH path of 8097 characters accepted
path-8096-pf @@ src/config/discovery.cpp @@ s/subfile_length \+ 3 > installpath_size/subfile_length + 2 > installpath_size/ @@ e2e_environment @@ InstallpathSubfile.* @@ Program Files path of 8097 characters accepted
title-127 @@ src/viewer/discovery.cpp @@ s/window_title_bytes = 128;/window_title_bytes = 129;/ @@ unit_core @@ * @@ window titles examined up to 128 characters instead of 127
browser-call-4095 @@ src/local_browser/browser_call.cpp @@ s/format_wide_bounded\(browser_call_size, /format_wide_bounded(browser_call_size + 1, / @@ unit_core @@ * @@ browser command line cut at 4096 characters instead of 4095
lost-record @@ src/config/discovery.cpp @@ s/\n\s*LOG_ENVIRONMENT\(LOG_TRACE, "THERE IT IS!"\);// @@ e2e_environment @@ FileSearch.* @@ the "THERE IT IS!" record of a found file is lost
changed-record @@ src/config/configdir_cmdline.cpp @@ s/Read configdir from command line: /Read configdir from commandline: / @@ e2e_entry @@ CommandLine.* @@ the configdir record's text changed
exit-minus-3 @@ src/entry/command_line.cpp @@ s/command_action::nothing, -3\)/command_action::nothing, -2)/ @@ unit_core e2e_entry @@ CommandLine.* @@ a run without URL ends with -2 instead of -3
exit-1 @@ src/entry/dispatch.cpp @@ s/return 1;\n(\s*)\}/return 2;\n$1}/ @@ unit_core e2e_entry @@ * @@ a rule naming neither local nor remote ends with 2 instead of 1
registry-value @@ src/registration/registration.cpp @@ s/(NB.HTTP", default_value, L)"Ostrilo URL"/$1"Ostrilo Url"/ @@ e2e_registration @@ Registration.* @@ a registry value's data changed
registry-row @@ src/registration/registration.cpp @@ s/\n\s*\{create, L"Software\\\\Classes\\\\NB.HTTPS\\\\DefaultIcon", default_value, application_icon\},// @@ e2e_registration @@ Registration.* @@ the NB.HTTPS DefaultIcon row is not written
url-encode @@ src/viewer/url_encode.cpp @@ s/\+,-\.\/:;=\?/+,-.\/:;<=?/ @@ unit_core e2e_entry @@ * @@ "<" passes unencoded
pipe-nul @@ src/viewer/handoff.cpp @@ s/encoded.size\(\) \+ 1\)/encoded.size())/ @@ e2e_entry @@ *RunningViewer* @@ the pipe message lacks its NUL byte
help-box-text @@ src/entry/help.cpp @@ s/URL wird zum Viewer weitergeleitet/URL wird zum Viewer weiter geleitet/ @@ e2e_entry @@ Help.* @@ a help box text changed
appdata-box-text @@ src/config/discovery.cpp @@ s/APPDATA wurde nicht gefunden\./APPDATA wurde nicht gefunden!/ @@ e2e_environment @@ FileSearch.* @@ the missing-APPDATA box text changed
clipboard-retries @@ src/viewer/handoff.cpp @@ s/retry < 2 && !clipboard/retry < 3 \&\& !clipboard/ @@ e2e_entry @@ *RunningViewer* @@ the clipboard is tried four times instead of three
clipboard-interval @@ src/viewer/handoff.cpp @@ s/Sleep\(400\);/Sleep(40);/ @@ e2e_entry @@ *RunningViewer* @@ 40 ms instead of 400 ms between clipboard tries (only a clock shows it: expected to survive)
version-bound @@ src/viewer/viewer_decisions.cpp @@ s/make_tuple\(2u, 1u, 4u\)/make_tuple(2u, 1u, 3u)/ @@ e2e_entry @@ *Version* @@ viewer 2.1.3 accepted for -initialURL
kvxp-rewrite @@ src/entry/command_line.cpp @@ s/\n\s*wide_url.replace\(0, 3, L"htt"\);// @@ e2e_entry @@ CommandLine.* @@ a kvxp(s) link is handed on with its kvxp scheme
configdir-backslash @@ src/config/configdir_cmdline.cpp @@ s/format_unbounded\("%s\\\\", /format_unbounded("%s", / @@ unit_core e2e_entry @@ ConfigDir.*:CommandLine.* @@ the -configdir folder without its trailing backslash
appdata-fallback @@ src/config/discovery.cpp @@ s/get_appdata_path\(run, 1\).c_str\(\), "kvixtemp"/get_appdata_path(run, 0).c_str(), "kvixtemp"/ @@ e2e_environment @@ TempFolder.* @@ the fallback temporary folder under APPDATA makes no vnc folder
old-rotation @@ src/log/log.cpp @@ s/"%s.old"/"%s.bak"/ @@ e2e_environment @@ LogFile.* @@ the previous log kept as feldrun.log.bak instead of .old
ie-last-resort @@ src/local_browser/local_browser.cpp @@ s/= open_url_with_ie\(run, url\)\n/= false\n/ @@ e2e_entry @@ LocalBrowser.* @@ no Internet Explorer as the last resort
dot-rule @@ src/rules/rule_match.cpp @@ s/segment.front\(\) == '\.'/segment.front() == ','/ @@ unit_core @@ * @@ "*.example.com" no longer covers "example.com"
slash-star-retry @@ src/rules/rule_match.cpp @@ s/pattern.ends_with\("\/\*"\) &&/pattern.ends_with("\/+") \&\&/ @@ unit_core @@ * @@ no retry without a trailing "/*"
remote-utf8 @@ src/entry/dispatch.cpp @@ s/plan.widen_bytes \? char_to_wchar/true ? char_to_wchar/ @@ unit_core e2e_entry @@ * @@ a remote rule's link handed on byte by byte, not as UTF-8 (ß as %c3%83%c2%9f instead of %c3%9f)
strict-host @@ src/rules/rule_match.cpp @@ s/strict_form \? strict_pattern_takes\(pattern, strict_parts\)/strict_form ? rule_pattern_takes(pattern, url)/ @@ unit_core e2e_entry @@ * @@ strict_host_match=1 lets a spoofing link match by its path
strict-one-scheme @@ src/rules/rule_match.cpp @@ s/if \(strict_host\)\n/if (false)\n/ @@ e2e_entry @@ Hostile.* @@ strict_host_match=1 drops both schemes of https:\/\/http:\/\/host\/, as the default matching does, instead of the one a browser drops
safe-blank @@ src/local_browser/browser_call.cpp @@ s/c <= 0x20 \|\|/c < 0x20 ||/ @@ unit_core e2e_entry @@ * @@ safe_browser_arguments=1 passes a blank unencoded
strict-configdir @@ src/entry/command_line.cpp @@ s/\n\s*configdir_source = spaced.substr\(0, narrow_split->head_end\);// @@ e2e_entry @@ Hostile.* @@ strict_command_line=1 reads a -configdir inside the link
copy-other-path @@ src/rules/rule_copy.cpp @@ s/!parsed.damage && parsed.header.source == preset;/!parsed.damage;/ @@ e2e_entry @@ WhitelistCopy.* @@ whitelist_copy=1 uses a copy of another whitelist_path
copy-empty @@ src/rules/rule_copy.cpp @@ s/else if \(bytes.empty\(\) && has_rule_lines/else if (false \&\& has_rule_lines/ @@ e2e_entry @@ WhitelistCopy.* @@ whitelist_copy=1 lets an empty read replace a copy with rules
copy-ctrl-z @@ src/rules/rule_match.cpp @@ s/std::memchr\(in, '\\x1a', got\)/nullptr/ @@ unit_core @@ ScanRuleFile.* @@ whitelist_copy=1 reads a Ctrl-Z as a rule byte, not as the end of the file
copy-new-age @@ src/rules/local_store.cpp @@ s/file_ticks\(now\) > file_ticks\(found.ftLastWriteTime\) \+ 3600 \* second_ticks/true/ @@ e2e_entry @@ WhitelistCopy.ARun* @@ whitelist_copy=1 removes a .new file that a run may be writing now
copy-reread @@ src/rules/rule_copy.cpp @@ s/put_file_in_place\(old.path, header, bytes, stamp\)/put_file_in_place(old.path, header, read_rule_copy(false).body(), stamp)/ @@ e2e_entry @@ WhitelistCopy.* @@ whitelist_copy=1 writes the new copy from the copy re-read by its path, not from this run's read of the file
copy-torn @@ src/rules/local_store.cpp @@ s/read.torn = sized &&/read.torn = false \&\& sized \&\&/ @@ e2e_entry @@ WhitelistCopy.Each* @@ whitelist_copy=1 decides on, and copies, a read during which the file changed
copy-failed-read @@ src/rules/local_store.cpp @@ s/&&\s*GetLastError\(\) != ERROR_BROKEN_PIPE\)/\&\& false)/ @@ e2e_entry @@ WhitelistCopy.Each* @@ whitelist_copy=1 takes a read that failed part-way for the end of the file
copy-stamp @@ src/rules/rule_copy.cpp @@ s/same_bytes && old.stamped &&/same_bytes \&\&/ @@ e2e_entry @@ WhitelistCopy.Each* @@ whitelist_copy=1 keeps a copy changed since it was written as current, its checksum unchecked
explain-pipe @@ src/rules/route_plan.cpp @@ s/url_encode\(handoff_utf8\(plan\)\) \+ '\\0'/url_encode(handoff_utf8(plan))/ @@ native_explain_test e2e_admin @@ * @@ ostrilo-admin explain predicts the pipe bytes without their NUL
lint-code @@ tools/ostrilo-admin/lint.cpp @@ s/"nul-byte"\)/"nul_byte")/ @@ native_lint_test @@ * @@ a lint finding's code changed
sitelist-order @@ src/rules/sitelist.cpp @@ s/sites\[a\].key_size > sites\[b\].key_size/sites[a].key_size < sites[b].key_size/ @@ native_sitelist_test @@ * @@ imported site-list rules shortest entry first
sitelist-line-4094 @@ src/rules/sitelist.cpp @@ s/line_piece_bytes = 4094;/line_piece_bytes = 4095;/ @@ native_sitelist_test @@ * @@ a site-list entry whose rule line is 4094 bytes is written
sitelist-subdomains @@ src/rules/sitelist.cpp @@ s/if \(options.strict_host && !site.ip\)\n(\s*)out.append/if (!site.ip)\n$1out.append/ @@ native_sitelist_test @@ * @@ a site list imported for the default matching gets "*." rules, which a path can spoof
lint-strict-host @@ tools/ostrilo-admin/lint.cpp @@ s/link && !\(strict_host_ && link->second\)/link/ @@ native_sitelist_test @@ * @@ lint --strict-host still warns of a "*." host that strict matching keeps within the host
log-stderr-file @@ src/log/log.cpp @@ s/handle != -2 && handle != 0;/handle != -2 \&\& handle != 0 \&\& GetFileType(reinterpret_cast<HANDLE>(handle)) != FILE_TYPE_DISK;/ @@ e2e_entry @@ CommandLine.* @@ the log fast path drops the records when standard error is a file
unwrap-dot @@ src/rules/unwrap.cpp @@ s/host.ends_with\(name.substr\(1\)\)/host.ends_with(name.substr(2))/ @@ native_unwrap_test @@ * @@ unwrap_links takes a host that only ends like a rewriter's (no dot boundary) for the rewriter
unwrap-opens-inner @@ src/rules/unwrap.cpp @@ s/if \(mode == 2\)\n(\s*)result.opened = /result.opened = / @@ e2e_entry @@ Unwrap.* @@ unwrap_links=1 opens the inner link instead of the wrapped one
unwrap-either-name @@ src/rules/unwrap.cpp @@ s/at = end \+ 1;\n(\s*)\}\n(\s*)return false;/at = end + 1;\n$1}\n$2return found.has_value();/ @@ native_unwrap_test @@ * @@ unwrap_links follows q of a Google redirect that gives url too
unwrap-dot-segment @@ src/rules/unwrap.cpp @@ s/return dots == "\." \? 1 : dots == "\.\." \? 2 : 0;/return 0;/ @@ native_unwrap_test @@ * @@ unwrap_links misses the dot segments a browser takes out of a path, and unwraps a link the browser sends elsewhere
unwrap-as-sent @@ src/rules/unwrap.cpp @@ s/if \(depth == 0 && change\)\n(\s*)why = \*change;/if (false)\n$1why = *change;/ @@ native_unwrap_test @@ * @@ unwrap_links unwraps a link that a browser sends otherwise than written (a tab, a backslash, a dot segment)
unwrap-semicolon @@ src/rules/unwrap.cpp @@ s/return c == '&' \|\| c == ';';/return c == '&';/ @@ native_unwrap_test @@ * @@ unwrap_links reads no ";" as a parameter separator, as some rewriters' servers do
unwrap-v3-token @@ src/rules/unwrap.cpp @@ s/if \(taken != token->size\(\)\)/if (false)/ @@ native_unwrap_test @@ * @@ unwrap_links takes a URL Defense v3 link whose token is longer than its stars
unwrap-escape-opened @@ src/rules/unwrap.cpp @@ s/result.opened = written_as_browser\(current\);/result.opened = current;/ @@ native_unwrap_test e2e_entry @@ Unwrap.* @@ unwrap_links=2 opens the decoded inner link unescaped: a blank or quote in it ends the browser's argument
settings-page-update @@ src/registration/default_apps_page.cpp @@ s/version.update >= row.first_update/version.update > row.first_update/ @@ e2e_registration @@ Registration.* @@ settings_page=1 sends Windows 11 22000.1817 to the Default apps list instead of Ostrilo's own page
quiet-keys @@ src/config/config_file.cpp @@ s/find_ostrilo_cfg_quietly\(run\);/find_ostrilo_cfg(const_cast<run_context\&>(run));/ @@ e2e_entry e2e_environment @@ * @@ reading the opt-in keys logs the search for ostrilo.cfg when it is missing
admin-log @@ tools/ostrilo-admin/main.cpp @@ s/set_log_to_stderr\(false\);/set_log_to_stderr(true);/ @@ e2e_admin @@ * @@ ostrilo-admin lets the product's log records through to standard error
policy-order @@ src/config/policy.cpp @@ s/(\{HKEY_LOCAL_MACHINE, "HKLM", key_source::machine_policy\},)(\s*)(\{HKEY_CURRENT_USER, "HKCU", key_source::user_policy\},)/$3$2$1/ @@ e2e_entry @@ Policy.* @@ the user's policy value wins over the machine's
policy-under-file @@ src/config/config_file.cpp @@ s/(key_value key_in_force\(run_context& run, const config_key& key\)\n\{)\n\s*if \(const std::optional<key_value>& policy = policy_value\(run, key\)\) \{\n\s*return \*policy;\n\s*\}/$1/ @@ e2e_entry @@ Policy.* @@ an opt-in key set by policy is read from ostrilo.cfg instead (a hardening policy switched off by the file)
policy-expand @@ src/config/policy.cpp @@ s/key.kind == key_kind::path && raw.type == REG_EXPAND_SZ/false/ @@ e2e_entry @@ Policy.* @@ a REG_EXPAND_SZ path by policy is refused
policy-template-range @@ packaging/policy/ostrilo.admx @@ s/maxValue="600000"/maxValue="60000"/ @@ native_policy_test @@ * @@ the template's range of whitelist_timeout_ms differs from the program's
asr-folder @@ tools/ostrilo-admin/status_win32.cpp @@ s/program\[path.size\(\)\] == L'\\\\'/program[path.size()] == L'\/'/ @@ e2e_admin @@ AdminStatus.Warns* @@ status misses a Defender exclusion of the folder above Ostrilo.exe
event-without-key @@ src/run/events.cpp @@ s/return \*event_log_key >= event_row_of\(kind\).key;/return true;/ @@ e2e_entry @@ CommandLine.* @@ events written without event_log
event-audit-at-1 @@ src/run/event_table.h @@ s/(link_routed,\s*information,) 2,/$1 1,/ @@ e2e_entry @@ EventLog.* @@ the event of every routed link written with event_log=1
central-strict @@ src/rules/central_cache.cpp @@ s/from_file, mode, true\)/from_file, mode)/ @@ e2e_central_list @@ CentralList.Each* @@ the whitelist_url list's rules matched by strict_host_match's setting, so a path can pose as a listed host
central-redirect-http @@ src/rules/central_refresh.cpp @@ s/"https:\/\/"\)\)\n/"http"))\n/ @@ e2e_central_list @@ CentralList.Each* @@ the refresh follows a redirect to http://
central-markup @@ src/rules/central_convert.cpp @@ s/text\[first\] == '<'\)/false)/ @@ native_central_list_test e2e_central_list @@ CentralList.Each* @@ an HTML page served as the list becomes rules
central-retry @@ src/rules/central_refresh.cpp @@ s/last->second < retry_after_failure_seconds/false/ @@ e2e_central_list @@ CentralList.Each* @@ an offline desktop tries the refresh (and writes a WARN) on every link
event-source-each @@ src/run/events.cpp @@ s/if \(!source_tried\) \{/if (true) {/ @@ e2e_entry @@ WhitelistCopy.EachFault* @@ the event source registered again for each event of a run
event-box-kind @@ src/viewer/handoff.cpp @@ s/event_kind::clipboard_blocked/event_kind::clipboard_failed/ @@ e2e_entry @@ EventLog.* @@ the blocked clipboard's box written as another kind of event
event-doc @@ src/run/event_table.h @@ s/cannot be read \(%2\)\./could not be read (%2)./ @@ native_events_test @@ * @@ an event's message no longer the one docs/event-log.md gives
msi-event-types @@ packaging/ostrilo.wxs @@ s/Name="TypesSupported" Type="integer" Value="7"/Name="TypesSupported" Type="integer" Value="4"/ @@ e2e_install @@ * @@ the MSI registers the event source for Information events only
msi-stubpath @@ packaging/ostrilo.wxs @@ s/-setregistry -atlogon\[CONFIGDIR_ARGUMENT\]/-setregistry -atlogon/ @@ e2e_install @@ * @@ the MSI's Active Setup StubPath loses the -configdir folder
logon-window @@ src/registration/registration.cpp @@ s/mode == registration_mode::at_logon && windows_8_or_newer\(\)/false/ @@ e2e_registration @@ Registration.AtLogon* @@ -setregistry -atlogon opens the page before the desktop has started
logon-asks-again @@ src/registration/registration.cpp @@ s/read_user_string\(asked_key, asked_value\) == name/false/ @@ e2e_registration @@ Registration.AtLogon* @@ the command at the next logon asks a user who was asked before
logon-ostrilos-asked @@ src/registration/registration.cpp @@ s/    if \(opens_http_and_https\(\)\) \{/    if (false) {/ @@ e2e_registration @@ Registration.AtLogon* @@ the user is asked while http and https open with Ostrilo already
msi-property @@ src/config/config_file.cpp @@ s/installation_value\(key\)\)/std::optional<key_value>())/ @@ e2e_registration @@ Registration.AtLogon* @@ the value of the MSI property DEFAULT_BROWSER_PROMPT is not read
log-key @@ src/entry/main.cpp @@ s/loose.log \|\| get_log\(run\) == 1/loose.log/ @@ e2e_environment @@ LogFile.* @@ log=1 writes no log file
log-key-records @@ src/config/config_file.cpp @@ s/policy_value_unrecorded\(run, key\)\) \{\n        return static_cast<int>\(policy->number\);/policy_value(run, key)) {\n        return static_cast<int>(policy->number);/ @@ e2e_environment @@ LogFile.* @@ the log key's reading writes the policy records before the log file is open
ROWS
}

field() { awk -F' @@ ' -v n="$2" '{print $n}' <<<"$1"; }

if [ "${1:-}" != "--inside" ]; then
  git -C "$repo" diff --quiet -- src tools packaging || { echo "src/, tools/ or packaging/ has uncommitted changes; commit or stash them first" >&2; exit 2; }
  "$repo/scripts/build.sh" >/dev/null
  cmake -S "$repo/cmake/native" -B "$build/native" -DCMAKE_BUILD_TYPE=Release >/dev/null
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$repo/scripts/with-wine.sh" "$build" "$0" --inside "$@"
fi
shift

out="$build/mutants"
mkdir -p "$out"
results="$out/results.txt"
: >"$results"
# Builds the named test programs (native_*: in the native build, run without
# Wine) and runs them; a failed run leaves "TESTS-FAILED" in the log.
build_and_run() {
  local wine native t
  wine=$(tr ' ' '\n' <<<"$1" | grep -v '^native_' | tr '\n' ' ' || true)
  native=$(tr ' ' '\n' <<<"$1" | grep '^native_' | tr '\n' ' ' || true)
  : >"$3"
  for t in wine native; do
    local names=${!t} dir="$build"
    [ -n "${names// }" ] || continue
    [ $t = native ] && dir="$build/native"
    cmake --build "$dir" -j2 --target $names >>"$3" 2>&1 || return 1
    GTEST_FILTER="$2" ctest --test-dir "$dir" -R "^($(echo $names | tr ' ' '|'))\$" --timeout 600 \
      --output-on-failure >>"$3" 2>&1 || echo TESTS-FAILED >>"$3"
  done
}

saved=""
restore() { if [ -n "$saved" ]; then cp "$saved" "$current"; rm -f "$saved"; saved=""; fi; }
trap restore EXIT
trap 'exit 1' INT TERM

while IFS= read -r row; do
  id=$(field "$row" 1)
  if [ $# -gt 0 ] && [[ " $* " != *" $id "* ]]; then continue; fi
  current="$repo/$(field "$row" 2)"
  substitution=$(field "$row" 3)
  tests=$(field "$row" 4)
  filter=$(field "$row" 5)
  log="$out/$id.log"
  saved=$(mktemp)
  cp "$current" "$saved"
  perl -0pi -e "$substitution" "$current"
  if cmp -s "$current" "$saved"; then
    result="NOT-APPLIED"
  elif ! build_and_run "$tests" "$filter" "$log"; then
    result="BUILD-FAILED"
  elif ! grep -q '^TESTS-FAILED' "$log"; then
    result="SURVIVED"
  else
    failed=$(sed -n 's/^\[  FAILED  \] \([A-Za-z][A-Za-z0-9_./]*\)[ ,].*/\1/p' "$log" | sort -u | tr '\n' ' ')
    result="caught by ${failed:-(a failed test program)}"
  fi
  restore
  printf '%-20s %-40s %s\n' "$id" "$tests" "$result" | tee -a "$results"
done < <(table)
# Leave the builds as the sources are.
cmake --build "$build" -j2 >/dev/null 2>&1 || true
cmake --build "$build/native" -j2 >/dev/null 2>&1 || true
