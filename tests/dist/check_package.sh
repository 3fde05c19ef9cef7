#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian packages from the build folder ($1) into $2 and checks them: the files
# each one installs, lintian (no errors), the AppStream data and the desktop entry.
set -euo pipefail
export LC_ALL=C
rm -rf "$2" && cpack --config "$1/CPackConfig.cmake" -B "$2" >/dev/null && cd "$2"
files() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ { print $6 }' | sort; }  # files, not folders
diff <(files voralith_*_*.deb) <(printf './usr/%s\n' bin/voralith bin/voralith-cli bin/voralith-station \
    share/applications/org.voralith.{Voralith,Station}.desktop share/bash-completion/completions/voralith-cli \
    share/doc/voralith/{changelog.gz,copyright} share/icons/hicolor/scalable/apps/voralith.svg \
    share/man/man1/{voralith,voralith-cli,voralith-station}.1.gz share/metainfo/org.voralith.Voralith.metainfo.xml | sort)
diff <(files voralith-board_*_*.deb) <(printf './usr/%s\n' bin/voralith-board \
    share/doc/voralith-board/{changelog.gz,copyright} share/man/man1/voralith-board.1.gz | sort)
lintian --fail-on error voralith_*.deb voralith-board_*.deb
mkdir root && dpkg-deb -x voralith_*.deb root
appstreamcli validate-tree --no-net root && desktop-file-validate root/usr/share/applications/*.desktop
bash -c 'source /usr/share/bash-completion/bash_completion && source "$0" && COMP_LINE="voralith-cli --chip " &&
    COMP_POINT=${#COMP_LINE} COMP_WORDS=(voralith-cli --chip "") COMP_CWORD=2 && _voralith_cli &&
    [[ ${COMPREPLY[*]} == "89c51 89c52" ]]' root/usr/share/bash-completion/completions/voralith-cli
