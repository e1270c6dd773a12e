#!/usr/bin/env bash
# Signs the given files (PE programs or MSI packages) in place with
# osslsigncode: Authenticode, SHA-256, with an RFC 3161 timestamp when
# OSTRILO_SIGN_TIMESTAMP_URL is set. The key comes from the environment:
#   OSTRILO_SIGN_PKCS12         a .p12/.pfx file, its password in
#   OSTRILO_SIGN_PASSWORD_FILE  (first line)
# or a PKCS#11 token:
#   OSTRILO_SIGN_PKCS11_MODULE  the token's PKCS#11 module (.so)
#   OSTRILO_SIGN_KEY            the key's PKCS#11 URI or id
#   OSTRILO_SIGN_CERT           the certificate chain (PEM or DER file)
#   OSTRILO_SIGN_PASSWORD_FILE  optional: the token's PIN
# Without either key it changes nothing. A file that is signed already is
# signed anew. Usage: scripts/sign.sh FILE...   (exit status 1 on a failure)
set -euo pipefail

key=()
if [ -n "${OSTRILO_SIGN_PKCS12:-}" ]; then
  key=(-pkcs12 "$OSTRILO_SIGN_PKCS12")
elif [ -n "${OSTRILO_SIGN_PKCS11_MODULE:-}" ]; then
  key=(-pkcs11module "$OSTRILO_SIGN_PKCS11_MODULE" -key "${OSTRILO_SIGN_KEY:?OSTRILO_SIGN_KEY is not set}"
       -certs "${OSTRILO_SIGN_CERT:?OSTRILO_SIGN_CERT is not set}")
else
  exit 0
fi
[ -z "${OSTRILO_SIGN_PASSWORD_FILE:-}" ] || key+=(-readpass "$OSTRILO_SIGN_PASSWORD_FILE")
[ -z "${OSTRILO_SIGN_TIMESTAMP_URL:-}" ] || key+=(-ts "$OSTRILO_SIGN_TIMESTAMP_URL")

for file in "$@"; do
  unsigned="$file.unsigned"
  # osslsigncode signs only a file without a signature.
  if ! osslsigncode remove-signature -in "$file" -out "$unsigned" >/dev/null 2>&1; then
    cp "$file" "$unsigned"
  fi
  rm -f "$file.signed"
  if ! osslsigncode sign "${key[@]}" -h sha256 -n "Ostrilo" -in "$unsigned" -out "$file.signed" >"$file.sign.log" 2>&1; then
    cat "$file.sign.log" >&2
    rm -f "$unsigned" "$file.signed" "$file.sign.log"
    echo "sign: could not sign $file" >&2
    exit 1
  fi
  mv "$file.signed" "$file"
  rm -f "$unsigned" "$file.sign.log"
done
