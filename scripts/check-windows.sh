#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Syntax-checks, with MinGW-w64 against Debian's Qt headers, every source a Windows build
# compiles: each *_win.cpp, each .cpp of link/ image/ ops/ session/ line/ store/ app/ about/ cli/ station/ that is not
# *_unix.cpp, and the moc output of their Qt classes. Nothing is built or run. Fails on
# any error; skips (exit 0) only when the compiler is missing and cannot be installed.
set -euo pipefail
export LC_ALL=C
cd "$(dirname "$0")/.."

compiler=x86_64-w64-mingw32-g++-posix
package=g++-mingw-w64-x86-64-posix
jobs=${VORALITH_CHECK_JOBS:-2}
# base/ holds headers only, but every layer includes them.
folders=(base link image ops session line store app about cli station)

if ! command -v "$compiler" >/dev/null; then
    sudo=()
    [ "$(id -u)" -ne 0 ] && command -v sudo >/dev/null && sudo -n true 2>/dev/null && sudo=(sudo -n)
    if command -v apt-get >/dev/null && { [ "$(id -u)" -eq 0 ] || [ ${#sudo[@]} -gt 0 ]; }; then
        echo "Installing $package"
        { "${sudo[@]}" apt-get update && "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
              apt-get install -y --no-install-recommends "$package"; } >&2 || true
    fi
    if ! command -v "$compiler" >/dev/null; then
        echo "SKIPPED: $compiler is not installed and cannot be installed here (Debian package $package);" \
             "the Windows sources were not checked."
        exit 0
    fi
fi

qt_headers=$(qtpaths6 --query QT_INSTALL_HEADERS)
moc=$(qtpaths6 --query QT_HOST_LIBEXECS)/moc
[ -f "$qt_headers/QtSerialPort/QSerialPort" ] || { echo "No Qt Serial Port headers in $qt_headers (qt6-serialport-dev)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/generated" "$work/zlib" "$work/log" "$work/moc"

# version.h as CMake's configure_file makes it, from the project's version and id.
version=$(sed -n 's/^project(Voralith VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
app_id=$(sed -n 's/^set(VORALITH_APP_ID \([^)]*\)).*/\1/p' CMakeLists.txt)
IFS=. read -r major minor patch <<<"$version"
sed -e "s/@PROJECT_VERSION_MAJOR@/$major/" -e "s/@PROJECT_VERSION_MINOR@/$minor/" \
    -e "s/@PROJECT_VERSION_PATCH@/$patch/" -e "s/@PROJECT_VERSION@/$version/" \
    -e "s/@VORALITH_APP_ID@/$app_id/" app/version.h.in >"$work/generated/version.h"
# The icon's pixels, painted by app/iconpixels when a native build runs: the same
# declarations with one pixel, enough to check the code that reads them.
cat >"$work/generated/voralithicon_pixels.h" <<'EOF'
struct StoredIcon { int size; const quint32 *pixels; };
static const quint32 kIcon16[] = {0};
static const StoredIcon kStoredIcons[] = {{16, kIcon16}, };
EOF
# A Windows build brings its own zlib. Copies of the host's headers stand in (alone, so that no
# other Linux header can be reached), with the one line its configure set for Linux (it has
# unistd.h) put back as zlib ships it.
cp /usr/include/zlib.h "$work/zlib/"
sed '/^#if 1 .*by \.\/configure/{N;s/^#if 1\(.*\n#  define Z_HAVE_UNISTD_H\)/#ifdef HAVE_UNISTD_H\1/}' \
    /usr/include/zconf.h >"$work/zlib/zconf.h"

# MinGW brings some POSIX headers that Windows' own compiler and SDK do not have: code that
# includes one belongs in an _unix file, so here they stop the check.
mkdir -p "$work/posix/sys"
for h in unistd.h dirent.h strings.h libgen.h sys/time.h; do
    echo "#error \"<$h> is POSIX: Windows has none outside MinGW; this code belongs in an _unix file\"" \
        >"$work/posix/$h"
done

# Qt's headers take Q_OS_WIN from _WIN32, which the compiler predefines, and parse for
# Windows as they are: no shim over the Linux qconfig.h is needed for what these sources use.
defines=(-DUNICODE -D_UNICODE -DWIN32 -D_WIN32 -DQT_CORE_LIB -DQT_GUI_LIB -DQT_WIDGETS_LIB
         -DQT_SERIALPORT_LIB -DVORALITH_STORED_ICON)
includes=(-I"$work/generated" -I"$work/moc")
for f in "${folders[@]}"; do includes+=(-I"$f"); done
for m in "" QtCore QtGui QtWidgets QtSerialPort; do includes+=(-isystem "$qt_headers/$m"); done
includes+=(-isystem "$work/zlib" -I"$work/posix")
# libpq's headers are plain C and the same on Windows (a Windows build brings its own libpq).
includes+=(-isystem "$(pg_config --includedir 2>/dev/null || echo /usr/include/postgresql)")
# The build's own warnings, errors where the build makes them errors (CI).
flags=(-fsyntax-only -std=c++20 -Wall -Wextra -Wno-missing-field-initializers -Werror=unused-result)
[ -n "${CI:-}" ] && flags+=(-Werror)

# By rule, not by list: files added later are checked too.
mapfile -t sources < <({
    find "${folders[@]}" -name '*.cpp' ! -name '*_unix.cpp'
    find . -mindepth 1 -type d \( -name '.*' -o -name 'build*' \) -prune -o -name '*_win.cpp' -print | sed 's|^\./||'
} | sort -u)
mapfile -t dirs < <(printf '%s\n' "${sources[@]}" | xargs -n1 dirname | sort -u)
mapfile -t classes < <(find "${dirs[@]}" -maxdepth 1 -name '*.h' -print0 |
    xargs -0r grep -lE '^\s*(Q_OBJECT|Q_GADGET|Q_NAMESPACE)\b' | sort)

# moc as AUTOMOC runs it: with the compiler's predefined macros, for each Qt class's
# header (the build compiles that output too) and for each "X.moc" or "moc_X.cpp" a
# source includes.
"$compiler" -std=c++20 -dM -E -x c++ /dev/null >"$work/moc/moc_predefs.h"
moc_failed=0
run_moc() {  # input, output
    if ! "$moc" --include "$work/moc/moc_predefs.h" "${defines[@]}" "${includes[@]/#-isystem/-I}" \
         "$1" -o "$2" 2>"$work/log/moc.txt"; then
        echo "FAILED  moc $1"
        sed 's/^/    /' "$work/log/moc.txt"
        moc_failed=$((moc_failed + 1))
        return 1
    fi
}
checked=("${sources[@]}")
for h in "${classes[@]}"; do
    out="$work/moc/moc_$(basename "${h%.h}").cpp"
    run_moc "$h" "$out" && checked+=("$out")
done
for s in "${sources[@]}"; do
    for inc in $(sed -nE 's/^\s*#\s*include\s+"((moc_)?[A-Za-z0-9_]+\.(moc|cpp))".*/\1/p' "$s"); do
        case "$inc" in
        *.moc) run_moc "$s" "$work/moc/$inc" || true ;;
        moc_*.cpp) base=${inc#moc_}; run_moc "$(dirname "$s")/${base%.cpp}.h" "$work/moc/$inc" || true ;;
        esac
    done
done

# Each file on its own, a few at a time; the reports come in order once all are done.
check() {  # index, file
    local status=0
    "$compiler" "${flags[@]}" "${defines[@]}" -I"$(dirname "$2")" "${includes[@]}" "$2" \
        >"$work/log/$1.txt" 2>&1 || status=$?
    echo "$status" >"$work/log/$1.rc"
}
for i in "${!checked[@]}"; do
    while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
    check "$i" "${checked[$i]}" &
done
wait

failed=$moc_failed
for i in "${!checked[@]}"; do
    name=${checked[$i]/#$work\/moc\//moc output }
    if [ "$(cat "$work/log/$i.rc")" -eq 0 ]; then
        echo "ok      $name"
    else
        echo "FAILED  $name"
        failed=$((failed + 1))
    fi
    sed 's/^/    /' "$work/log/$i.txt"
done
echo "Windows syntax check: ${#checked[@]} files, $failed failed ($compiler $("$compiler" -dumpversion)," \
     "Qt $(qtpaths6 --query QT_VERSION) headers)"
[ "$failed" -eq 0 ]
