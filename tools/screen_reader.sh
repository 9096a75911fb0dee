#!/usr/bin/env bash
# Lets you hear what a real screen reader says about BranchKeeper. Starts the
# program on a store, with Orca, in a private X server (Xvfb), D-Bus session,
# AT-SPI bus and speech-dispatcher (dummy output: no sound device), sends keys
# one at a time as a user types them, and prints what Orca spoke for each,
# taken from Orca's debug log. Nothing of the machine's own settings is read or
# changed: everything lives in a scratch folder that goes away at the end.
#
#   tools/screen_reader.sh [OPTIONS] [KEY...]
#
# Each KEY is one step, in xdotool's names: Down, Right, F2, Escape, Delete,
# plus, minus, Tab, shift+Tab, ctrl+Insert, alt+Up ... A step of several keys
# in one argument ("Insert Insert") sends them in one go, 12 ms apart: that is
# how a double press reaches Orca. After each step the script waits until Orca
# has spoken and fallen quiet, or a few seconds passed. Output, one block per
# step, the start-up first; under a step, what else matters about its last
# key (a press Orca never heard, or one it kept for itself):
#
#   start-up: Screen reader on. BranchKeeper. Items tree.
#   Down: Garden collapsed. level 2, 2 of 3.
#   F2: Item text text. Garden selected.
#       [no press of F2 reached Orca; it heard: release of F2]
#
# Options:
#   --store PATH   run on a copy of this store; the default is the sample
#                  outline of "branchkeeper-store sample". PATH itself is never
#                  opened by the program
#   --read-only    make the store and its folder read-only for the program (as
#                  root, whom file modes do not stop, with a read-only bind
#                  mount in a mount namespace of the program's own)
#   --laptop       Orca's laptop layout: Caps Lock is the Orca key. Without it,
#                  the desktop layout: Insert and KP_Insert are the Orca key,
#                  and Orca keeps every press of them that it hears
#   --build DIR    the build folder holding bin/ (default: build/ here)
#   --keep         keep the scratch folder: Orca's debug log, the program's
#                  output, the store as the run left it
#   -h, --help     this text
#
# Exit status: 0 after a full run; 1 when the environment could not be brought
# up (one line on standard error says what failed); 2 on a usage error; 3 when
# the program ended before all keys were sent, or died of a signal. Needs orca, speech-dispatcher,
# at-spi2-core, dbus, dbus-x11, xdotool, xvfb and python3; as root it installs
# the missing ones with apt-get, otherwise through sudo. Runs of this script
# take turns (Orca runs once per user); another Orca of the same user that is
# running already makes it fail.
# shellcheck disable=SC2317 # functions called from traps and through wait_until
set -euo pipefail
tools=$(cd "$(dirname "$0")" && pwd)
me=${0##*/}

usage() { sed -n '2,/^# shellcheck/{/^# shellcheck/d;s/^# \{0,1\}//;p}' "$0"; }
fail() {
    echo "$me: $*" >&2
    exit 1
}

store=
read_only=0
laptop=0
keep=0
build=$tools/../build
keys=()
while (($#)); do
    case $1 in
        --store) [[ $# -ge 2 ]] || { echo "$me: --store needs a PATH" >&2; exit 2; }
                 store=$2; shift ;;
        --read-only) read_only=1 ;;
        --laptop) laptop=1 ;;
        --build) [[ $# -ge 2 ]] || { echo "$me: --build needs a DIR" >&2; exit 2; }
                 build=$2; shift ;;
        --keep) keep=1 ;;
        -h|--help) usage; exit 0 ;;
        --) shift; keys+=("$@"); break ;;
        -*) echo "$me: unknown option $1 (see --help)" >&2; exit 2 ;;
        *) keys+=("$1") ;;
    esac
    shift
done
bin=$build/bin
for f in "$bin/branchkeeper" "$bin/pic1" "$bin/pic2"; do
    [[ -e $f ]] || { echo "$me: no $f (build first, or give --build)" >&2; exit 2; }
done
if [[ -n $store ]]; then
    [[ -f $store ]] || { echo "$me: no store $store" >&2; exit 2; }
else
    [[ -x $bin/branchkeeper-store ]] || { echo "$me: no $bin/branchkeeper-store" >&2; exit 2; }
fi

# shellcheck source=tools/install_missing.sh
source "$tools/install_missing.sh"
# speech-dispatcher-audio-plugins: the dummy module opens an audio output even
# though it plays nothing; ALSA's "null" device (libasound2-data) serves.
install_missing orca speech-dispatcher speech-dispatcher-audio-plugins libasound2-data \
    at-spi2-core dbus dbus-x11 xdotool xvfb x11-xkb-utils python3 util-linux procps

# Sets $now to the milliseconds since the epoch.
clock() { now=${EPOCHREALTIME/[.,]/}; now=$((now / 1000)); }
clock; started=$now
# Orca refuses to start while another Orca of the same user runs, so runs
# of this script take turns.
exec {lock}>"${TMPDIR:-/tmp}/branchkeeper-screen-reader-$(id -u).lock"
flock -w 600 "$lock" || fail "another run of $me held its lock for 10 minutes"
if other=$(pgrep -u "$(id -u)" -x orca); then
    fail "another Orca of this user is running (pid ${other//$'\n'/ }); Orca runs only once per user"
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/branchkeeper-screen-reader.XXXXXX")
log=$scratch/orca-debug.log
pids=()   # what this script started, in the order it started them

# Ends the processes this script started and whatever they started in turn
# (a bus starts services of its own): the deepest first, all at once, so that
# each parent is still there to reap its children; then whatever is left.
stop_all() {
    local tree=() queue=("$@") pid i
    while ((${#queue[@]})); do
        pid=${queue[0]}
        queue=("${queue[@]:1}")
        tree+=("$pid")
        # shellcheck disable=SC2207 # pids are plain numbers
        queue+=($(pgrep -P "$pid" || true))
    done
    for ((i = ${#tree[@]} - 1; i >= 0; i--)); do
        kill -TERM "${tree[i]}" 2>/dev/null
    done
    for ((i = 0; i < 20; i++)); do
        for pid in "${tree[@]}"; do
            running "$pid" && break
            pid=
        done
        [[ -z $pid ]] && return
        sleep 0.05
    done
    kill -KILL "${tree[@]}" 2>/dev/null
}

# Whether a process runs: a child whose parent ended before it is a zombie
# until init reaps it, and some containers' init never does.
running() {
    local stat
    { read -r stat <"/proc/$1/stat"; } 2>/dev/null || return 1
    stat=${stat##*) }
    [[ ${stat%% *} != Z ]]
}

cleanup() {
    local rc=$?
    trap - EXIT INT TERM HUP
    set +e
    # Orca first, so that it does not follow the windows going away. It acts
    # on SIGTERM only once its main loop wakes up, and there is nothing for it
    # to save: its log is written line by line.
    if [[ -n ${orca_pid:-} ]]; then
        { kill -KILL "$orca_pid"; wait "$orca_pid"; } 2>/dev/null
    fi
    stop_all "${pids[@]}"
    wait 2>/dev/null
    # Anything a bus started that left its parent still carries the private
    # session bus's address in its environment.
    env -u DBUS_SESSION_BUS_ADDRESS \
        grep -lzF "DBUS_SESSION_BUS_ADDRESS=unix:path=$scratch/bus" /proc/[0-9]*/environ 2>/dev/null |
        while IFS=/ read -r _ _ pid _; do
            [[ $pid != "$$" ]] && kill -KILL "$pid" 2>/dev/null
        done
    if ((keep)); then
        echo "Scratch folder kept: $scratch" >&2
    else
        chmod -R u+w "$scratch" 2>/dev/null
        rm -rf "$scratch"
    fi
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

keep_hint() { ((keep)) && echo "see $scratch" || echo "--keep keeps the logs"; }

# Waits up to SECONDS for a command to succeed.
wait_until() {
    local limit=$1 end
    shift
    clock; end=$((now + limit * 1000))
    until "$@"; do
        clock; ((now < end)) || return 1
        sleep 0.05
    done
}

log_size() { stat -c %s "$log"; }
log_has() { grep -qE "$1" "$log" 2>/dev/null; }
# Whether Orca spoke after byte OFFSET of its log.
spoke_since() { grep -q "SPEECH OUTPUT: " <(tail -c +$(($1 + 1)) "$log"); }

# Waits until Orca has dealt with what happened after byte OFFSET of its log:
# it has spoken and its log has been still for 0.3 s, or it has not spoken and
# the log has been still for 0.8 s (an answer that never comes), or LIMIT
# seconds passed.
settle() {
    local off=$1 limit=$2 start last=-1 size changed spoken=0
    clock; start=$now; changed=$now
    while :; do
        size=$(log_size)
        clock
        if ((size != last)); then last=$size; changed=$now; fi
        ((spoken)) || ! spoke_since "$off" || spoken=1
        if ((spoken && now - changed >= 300)) || ((now - changed >= 800)) \
            || ((now - start >= limit * 1000)); then
            return 0
        fi
        sleep 0.05
    done
}

# The program, its pictures and the store, in a folder of their own: the
# program opens dbPro.mdb beside its real executable, so a link would not do.
app=$scratch/app
mkdir -p "$app" "$scratch"/{home,config,data,cache,runtime,speech,orca}
chmod 700 "$scratch/runtime"
cp "$bin/branchkeeper" "$app/"
cp -r "$bin/pic1" "$bin/pic2" "$app/"
# A linker still writing the program leaves it without its execute bit.
[[ -x $app/branchkeeper ]] || fail "$bin/branchkeeper is not executable (is a build running?)"
if [[ -n $store ]]; then
    cp "$store" "$app/dbPro.mdb"
    # A write-ahead log or hot journal holds part of the store's data.
    for suffix in -wal -journal; do
        [[ -f $store$suffix ]] && cp "$store$suffix" "$app/dbPro.mdb$suffix"
    done
else
    "$bin/branchkeeper-store" sample "$app/dbPro.mdb" >/dev/null || fail "branchkeeper-store sample failed"
fi

# A private environment: nothing of the user's session or settings.
unset SESSION_MANAGER WAYLAND_DISPLAY AT_SPI_BUS_ADDRESS NO_AT_BRIDGE SPEECHD_CMD PYTHONPATH PYTHONHOME \
      QT_ACCESSIBILITY QT_STYLE_OVERRIDE XDG_SESSION_TYPE XAUTHORITY LANGUAGE
export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/config XDG_DATA_HOME=$scratch/data \
       XDG_CACHE_HOME=$scratch/cache XDG_RUNTIME_DIR=$scratch/runtime
# Orca's words in English, whatever the machine's language.
export LANG=C.UTF-8 LC_ALL=C.UTF-8
export GDK_BACKEND=x11 QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1

# X server: the first free display number, reported on a descriptor.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset \
    3>"$scratch/display" >"$scratch/xvfb.log" 2>&1 &
pids+=($!)
wait_until 10 test -s "$scratch/display" || fail "Xvfb did not start ($(keep_hint))"
DISPLAY=:$(<"$scratch/display")
export DISPLAY

# D-Bus session bus.
dbus-daemon --session --address="unix:path=$scratch/bus" --nofork --nopidfile \
    >"$scratch/dbus.log" 2>&1 &
pids+=($!)
export DBUS_SESSION_BUS_ADDRESS=unix:path=$scratch/bus
wait_until 10 test -S "$scratch/bus" || fail "the D-Bus session bus did not start ($(keep_hint))"

# AT-SPI bus, with accessibility switched on for every toolkit that asks.
/usr/libexec/at-spi-bus-launcher --launch-immediately >"$scratch/at-spi.log" 2>&1 &
pids+=($!)
a11y_bus() {
    dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress \
        2>/dev/null | grep -q 'unix:'
}
wait_until 10 a11y_bus || fail "the AT-SPI bus did not start ($(keep_hint))"
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
    org.freedesktop.DBus.Properties.Set string:org.a11y.Status string:IsEnabled variant:boolean:true \
    >/dev/null || fail "could not switch AT-SPI on (org.a11y.Status IsEnabled)"

# speech-dispatcher with the dummy module only, on a socket of its own. Its
# configuration sits where an autospawned one would look too, so that even
# that one would find no other module.
speech_conf=$XDG_CONFIG_HOME/speech-dispatcher
mkdir -p "$speech_conf"
cat >"$speech_conf/speechd.conf" <<EOF
LogLevel 3
LogDir "$scratch/speech"
AudioOutputMethod "alsa"
AudioALSADevice "null"
AddModule "dummy" "sd_dummy" ""
DefaultModule dummy
EOF
speech-dispatcher --run-single --timeout 0 --communication-method unix_socket \
    --socket-path "$scratch/speech.sock" --config-dir "$speech_conf" \
    --log-dir "$scratch/speech" --pid-file "$scratch/speech.pid" >"$scratch/speech.log" 2>&1 &
pids+=($!)
export SPEECHD_ADDRESS=unix_socket:$scratch/speech.sock
wait_until 10 test -S "$scratch/speech.sock" || fail "speech-dispatcher did not start ($(keep_hint))"

# Orca, with its settings in the scratch folder. Its debug log is a buffered
# file that would show lines seconds late; orca-customizations.py, which Orca
# runs at start-up, makes it write each line as it comes.
{
    echo "# Written by $me: the debug log line by line, so that it can be followed."
    echo "from orca import debug, settings"
    echo "if debug.debugFile:"
    echo "    debug.debugFile.reconfigure(line_buffering=True)"
    if ((laptop)); then
        echo "settings.keyboardLayout = settings.GENERAL_KEYBOARD_LAYOUT_LAPTOP"
        echo "settings.orcaModifierKeys = settings.LAPTOP_MODIFIER_KEYS"
    fi
} >"$scratch/orca/orca-customizations.py"
# No braille display here: without braille, Orca spends no time looking for one.
orca --user-prefs "$scratch/orca" --debug-file "$log" --disable braille \
    >"$scratch/orca.log" 2>&1 &
orca_pid=$!
pids+=("$orca_pid")
orca_up() {
    running "$orca_pid" || fail "Orca ended at start-up: $(head -c 300 "$scratch/orca.log" | tr '\n' ' ')"
    log_has 'ORCA: Startup complete'
}
wait_until 30 orca_up || fail "Orca did not finish starting, or its log is not written as it goes ($(keep_hint))"
log_has "SETTINGS MANAGER: Attempt to load orca-customizations from .*succeeded" \
    || fail "Orca did not load $scratch/orca/orca-customizations.py"

# The program. Read-only: file modes, and for root a read-only bind mount of
# its folder that only the program sees (it goes away with the program).
if ((read_only)); then
    chmod 0444 "$app/dbPro.mdb"
    chmod 0555 "$app"
    launch=("$app/branchkeeper")
    if (($(id -u) == 0)); then
        # shellcheck disable=SC2016 # expanded by that sh
        launch=(unshare --mount --propagation private -- sh -c '
            mount --bind "$1" "$1" && mount -o remount,bind,ro "$1" || exit 97
            ! test -w "$1/dbPro.mdb" || exit 98
            exec "$1/branchkeeper"' sh "$app")
    fi
else
    launch=("$app/branchkeeper")
fi
"${launch[@]}" >"$scratch/program.log" 2>&1 &
app_pid=$!
pids+=("$app_pid")
window=$(timeout 15 xdotool search --sync --onlyvisible --pid "$app_pid" 2>/dev/null | head -n 1) || true
if [[ -z $window ]]; then
    if ! running "$app_pid"; then
        rc=0; wait "$app_pid" || rc=$?
        ((rc == 97)) && fail "cannot make the store read-only for root: mount in a new mount namespace refused (needs CAP_SYS_ADMIN)"
        ((rc == 98)) && fail "the read-only bind mount left the store writable"
        fail "the program ended at start-up (status $rc): $(head -c 300 "$scratch/program.log" | tr '\n' ' ')"
    fi
    fail "the program's window did not show in 15 s ($(keep_hint))"
fi
# No window manager: give the window the keyboard focus directly.
timeout 5 xdotool windowfocus --sync "$window" 2>/dev/null || fail "could not give the program's window the keyboard focus"
sees_window() { grep 'EVENT MANAGER: window:activate for ' "$log" | grep -qv '\[application | orca\]'; }
wait_until 15 sees_window || fail "Orca never saw the program's window become active (is its accessibility on?) ($(keep_hint))"
settle 0 8

# The keys. STEPS records where in the log each one starts.
steps=$scratch/steps
: >"$steps"
status=0
for key in "${keys[@]}"; do
    if ! running "$app_pid"; then
        rc=0; wait "$app_pid" || rc=$?
        echo "$me: the program ended (status $rc) before the key '$key'" >&2
        status=3
        break
    fi
    read -r -a parts <<<"$key"
    off=$(log_size)
    note=$(xdotool key "${parts[@]}" 2>&1 >/dev/null | sort -u | tr '\n' ' ') || note="xdotool failed: $note"
    printf '%s\t%s\t%s\n' "$off" "$key" "${note% }" >>"$steps"
    settle "$off" 4
done
printf 'END\t%s\n' "$(log_size)" >>"$steps"
# Ending after the last key may be what that key asked for; dying of a
# signal is not.
if ((status == 0)) && ! running "$app_pid"; then
    rc=0; wait "$app_pid" || rc=$?
    echo "$me: the program ended (status $rc) after the last key" >&2
    ((rc > 128)) && status=3
fi
log_has 'SPEECH DISPATCHER: Speaking' || echo "$me: Orca sent nothing to speech-dispatcher" >&2

/usr/bin/python3 "$tools/screen_reader_log.py" "$log" "$steps"
if [[ -s $scratch/program.log ]]; then
    echo "The program's output:"
    sed 's/^/    /' "$scratch/program.log"
fi
clock
echo "Orca's debug log: $log$( ((keep)) || echo ' (removed at the end; --keep keeps it)')"
echo "Run took $(((now - started) / 1000)).$(((now - started) % 1000 / 100)) s"
exit "$status"
