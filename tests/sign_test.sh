#!/bin/sh
# scripts/package.sh with a throwaway code-signing key and a timestamp authority on 127.0.0.1, both made
# here with openssl: programs, MSI and the zip's programs must pass osslsigncode verify with a timestamp,
# the signed MSI must install (with signed programs) and uninstall silently under Wine, and the policy
# templates ship in the zip and beside the MSI.
# Usage: sign_test.sh REPO BUILD (run by ctest in the build's Wine prefix)
set -eu
repo=$1 build=$2 work=$(mktemp -d) server=
trap '[ -z "$server" ] || kill "$server"; rm -rf "$work"' EXIT
cd "$work" && echo test > pass && echo 01 > serial
for who in sign:codeSigning tsa:critical,timeStamping; do
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Ostrilo Test ${who%%:*}" -keyout "${who%%:*}.key" \
    -out "${who%%:*}.crt" -addext keyUsage=critical,digitalSignature -addext "extendedKeyUsage=${who#*:}" 2>/dev/null
done
openssl pkcs12 -export -inkey sign.key -in sign.crt -out sign.p12 -passout file:pass
printf '%s\n' '[tsa]' default_tsa=t '[t]' serial=serial signer_cert=tsa.crt signer_key=tsa.key signer_digest=sha256 \
  default_policy=1.2.3.4.1 digests=sha256 ess_cert_id_alg=sha256 > tsa.cnf
# Each POST is a query answered by openssl ts -reply; the server ends by itself after ten minutes.
cat > tsa.py <<'PY'
import http.server, subprocess, threading
class Reply(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        reply = subprocess.run(["openssl", "ts", "-reply", "-config", "tsa.cnf", "-queryfile", "/dev/stdin",
                                "-out", "/dev/stdout"], input=query, capture_output=True).stdout
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.end_headers()
        self.wfile.write(reply)
httpd = http.server.HTTPServer(("127.0.0.1", 0), Reply)
open("port", "w").write(str(httpd.server_address[1]))
threading.Timer(600, httpd.shutdown).start()
httpd.serve_forever()
PY
python3 tsa.py 2>/dev/null & server=$!
for _ in $(seq 50); do [ -s port ] && break; sleep 0.1; done
OSTRILO_SIGN_PKCS12=$work/sign.p12 OSTRILO_SIGN_PASSWORD_FILE=$work/pass OSTRILO_BUILD_DIR=$build \
  OSTRILO_SIGN_TIMESTAMP_URL=http://127.0.0.1:$(cat port)/ "$repo/scripts/package.sh" > log 2>&1 || { cat log; exit 1; }
verify() {
  osslsigncode verify -CAfile sign.crt -TSA-CAfile tsa.crt -in "$1" > log 2>&1 && grep -q "^Signature verification: ok" log &&
    grep -q "^Timestamp Server Signature verification: ok" log || { echo "not signed and timestamped: $1"; cat log; exit 1; }
}
msi=$(ls "$build"/dist/*.msi) installed="$build/wineprefix/drive_c/Program Files/Corvane-Pro"
unzip -q "$build"/dist/*.zip -d zip
# The policy templates ship in the zip and beside the MSI as they are in the source.
for template in ostrilo.admx en-US/ostrilo.adml de-DE/ostrilo.adml; do
  cmp -s "$repo/packaging/policy/$template" zip/*/policy/$template &&
    cmp -s "$repo/packaging/policy/$template" "$build/dist/policy/$template" || { echo "not shipped: $template"; exit 1; }
done
for file in "$build"/dist/programs/*.exe "$msi" zip/*/*.exe; do verify "$file"; done
"$build/wine-run.sh" msiexec /i "Z:$(echo "$msi" | tr / '\\')" /qn </dev/null >/dev/null 2>&1
verify "$installed/Ostrilo.exe" && verify "$installed/ostrilo-admin.exe"
"$build/wine-run.sh" msiexec /x "Z:$(echo "$msi" | tr / '\\')" /qn </dev/null >/dev/null 2>&1
[ ! -e "$installed/Ostrilo.exe" ] || { echo "the removal left $installed/Ostrilo.exe"; exit 1; }
