#!/bin/sh
# Authenticode-signs one exe or package for every supported Windows:
#   tools/sign.sh <in> <out>
# with the PEM certificate and key in QUILLSET_SIGN_CERT and QUILLSET_SIGN_KEY
# (QUILLSET_SIGN_PASS_FILE the key's passphrase, if any), signing time
# SOURCE_DATE_EPOCH when set. The first signature has a SHA-1 file digest,
# the only one Windows XP SP3, and Vista and 7 without their SHA-2 code
# signing updates, read; a nested second one has a SHA-256 digest, which
# Windows 8 and later (and 7 and Vista with those updates) also check.
set -eu
in=$1 out=$2
set -- -certs "$QUILLSET_SIGN_CERT" -key "$QUILLSET_SIGN_KEY" -n quillset
[ -z "${QUILLSET_SIGN_PASS_FILE:-}" ] || set -- "$@" -readpass "$QUILLSET_SIGN_PASS_FILE"
[ -z "${SOURCE_DATE_EPOCH:-}" ] || set -- "$@" -time "$SOURCE_DATE_EPOCH"
rm -f "$out.sha1"
osslsigncode sign "$@" -h sha1 -in "$in" -out "$out.sha1" > /dev/null
osslsigncode sign -nest "$@" -h sha256 -in "$out.sha1" -out "$out" > /dev/null
rm -f "$out.sha1"
