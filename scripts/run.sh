#!/usr/bin/env bash
# Sets up and starts Tidemarsh: installs the packages, builds, installs the program
# into its own folder (default ~/Tidemarsh, or $TIDEMARSH_HOME), puts it into the
# desktop's application menu with its icons (under $XDG_DATA_HOME, default
# ~/.local/share) and starts it there. The program keeps its data files beside
# itself, so rebuilding or cleaning the build folder never touches them.
# Sourced, the file only defines its steps (the tests run install_desktop_entry).

# One argument of an Exec key: in double quotes with the quoting escapes, "%%"
# for a percent sign, and then every backslash doubled for the string escape.
# Fails for a text with control characters, which no entry can carry.
desktop_exec_arg() {
    case $1 in *[[:cntrl:]]*) return 1 ;; esac
    printf '"%s"' "$(printf '%s' "$1" | sed -e 's/[\\"`$]/\\&/g' -e 's/%/%%/g' -e 's/\\/\\\\/g')"
}

# The menu entry of the program installed in $1 (absolute) and the icons installed
# beside it, copied into the user's data folder; the caches are refreshed where
# the desktop has the tools for it.
install_desktop_entry() {
    local prefix=$1 data=${XDG_DATA_HOME:-} exec tryexec entry
    [[ $data == /* ]] || data=$HOME/.local/share # a relative value does not count
    exec=$(desktop_exec_arg "$prefix/tidemarsh") || {
        echo "run.sh: the path $prefix cannot be written into a desktop entry" >&2
        return 1
    }
    tryexec=$(printf '%s' "$prefix/tidemarsh" | sed 's/\\/\\\\/g')
    entry=$data/applications/tidemarsh.desktop
    mkdir -p "$data/applications" "$data/icons/hicolor" &&
        cp -R "$prefix/share/icons/hicolor/." "$data/icons/hicolor/" || return 1
    cat >"$entry.tmp" <<EOF || return 1
[Desktop Entry]
Type=Application
Name=Tidemarsh
GenericName=Mail Pre-screener
Comment=Screen a POP3 mailbox before your mail program downloads it
Exec=$exec
TryExec=$tryexec
Icon=tidemarsh
Terminal=false
Categories=Network;Email;
Keywords=mail;POP3;spam;junk;
EOF
    mv -f "$entry.tmp" "$entry" || return 1
    if command -v gtk-update-icon-cache >/dev/null; then
        gtk-update-icon-cache -q -t -f "$data/icons/hicolor" || true
    fi
    if command -v update-desktop-database >/dev/null; then
        update-desktop-database -q "$data/applications" || true
    fi
}

main() {
    set -euo pipefail
    local here prefix
    here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
    cd "$here"
    bash scripts/install-deps.sh run
    prefix=${TIDEMARSH_HOME:-$HOME/Tidemarsh}
    prefix=$(mkdir -p "$prefix" && cd "$prefix" && pwd) # the entry needs it absolute
    cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTIDEMARSH_BUILD_TESTS=OFF >/dev/null
    cmake --build build/release -j "$(nproc)"
    cmake --install build/release --prefix "$prefix" >/dev/null
    # The program runs without it: a menu entry that could not be made is only told.
    install_desktop_entry "$prefix" || echo "run.sh: Tidemarsh could not be added to the application menu" >&2
    exec "$prefix/tidemarsh" "$@"
}

# "return" works only in a sourced file: run the steps only when executed.
(return 0 2>/dev/null) || main "$@"
