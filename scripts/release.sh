#!/usr/bin/env bash
# Makes the release of the commit that is checked out, into dist/:
#   Tarvox-<version>-x64.zip  Tarvox.exe, TarvoxCheck.exe, TarvoxRestore.exe, ADMINS.txt,
#                             README.md, LOG-LINES.txt and the three fleet scripts
#                             (Tarvox-Detect.ps1, Tarvox-Remediate.ps1,
#                             Tarvox-Compliance.ps1)
#   Tarvox.exe, TarvoxCheck.exe, TarvoxRestore.exe, the three scripts
#                             the files of the zip an administrator deploys, for
#                             a check without unzipping
#   SHA256SUMS                sha256sum lines for the zip, the exes and the scripts
# <version>: the first three numbers of the project() line of CMakeLists.txt,
# and the fourth the release's own, the number of commits on the commit's
# line of history (git rev-list --count): one release, one version, which
# the fleet scripts compare between the check and the repair.
#
# With TARVOX_SIGN_CERT and TARVOX_SIGN_KEY (PEM files; TARVOX_SIGN_CA the
# certificates to verify against, the system's by default; TARVOX_SIGN_TIMESTAMP
# a timestamping server; TARVOX_SIGN_KEY_PASSWORD_FILE for an encrypted key)
# every exe is signed with Authenticode; without them the release is unsigned.
#
# Whoever ships Tarvox.exe must be able to rebuild it and find the same bytes,
# so the release is made from a commit only (a working tree with changes is
# refused) and in a build folder made afresh (build/release), and two runs on
# one commit, in any folder, write the same files: the zip holds its members
# in a fixed order, with the commit's time, fixed permissions and no extra
# fields.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-tools.sh

fail() { echo "release: $*" >&2; exit 1; }

git rev-parse --verify -q HEAD >/dev/null || fail "not a git checkout with a commit"
changes=$(git status --porcelain)
if [ -n "$changes" ]; then
  printf '%s\n' "$changes" >&2
  fail "the working tree has uncommitted changes (above); a release is built" \
    "from a commit only: commit or stash them first"
fi
project_version=$(sed -n 's/^project(Tarvox VERSION \([0-9.]*\)[ )].*/\1/p' CMakeLists.txt)
[ -n "$project_version" ] || fail "no version in the project() line of CMakeLists.txt"
release_number=$(git rev-list --count HEAD)
[ "$release_number" -le 65535 ] || fail "the commit's number $release_number is over 65535"
IFS=. read -r v1 v2 v3 _ <<<"$project_version"
version=${v1}.${v2:-0}.${v3:-0}.$release_number
commit=$(git rev-parse HEAD)
commit_time=$(git log -1 --format=%ct HEAD)

# Flags from the environment would reach the compiler through CMake's first
# configure, and the exe would then be one the commit alone does not make.
unset CFLAGS CXXFLAGS CPPFLAGS LDFLAGS RCFLAGS

mkdir -p build/logs
rm -rf build/release
for step in configure build check check-tool check-restore; do
  case $step in
    configure) set -- cmake --preset release -DTARVOX_RELEASE_NUMBER="$release_number" ;;
    build) set -- cmake --build --preset release ;;
    check) set -- tests/wine/check-exe.sh x86_64-w64-mingw32-objdump \
      x86_64-w64-mingw32-windres build/release/Tarvox.exe "$version" ;;
    check-tool) set -- tests/wine/check-exe.sh x86_64-w64-mingw32-objdump \
      x86_64-w64-mingw32-windres build/release/TarvoxCheck.exe "$version" \
      "Windows CUI" Kestrow.Orvane.TarvoxCheck ;;
    check-restore) set -- tests/wine/check-exe.sh x86_64-w64-mingw32-objdump \
      x86_64-w64-mingw32-windres build/release/TarvoxRestore.exe "$version" \
      "Windows CUI" Kestrow.Orvane.TarvoxRestore ;;
  esac
  "$@" >"build/logs/release-$step.log" 2>&1 ||
    { cat "build/logs/release-$step.log"; fail "$step failed: $*"; }
done

# The zip's text files are taken from the commit itself, as git stores them,
# so a checkout's line-end settings cannot change them. ADMINS.txt and
# LOG-LINES.txt get CR LF line ends, for Notepad on any Windows.
package=build/release/package
mkdir -p "$package"
# Signed with Authenticode when given a certificate (application control's
# publisher rules and download warnings want signed programs); unsigned
# otherwise. The unsigned exes stay in build/release: the signed ones are
# no more than those and their signatures (sign-exe.sh checks it), so a
# signed release is checked against a rebuild of the commit too.
for exe in Tarvox TarvoxCheck TarvoxRestore; do
  if [ -n "${TARVOX_SIGN_CERT:-}" ]; then
    scripts/sign-exe.sh "build/release/$exe.exe" "$package/$exe.exe" "$TARVOX_SIGN_CERT" \
      "${TARVOX_SIGN_KEY:?TARVOX_SIGN_KEY: the private key of TARVOX_SIGN_CERT}" \
      "${TARVOX_SIGN_CA:-/etc/ssl/certs/ca-certificates.crt}" "${TARVOX_SIGN_TIMESTAMP:-}" ||
      fail "$exe.exe could not be signed"
  else
    cp "build/release/$exe.exe" "$package/"
  fi
done
git show "HEAD:packaging/ADMINS.txt" | sed 's/$/\r/' >"$package/ADMINS.txt"
git show "HEAD:README.md" >"$package/README.md"
git show "HEAD:packaging/LOG-LINES.txt" | sed 's/$/\r/' >"$package/LOG-LINES.txt"
# The scripts with CR LF too: Windows PowerShell 5.1 reads either, and
# Notepad and the management tools' upload forms show them whole.
scripts=(Tarvox-Detect.ps1 Tarvox-Remediate.ps1 Tarvox-Compliance.ps1)
for script in "${scripts[@]}"; do
  git show "HEAD:packaging/scripts/$script" | sed 's/$/\r/' >"$package/$script"
done

zip=Tarvox-$version-x64.zip
rm -rf dist
mkdir dist
python3 - "dist/$zip" "$commit_time" \
  "$package/Tarvox.exe" "$package/TarvoxCheck.exe" "$package/TarvoxRestore.exe" \
  "$package/ADMINS.txt" \
  "$package/README.md" "$package/LOG-LINES.txt" "${scripts[@]/#/$package/}" <<'EOF'
import os, sys, time, zipfile

out, epoch, *members = sys.argv[1:]
# Zip times are local date and time from 1980 on, in 2-second steps: the
# commit's time in UTC, so every machine writes the same.
date_time = time.gmtime(max(int(epoch), 315532800))[:6]
with zipfile.ZipFile(out, "w") as archive:
    for path in members:
        info = zipfile.ZipInfo(os.path.basename(path), date_time)
        info.compress_type = zipfile.ZIP_DEFLATED
        info.create_system = 3  # Unix, so that external_attr means a mode
        info.external_attr = 0o100644 << 16
        with open(path, "rb") as member:
            archive.writestr(info, member.read(), compresslevel=9)
EOF
cp "$package/Tarvox.exe" "$package/TarvoxCheck.exe" "$package/TarvoxRestore.exe" \
  "${scripts[@]/#/$package/}" dist/
(cd dist && sha256sum "$zip" Tarvox.exe TarvoxCheck.exe TarvoxRestore.exe "${scripts[@]}" >SHA256SUMS)

echo "Tarvox $version, commit $commit:"
ls -l dist
cat dist/SHA256SUMS
