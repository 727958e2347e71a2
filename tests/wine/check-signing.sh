#!/usr/bin/env bash
# A signed release as scripts/release.sh makes it with a certificate: each
# exe signed with a throwaway self-signed certificate, its signature
# verified, the signed exe no more than the unsigned build and its
# signature (scripts/sign-exe.sh checks both), and a signed exe changed in
# one byte no longer verifies.
#   check-signing.sh EXE...
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tarvox throwaway test signer" \
  -addext extendedKeyUsage=codeSigning -keyout "$work/key.pem" -out "$work/cert.pem" \
  >"$work/openssl.log" 2>&1 || { cat "$work/openssl.log"; echo "0 passed, 1 failed"; exit 1; }
failed=0
for exe in "$@"; do
  name=$(basename "$exe")
  if ! "$here/../../scripts/sign-exe.sh" "$exe" "$work/$name" "$work/cert.pem" "$work/key.pem" \
    "$work/cert.pem"; then
    echo "FAILED: $name could not be signed and checked"
    failed=1
    continue
  fi
  echo "$name: signed, verified, the unsigned build and its signature"
  # One byte of the code changed: the signature no longer holds.
  cp "$work/$name" "$work/changed.exe"
  byte=$(od -An -tu1 -j 4096 -N 1 "$work/changed.exe" | tr -d ' ')
  printf "\\$(printf %o $((byte ^ 255)))" |
    dd of="$work/changed.exe" bs=1 seek=4096 conv=notrunc 2>/dev/null
  if osslsigncode verify -CAfile "$work/cert.pem" -in "$work/changed.exe" >/dev/null 2>&1; then
    echo "FAILED: $name changed after signing still verifies"
    failed=1
  fi
done
[ "$failed" -eq 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit "$failed"
