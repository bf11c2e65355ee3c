#!/bin/sh
# sign.sh FILE: signs the Windows program FILE in place with Authenticode (osslsigncode), when
# QUILLET_SIGN_PKCS12 names a PKCS#12 file and QUILLET_SIGN_PASSWORD_FILE the file holding its
# password; with QUILLET_SIGN_TIMESTAMP, an RFC 3161 time-stamp server's URL, the signature
# outlives the certificate. Without a certificate it leaves FILE as it is.
set -eu
[ -n "${QUILLET_SIGN_PKCS12:-}" ] || exit 0
file=$1
set -- sign -pkcs12 "$QUILLET_SIGN_PKCS12" -readpass "${QUILLET_SIGN_PASSWORD_FILE:?needs QUILLET_SIGN_PASSWORD_FILE}" \
    -h sha256 -n "Quillet firmware updater"
[ -z "${QUILLET_SIGN_TIMESTAMP:-}" ] || set -- "$@" -ts "$QUILLET_SIGN_TIMESTAMP"
rm -f "$file.signed"
osslsigncode "$@" -in "$file" -out "$file.signed" >"$file.sign.log" 2>&1 ||
    { cat "$file.sign.log" >&2; rm -f "$file.sign.log" "$file.signed"; exit 1; }
rm -f "$file.sign.log"
mv "$file.signed" "$file"
