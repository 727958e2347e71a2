#!/usr/bin/env bash
# Signs one exe with Authenticode (osslsigncode, from Debian's packages),
# verifies the signature, and shows that the signed exe is the unsigned
# build and its signature, nothing else: the signature taken from the signed
# exe and attached to the unsigned one gives the signed exe byte for byte.
# So anyone who rebuilds the reproducible unsigned exe of a commit can check
# a signed release against it.
#
#   sign-exe.sh UNSIGNED SIGNED CERT KEY CA [TIMESTAMP_URL]
#
# CERT: the certificate chain, PEM, the signer's first; KEY: its private key,
# PEM (when encrypted, its password in the file TARVOX_SIGN_KEY_PASSWORD_FILE
# names); CA: the certificates the signature must chain to (the system's
# bundle for a bought certificate, the certificate itself for a throwaway
# one); TIMESTAMP_URL: a timestamping server, where the machine reaches one
# (a signature then stays valid after the certificate expires).
set -euo pipefail
unsigned=$1
signed=$2
cert=$3
key=$4
ca=$5
timestamp=${6:-}

fail() { echo "sign-exe: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

arguments=(sign -h sha256 -n Tarvox -certs "$cert" -key "$key")
[ -z "${TARVOX_SIGN_KEY_PASSWORD_FILE:-}" ] || arguments+=(-readpass "$TARVOX_SIGN_KEY_PASSWORD_FILE")
[ -z "$timestamp" ] || arguments+=(-ts "$timestamp")
osslsigncode "${arguments[@]}" -in "$unsigned" -out "$work/signed.exe" >"$work/log" 2>&1 ||
  { cat "$work/log" >&2; fail "could not sign $unsigned"; }
osslsigncode verify -CAfile "$ca" -in "$work/signed.exe" >"$work/log" 2>&1 ||
  { cat "$work/log" >&2; fail "the signature of $unsigned does not verify"; }
osslsigncode extract-signature -in "$work/signed.exe" -out "$work/signature" >"$work/log" 2>&1 ||
  { cat "$work/log" >&2; fail "no signature to take from the signed $unsigned"; }
osslsigncode attach-signature -sigin "$work/signature" -CAfile "$ca" -in "$unsigned" \
  -out "$work/attached.exe" >"$work/log" 2>&1 ||
  { cat "$work/log" >&2; fail "the signature does not attach to $unsigned"; }
cmp -s "$work/attached.exe" "$work/signed.exe" ||
  fail "the signed $unsigned is more than the unsigned build and its signature"
mv "$work/signed.exe" "$signed"
