#!/usr/bin/env bash
# Checks that the release in build/dist builds again, byte for byte, from its source
# archive alone, whatever the build folder, the account and the umask: three rebuilds
# from the unpacked archive must each give a SHA256SUMS identical to the release's.
#
# It needs the release built first (README, "Download and install"): build/dist, and
# build/win64/tovakrem.exe, the 64-bit program the Debian package holds, which is taken
# as it is. Run by the test command; about a minute, most of it compiling the program.
#
# Each variation rebuilds what it can change, and no more:
# - The build folder's name can reach the program's bytes (paths compiled in), so the
#   first rebuild compiles the 32-bit program in a folder named out, configured with
#   the toolchain file alone, and makes every download from it in a folder named as
#   Debian names its own (obj-x86_64-linux-gnu). The archive is unpacked with the
#   files' times dropped and a stray file beside them, so that no time can come from
#   the files: only from the archive's own SOURCE_DATE_EPOCH.
# - An account or a umask reaches only what the archives record of their files
#   (owners, modes), so the other two rebuilds write every download again (the zip,
#   the installer, the source archive, the Debian package) from those build folders,
#   without compiling again: once as an unprivileged user (nobody, through runuser;
#   only where this runs as root, else skipped with the reason), once under umask 077
#   with the tree's modes as an unpack under that umask leaves them.
#
# A tree with neither git nor SOURCE_DATE_EPOCH is checked to say so and carry the
# fixed time; one whose SOURCE_DATE_EPOCH holds no time, or whose SOURCE_FILES leads out
# of the tree, to stop the build.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS

release=$PWD/build/dist
release_sums=$release/SHA256SUMS
win64_program=$PWD/build/win64/tovakrem.exe
archive_name=$(sed -n 's/^[0-9a-f]*  \(.*-src\.tar\.gz\)$/\1/p' "$release_sums" 2>/dev/null || true)
for needed in "$release_sums" "$release/$archive_name" "$win64_program"; do
    if [[ ! -f "$needed" || -z "$archive_name" ]]; then
        echo "check_repro: $needed is missing: build the release first" >&2
        exit 1
    fi
done

# Only Debian's own tools, as on a packager's machine: none a developer's PATH adds.
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
# Nothing from the builder's environment or from git reaches the packages' time.
unset SOURCE_DATE_EPOCH
work=$(mktemp -d "${TMPDIR:-/tmp}/tovak-repro.XXXXXX")
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
export GIT_CEILING_DIRECTORIES=$work

tar -xzf "$release/$archive_name" -C "$work" --touch
tree=$(echo "$work"/TovakRemote-*)
echo "a stray file, newer than every source" >"$tree/build.log"
mkdir "$work/win64"
cp "$win64_program" "$work/win64/tovakrem.exe"
program_build=out
package_build=obj-x86_64-linux-gnu
dist=$work/dist
log=$work/log

# Runs a command quietly, showing its output only where it fails; as $builder where set.
builder=""
quietly() {
    local status=0
    if [[ -n "$builder" ]]; then
        runuser -u "$builder" -- "$@" >"$log" 2>&1 || status=$?
    else
        "$@" >"$log" 2>&1 || status=$?
    fi
    if [[ $status -ne 0 ]]; then
        cat "$log" >&2
        echo "check_repro: failed ($status): $*" >&2
        exit 1
    fi
}

# Writes every download anew from the build folders into $dist: the zip and the
# installer (cpack in the program's folder: the package target less rebuilding the
# test tools), then the source archive and the Debian package.
package() {
    rm -rf "$dist"
    (cd "$tree/$program_build" && quietly cpack)
    quietly cmake --build "$tree/$package_build" --target package
}

# Compares the rebuild's SHA256SUMS with the release's, byte for byte.
compare() {
    if ! cmp -s "$release_sums" "$dist/SHA256SUMS"; then
        echo "check_repro: $1: SHA256SUMS differs from the release's:" >&2
        diff "$release_sums" "$dist/SHA256SUMS" >&2 || true
        exit 1
    fi
    echo "$1: SHA256SUMS byte for byte the release's"
}

cd "$tree"
phase=$SECONDS
quietly cmake -S . -B "$program_build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
    -DTOVAK_DIST_DIR="$dist"
quietly cmake --build "$program_build" --target tovakrem --parallel 2
quietly cmake -S . -B "$package_build" -DTOVAK_DEB=ON \
    -DTOVAK_WIN32_PROGRAM="$tree/$program_build/tovakrem.exe" \
    -DTOVAK_WIN64_PROGRAM="$work/win64/tovakrem.exe" -DTOVAK_DIST_DIR="$dist"
package
compare "built in folders named $program_build and $package_build ($((SECONDS - phase)) s)"

phase=$SECONDS
account=nobody
if [[ $(id -u) -ne 0 ]]; then
    echo "another account: skipped, only root can build as another user (this is $(id -un))"
elif ! command -v runuser >/dev/null; then
    echo "another account: skipped, runuser is missing (util-linux)"
elif ! id "$account" >/dev/null 2>&1; then
    echo "another account: skipped, there is no user $account"
elif ! runuser -u "$account" -- test -x "$work"; then
    echo "another account: skipped, $account cannot reach $work (set TMPDIR elsewhere)"
else
    # The tree as that account would have unpacked it: its own.
    chown -R "$account:$(id -gn "$account")" "$work"
    builder=$account
    package
    builder=""
    compare "built by $account (uid $(id -u "$account")) ($((SECONDS - phase)) s)"
    chown -R 0:0 "$work"
fi

phase=$SECONDS
(
    umask 077
    # The modes an unpack under this umask gives.
    chmod -R go-rwx "$tree"
    package
)
compare "built under umask 077 ($((SECONDS - phase)) s)"

# A tree with neither git nor the archive's SOURCE_DATE_EPOCH carries the fixed time of
# 1980-01-01, and says so; one whose SOURCE_DATE_EPOCH holds no time, or whose
# SOURCE_FILES leads out of the tree, stops the build with the reason.
bare=$work/bare
mkdir "$bare"
release_files() {
    cmake -DSOURCE_DIR="$bare" -DGIT=git -DGZIP=gzip -DPYTHON=python3 -DVERSION=0 \
        -DPACKAGE=tovak-remote -DMAINTAINER=nobody -DMANUAL="$bare/manual.gz" \
        -DCHANGELOG="$bare/changelog.gz" -DARCHIVE="$bare/source.tar.gz" \
        -DARCHIVE_FOLDER=source -P "$tree/packaging/linux/release_files.cmake" 2>&1 |
        tr -s ' \n' '  '
}
said=$(release_files) || true
if [[ "$said" != *"Neither a git checkout nor a source archive's SOURCE_DATE_EPOCH"* ]] ||
    [[ "$(zcat "$bare/changelog.gz")" != *"Tue, 01 Jan 1980 00:00:00 +0000"* ]] ||
    [[ -e "$bare/source.tar.gz" ]]; then
    echo "check_repro: a tree with neither git nor SOURCE_DATE_EPOCH: not the fixed time:" >&2
    echo "$said" >&2
    exit 1
fi
refused() { # <what the tree holds> <what the refusal says>
    if said=$(release_files) || [[ "$said" != *"$2"* ]]; then
        echo "check_repro: $1 did not stop the build with \"$2\":" >&2
        echo "$said" >&2
        exit 1
    fi
}
echo "yesterday" >"$bare/SOURCE_DATE_EPOCH"
refused "a SOURCE_DATE_EPOCH of no time" 'holds "yesterday", not a time'
echo 315532800 >"$bare/SOURCE_DATE_EPOCH"
echo "644 ../log" >"$bare/SOURCE_FILES"
refused "a SOURCE_FILES out of the tree" "'../log' is not a plain path inside the tree"
echo "a tree with neither git nor SOURCE_DATE_EPOCH: the fixed time, said;" \
    "a SOURCE_DATE_EPOCH of no time, a SOURCE_FILES out of the tree: refused"
echo "reproducibility checked in $((SECONDS - started)) s"
