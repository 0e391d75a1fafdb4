#!/usr/bin/env bash
# The launcher in a real terminal: a normal user signs on to the demo
# installation inside tmux, sees the application list with umlauts and the key
# bar, walks into an application, calls a sample program, is refused a program
# whose permission was taken away meanwhile, and is stopped at the next display
# after an administrator on a second terminal locks the system; the
# administrator then opens the menu maintenance.
# Usage: launcher_in_tmux.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
build=$1
source=$2
command -v tmux >/dev/null || { echo "tmux missing: skipped"; exit 0; }
work=$(mktemp -d)
sock="pxterm$$"
cleanup() { tmux -L "$sock" kill-server 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
pass=0 fail=0
ok()   { echo "ok: $1"; pass=$((pass + 1)); }
bad()  { echo "FAILED: $1"; fail=$((fail + 1)); }

PX_BIN="$build/bin" "$source/scripts/demo-setup" "$work/demo" >/dev/null || { echo "setup failed"; exit 1; }
admin() { "$build/bin/pxadmin" "$@" --dir "$work/demo" >/dev/null; }

screen() { tmux -L "$sock" capture-pane -p -t "$1"; }
# Waits up to 20 s for TEXT on window $1.
wait_for() {
  local i
  for i in $(seq 1 200); do
    screen "$1" | grep -qF -- "$2" && return 0
    sleep 0.1
  done
  echo "--- screen of $1 ---"; screen "$1"; echo "---"
  return 1
}
keys() { tmux -L "$sock" send-keys -t "$1" "${@:2}"; }
check() { if wait_for "$1" "$2"; then ok "$3"; else bad "$3"; fi; }

start() {  # window, user, password
  local cmd="cd '$work/demo' && exec env TERM=xterm-256color LANG=C.UTF-8 LC_ALL=C.UTF-8 '$build/bin/px01' $2"
  if [ "$1" = user ]; then
    tmux -L "$sock" new-session -d -s px -n user -x 100 -y 30 "$cmd"
  else
    tmux -L "$sock" new-window -d -t px -n "$1" "$cmd"
  fi
  wait_for "px:$1" "Kennwort" || { bad "password prompt for $2"; return; }
  keys "px:$1" "$3" Enter
}

start user NORBERT norbert
check px:user "A n w e n d u n g e n" "title of the application list"
check px:user "Grün-Weiß" "umlauts shown as umlauts"
check px:user "Info" "key bar with captions"
check px:user "Aufgabenverwaltung" "application list lists the task application"

# Into the task application by typing its first letters, then Enter.
keys px:user A u f
keys px:user Enter
check px:user "Aufgabenliste" "walked into Aufgabenverwaltung"

# The sample program PA64 shows what it received in an information box.
keys px:user A u f g a b e n l
keys px:user Enter
check px:user "PA64" "sample program PA64 called"
keys px:user Enter
check px:user "Aufgabenliste" "back in the menu after the program"

# Permission taken away while the list is on screen: the choice is refused.
admin revoke NORBERT PA60
keys px:user P f l e g e " " d e r " " D a u e r
keys px:user Enter
check px:user "Sie sind nicht berechtigt!" "refused a program without permission"
keys px:user Enter

# An administrator locks the system from a second terminal.
start admin ADMIN admin
check px:admin "A n w e n d u n g e n" "administrator signed on"
keys px:admin F3
check px:admin "System für Normalbenutzer gesperrt!" "administrator sees the lock banner"

# The normal user is stopped at the next display.
keys px:user Escape
check px:user "Programmaufruf durch Administrator z.Z. gesperrt." "normal user stopped by the lock"

# The administrator keeps menus and permissions from the menu (PX03).
keys px:admin S y s t e m
keys px:admin Enter
check px:admin "Logdatei anzeigen" "administrator in the administration menu"
keys px:admin P f l e g e
keys px:admin Enter
check px:admin "Pflege der Menüdatei: A n w e n d u n g e n" "menu maintenance from the menu"
check px:admin "F6 Benutzer" "menu maintenance key bar"
keys px:admin F6
check px:admin "NORBERT" "the users of the client"

echo "$pass passed, $fail failed"
[ "$fail" -eq 0 ]
