#!/usr/bin/env bash
# Installs what Tidemarsh needs to build, run and test, from Debian 12 packages.
# Idempotent: installs only what is missing. Uses sudo when not root.
set -euo pipefail
what=${1:-all} # run | all

run_pkgs=(cmake ninja-build g++ pkg-config ccache
          qt6-base-dev libgmime-3.0-dev libssl-dev libxml2-dev libqt6svg6 qt6-tools-dev libqt6sql6-sqlite
          qt6-networkauth-dev qtkeychain-qt6-dev
          fonts-dejavu-core fonts-wqy-microhei)
test_pkgs=(xvfb xauth xdotool imagemagick trayer x11-utils openbox
           dovecot-core dovecot-pop3d openssl python3
           clang clang-format libclang-rt-14-dev poppler-utils
           courier-base courier-authdaemon cyrus-common sasl2-bin
           libmailutils9 libmu-dbm9) # the unpacked mailutils-pop3d's libraries (apopserver.sh)
test_pkgs+=(at-spi2-core python3-pyatspi dbus-x11) # tests/accessibility/atspiacceptancetest.sh
test_pkgs+=(desktop-file-utils libglib2.0-bin) # the desktop entries: validated, and started as GLib's launcher does
test_pkgs+=(gnome-keyring libsecret-tools dbus-bin) # tests/signin/run-with-keyring.sh

pkgs=("${run_pkgs[@]}")
[ "$what" = all ] && pkgs+=("${test_pkgs[@]}")

missing=()
for p in "${pkgs[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# cyrus-common needs a mail-transport-agent: dma listens on nothing (the default would be exim4).
if [[ " ${missing[*]} " == *" cyrus-common "* ]] &&
   ! dpkg-query -W -f='${db:Status-Abbrev}${Provides}\n' 2>/dev/null | grep -q '^ii .*mail-transport-agent'; then
    missing+=(dma)
fi
# The other POP3 daemons of the test fixture conflict with Dovecot's: unpacked, not installed.
unpack() { [ "$what" != all ] || "${SUDO[@]}" sh "$(dirname "$0")/../tests/support/mailserver/unpack-daemons.sh"; }
SUDO=()
[ "$(id -u)" -ne 0 ] && SUDO=(sudo)
[ ${#missing[@]} -eq 0 ] && { unpack; exit 0; }

echo "Installing: ${missing[*]}" >&2
"${SUDO[@]}" apt-get update -q
# Keep the distribution's own Dovecot service from starting: the tests run a private one.
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive RUNLEVEL=1 \
    apt-get install -y -q --no-install-recommends "${missing[@]}"
unpack
