#!/bin/sh
# scripts/package.sh with a throwaway code-signing key and a timestamp authority
# on 127.0.0.1, both made here with openssl: the programs and the MSI must pass
# osslsigncode verify against that certificate with a timestamp, and the signed
# MSI must install and uninstall silently under Wine with signed programs.
# Usage: sign_test.sh REPO BUILD (run by ctest in the build's Wine prefix)
set -eu
repo=$1 build=$2
work=$(mktemp -d)
server=
cleanup() { [ -z "$server" ] || kill "$server" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
cd "$work"

echo test > pass.txt
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Ostrilo Test Signing" -keyout sign.key -out sign.crt \
  -addext keyUsage=critical,digitalSignature -addext extendedKeyUsage=codeSigning 2>/dev/null
openssl pkcs12 -export -inkey sign.key -in sign.crt -out sign.p12 -passout file:pass.txt
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Ostrilo Test TSA" -keyout tsa.key -out tsa.crt \
  -addext keyUsage=critical,digitalSignature -addext extendedKeyUsage=critical,timeStamping 2>/dev/null
cat > tsa.cnf <<CNF
[ tsa ]
default_tsa = test_tsa
[ test_tsa ]
serial = $work/tsa.serial
signer_cert = $work/tsa.crt
signer_key = $work/tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512
ess_cert_id_alg = sha256
CNF
echo 01 > tsa.serial
# The authority: each POST is a query, answered by openssl ts -reply; it ends by itself after ten minutes.
cat > tsa.py <<'PY'
import http.server, subprocess, sys, threading
class Reply(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        reply = subprocess.run(["openssl", "ts", "-reply", "-config", "tsa.cnf", "-queryfile", "/dev/stdin",
                                "-out", "/dev/stdout"], input=query, capture_output=True).stdout
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)
    def log_message(self, *args):
        pass
httpd = http.server.HTTPServer(("127.0.0.1", 0), Reply)
open("port", "w").write(str(httpd.server_address[1]))
threading.Timer(600, httpd.shutdown).start()
httpd.serve_forever()
PY
python3 tsa.py &
server=$!
for _ in $(seq 50); do [ -s port ] && break; sleep 0.1; done

OSTRILO_SIGN_PKCS12=$work/sign.p12 OSTRILO_SIGN_PASSWORD_FILE=$work/pass.txt \
  OSTRILO_SIGN_TIMESTAMP_URL=http://127.0.0.1:$(cat port)/ OSTRILO_BUILD_DIR=$build \
  "$repo/scripts/package.sh" > package.log 2>&1 || { cat package.log; exit 1; }
msi=$(ls "$build"/dist/*.msi)
verify() {
  osslsigncode verify -CAfile sign.crt -TSA-CAfile tsa.crt -in "$1" > verify.log 2>&1 &&
    grep -q "Timestamp Server Signature verification: ok" verify.log && grep -q "Signature verification: ok" verify.log ||
    { echo "not signed with a verified timestamp: $1"; cat verify.log; exit 1; }
}
for file in "$build/dist/programs/Ostrilo.exe" "$build/dist/programs/ostrilo-admin.exe" "$msi"; do
  verify "$file"
done
unzip -q "$build"/dist/*.zip -d zip && verify zip/*/Ostrilo.exe && verify zip/*/ostrilo-admin.exe

installed="$build/wineprefix/drive_c/Program Files/Corvane-Pro"
"$build/wine-run.sh" msiexec /i "Z:$(echo "$msi" | tr / '\\')" /qn </dev/null >/dev/null 2>&1
verify "$installed/Ostrilo.exe"
verify "$installed/ostrilo-admin.exe"
"$build/wine-run.sh" msiexec /x "Z:$(echo "$msi" | tr / '\\')" /qn </dev/null >/dev/null 2>&1
[ ! -e "$installed/Ostrilo.exe" ] || { echo "the uninstallation left $installed/Ostrilo.exe"; exit 1; }
echo "signed and timestamped: the programs, the MSI, the zip's programs; installed and removed under Wine"
