#!/usr/bin/env bash
# Breaks the all-or-nothing save from outside and checks what is left: either
# the old file byte for byte and the disk error with status 0, or, where the
# save may fall back to writing in place, the new record and status 1. Never a
# temporary file left behind.
#
# usage: fault_injection_test.sh path/to/save_once GROUP
#   syscalls  write, fsync and rename failures and signals, injected with strace
#   disk      a full disk, a read-only file system and a bind mount (root, mount namespace)
#   limits    a file size limit of zero
#   access    immutable files and directories, and a directory the user may not write
# Exits 77 when the group's facility is missing on this machine.
set -uo pipefail

SAVE_ONCE=$(realpath "${1:?usage: $0 path/to/save_once GROUP}")
GROUP=${2:?usage: $0 path/to/save_once GROUP}
ROOT=$(mktemp -d)
chmod 755 "$ROOT"
FAILED=0
CASE=""
DIR=""
INODE=""

cleanup() {
    chattr -R -i "$ROOT" 2>/dev/null
    rm -rf "$ROOT"
}
trap cleanup EXIT

skip() {
    echo "SKIP: $GROUP: $*"
    exit 77
}

fail() {
    echo "FAIL: $CASE: $*" >&2
    FAILED=1
}

# The record before the save: a foreign magic and a main directory without its
# "/", so a save always changes the file, with bytes after the NULs and flag
# bits 2..7 that must come through.
field() { { printf "$1"; head -c 80 /dev/zero; } | head -c 80; }
{ printf '\x34\x12\x07\x85'; field 'c:/bbs\0\0tail'; field 'd:/q\x94/\0\x01\x02'; printf '\xa6'; } > "$ROOT/old"
{ printf '\x89\x63\x07\x85'; field 'c:/bbs/\0tail'; field 'd:/q\x94/\0\x01\x02'; printf '\xa6'; } > "$ROOT/new"
# What a save writes where there was no file: the defaults.
{ printf '\x89\x63\0\0'; field 'c:/bbs/main/'; field 'd:/bbs/quenda/'; printf '\x01'; } > "$ROOT/defaults"
OLD=$ROOT/old
NEW=$ROOT/new
[[ $(stat -c %s "$OLD") == 165 && $(stat -c %s "$NEW") == 165 ]] || { echo "bad test records" >&2; exit 1; }
DISK_ERROR=$'\nDisk error, cannot save quenda.cfg.'

# begin NAME [old|empty|none]: a fresh directory with quenda.cfg as given.
begin() {
    CASE=$1
    DIR=$ROOT/$CASE
    mkdir "$DIR"
    case ${2:-old} in
        old) cp "$OLD" "$DIR/quenda.cfg" ;;
        empty) : > "$DIR/quenda.cfg" ;;
        none) ;;
    esac
}

# run [COMMAND...]: save_once in $DIR under COMMAND; sets RC, OUT holds stdout.
OUT=$ROOT/stdout
run() {
    # The subshell reaps the command, so a death by signal is not announced.
    (
        cd "$DIR" && "$@" "$SAVE_ONCE" > "$OUT" 2> "$ROOT/stderr"
        echo $? > "$ROOT/rc"
    ) 2> /dev/null
    RC=$(cat "$ROOT/rc")
}

# under_strace INJECTIONS...: run with each -e inject=..., the calls logged to
# $LOG with file names so a test can tell which file a failure hit.
LOG=$ROOT/strace.log
AS_USER=()
under_strace() {
    local args=(-f -y -qq -o "$LOG")
    local injection
    for injection in "$@"; do args+=(-e "inject=$injection"); done
    # Signals the caller ignores would be ignored by the save too. LeakSanitizer
    # cannot work under ptrace.
    run env --default-signal=INT,TERM,HUP ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
        strace "${args[@]}" "${AS_USER[@]}"
}

expect_saved() {
    [[ $RC == 1 ]] || fail "status $RC, expected 1 (saved); stderr: $(cat "$ROOT/stderr")"
    [[ ! -s $OUT ]] || fail "unexpected output: $(cat "$OUT")"
    cmp -s "${1:-$DIR/quenda.cfg}" "$NEW" || fail "quenda.cfg is not the new record: $(xxd -p "${1:-$DIR/quenda.cfg}" | tr -d '\n')"
}

# expect_refused [old|empty|none]: the disk error, and quenda.cfg as it was.
expect_refused() {
    [[ $RC == 0 ]] || fail "status $RC, expected 0 (disk error); stderr: $(cat "$ROOT/stderr")"
    [[ "$(cat "$OUT"; echo .)" == "$DISK_ERROR." ]] || fail "stdout is '$(cat "$OUT")'"
    case ${1:-old} in
        old) cmp -s "$DIR/quenda.cfg" "$OLD" || fail "the old file changed" ;;
        empty) [[ -f $DIR/quenda.cfg && ! -s $DIR/quenda.cfg ]] || fail "the empty file changed" ;;
        none) [[ ! -e $DIR/quenda.cfg ]] || fail "quenda.cfg was created" ;;
    esac
}

# expect_entries NAME...: the directory holds exactly these names.
expect_entries() {
    local want got
    want=$(printf '%s\n' "$@" | sort)
    got=$(ls -A "$DIR" | sort)
    [[ $got == "$want" ]] || fail "directory holds [$(echo $got)], expected [$(echo $want)]"
}

# remember_inode, then expect_inode kept|replaced: whether quenda.cfg is still
# the same file.
remember_inode() { INODE=$(stat -c %i "$DIR/quenda.cfg"); }
expect_inode() {
    local now
    now=$(stat -c %i "$DIR/quenda.cfg")
    case $1 in
        kept) [[ $now == "$INODE" ]] || fail "quenda.cfg was replaced" ;;
        replaced) [[ $now != "$INODE" ]] || fail "quenda.cfg was not replaced" ;;
    esac
}

# expect_owner UID:GID:MODE
expect_owner() {
    local now
    now=$(stat -c %u:%g:%a "$DIR/quenda.cfg")
    [[ $now == "$1" ]] || fail "owner, group or mode changed: $now"
}

expect_logged() {
    grep -Eq -- "$1" "$LOG" || fail "strace log lacks /$1/"
}

# A new file is unnamed (strace shows its inode) or has a temporary name.
TEMP='(\.quenda\.cfg\.([^/]*-)?[0-9]+-[0-9]+|#[0-9]+)'

# nth_call NAME REGEX: which call of NAME, counted over the whole run in $LOG,
# is the first one of the save whose line matches REGEX; with NAME "" every
# call of the save, as NAME:N.
nth_call() {
    awk -v want="$1" -v re="$2" '/rt_sigprocmask\(SIG_BLOCK/ { on = 1 }
        { name = $2; sub(/\(.*/, "", name); n[name]++ }
        on && want == "" && name !~ /^(exit_group|mmap|munmap|madvise)$/ { print name ":" n[name] }
        on && name == want && $0 ~ re { print n[name]; exit }' "$LOG"
}

# The kinds of file of the crash sweep, and what each may hold after a kill:
# the old record or the new one (a dangling link's target: none or the new),
# the link unchanged, and nothing else but a named temporary file that holds
# all of the new record (killed between naming it and the rename).
sweep_setup() {
    case $1 in
        plain) cp "$OLD" "$DIR/quenda.cfg" ;;
        link) cp "$OLD" "$DIR/target.cfg" && ln -s target.cfg "$DIR/quenda.cfg" ;;
        dangling) ln -s target.cfg "$DIR/quenda.cfg" ;;
        hard-links) cp "$OLD" "$DIR/quenda.cfg" && ln "$DIR/quenda.cfg" "$DIR/other.cfg" ;;
    esac
}

expect_old_or_new() {
    local file=$DIR/quenda.cfg names=(quenda.cfg) name new=$NEW
    case $1 in
        link | dangling)
            file=$DIR/target.cfg
            [[ $(readlink "$DIR/quenda.cfg") == target.cfg ]] || fail "the link changed"
            [[ $1 == dangling ]] && new=$ROOT/defaults
            [[ $1 == dangling && ! -e $file ]] || names+=(target.cfg) ;;
        hard-links)
            names+=(other.cfg)
            [[ $(stat -c %i "$DIR/other.cfg") == $(stat -c %i "$file") ]] || fail "the hard link was broken" ;;
    esac
    if [[ $1 != dangling || -e $file ]] && ! cmp -s "$file" "$OLD" && ! cmp -s "$file" "$new"; then
        fail "status $RC, neither old nor new: $(xxd -p "$file" | tr -d '\n')"
    fi
    for name in "$DIR"/.quenda.cfg.*; do
        [[ ${name##*/} =~ ^$TEMP$ ]] && cmp -s "$name" "$new" && names+=("${name##*/}")
    done
    expect_entries "${names[@]}"
}

group_syscalls() {
    command -v strace > /dev/null || skip "strace is not installed"
    strace -o /dev/null true 2> /dev/null || skip "strace cannot trace here"

    # No room for the temporary file: the old one is overwritten where it is.
    begin temp-write-fails
    under_strace write:error=ENOSPC:when=1
    expect_saved
    expect_entries quenda.cfg
    expect_logged "write\([0-9]+<[^>]*/$TEMP>.*ENOSPC.*INJECTED"
    expect_logged "pwrite64\([0-9]+<[^>]*/quenda.cfg>.* = 165$"

    begin temp-and-in-place-writes-fail
    under_strace write:error=ENOSPC:when=1 pwrite64:error=ENOSPC
    expect_refused
    expect_entries quenda.cfg

    # The disk reported an error: the old file is not touched at all.
    local injection
    for injection in write:error=EIO:when=1 fsync:error=EIO \
        "rename,renameat,renameat2:error=EIO fsync:error=EIO:when=2+"; do
        begin "eio-${injection%%:*}"
        # shellcheck disable=SC2086
        under_strace $injection
        expect_refused
        expect_entries quenda.cfg
    done

    begin rename-fails-no-old-file none
    under_strace rename,renameat,renameat2,linkat:error=EIO
    expect_refused none
    expect_entries

    # Another device: only overwriting can work.
    begin rename-crosses-devices
    under_strace rename,renameat,renameat2:error=EXDEV
    expect_saved
    expect_entries quenda.cfg

    # A signal in the middle of the save waits until the save is complete,
    # and then the status still says the file was saved.
    local sig
    for sig in INT TERM HUP; do
        begin "sig$sig-during-save"
        under_strace "fsync:signal=SIG$sig:when=1"
        expect_saved
        expect_entries quenda.cfg
    done

    # A dangling link saved by a user who may not read the directories above
    # it: the target is made whole or not at all, and nothing is removed by
    # a name that someone could have swapped meanwhile.
    if [[ $(id -u) == 0 ]] && command -v setpriv > /dev/null; then
        begin dangling-link-hidden-path none
        mkdir -m 700 "$DIR/hidden"
        mkdir -m 777 "$DIR/hidden/work"
        ln -s target.cfg "$DIR/hidden/work/quenda.cfg"
        cp "$SAVE_ONCE" "$ROOT/save_once_nobody"
        local save_once=$SAVE_ONCE
        SAVE_ONCE=$ROOT/save_once_nobody DIR=$DIR/hidden/work \
            AS_USER=(setpriv --reuid=65534 --regid=65534 --clear-groups)
        under_strace write:error=EIO:when=1 pwrite64:error=EIO
        expect_refused none
        expect_entries quenda.cfg
        if grep -Eq 'unlink(at)?\(' "$LOG"; then fail "removed a file: $(grep -E 'unlink(at)?\(' "$LOG")"; fi
        SAVE_ONCE=$save_once AS_USER=()
    fi

    # The crash sweep: the save killed at each of its system calls in turn.
    local kind calls call
    for kind in plain link dangling hard-links; do
        begin "sweep-$kind-trace" none
        sweep_setup "$kind"
        under_strace
        calls=$(nth_call "" "")
        [[ -n $calls ]] || fail "no save in the trace: $(cat "$LOG")"
        for call in $calls; do
            begin "sweep-$kind-${call/:/-}" none
            sweep_setup "$kind"
            under_strace "${call%:*}:signal=SIGKILL:when=${call#*:}"
            expect_old_or_new "$kind"
        done
    done

    # A link that cannot be looked at is a disk error, never taken for a file.
    local nth
    for CASE in link-lstat-fails-trace link-lstat-fails; do
        begin $CASE none
        sweep_setup link
        [[ $CASE == *-trace ]] && under_strace && nth=$(nth_call newfstatat 'quenda\.cfg.*S_IFLNK')
    done
    under_strace "newfstatat:error=EIO:when=${nth:-1}"
    expect_refused
    expect_old_or_new link

    # No O_TMPFILE (NFS, SMB, vfat): a save killed before its rename leaves a
    # named file, which the next save on this host removes.
    begin no-unnamed-files
    under_strace
    nth=$(nth_call openat O_TMPFILE)
    under_strace "openat:error=EOPNOTSUPP:when=${nth:-1}" rename,renameat:signal=SIGKILL
    local left=("$DIR"/.quenda.cfg.*)
    [[ ${#left[@]} == 1 && -f ${left[0]} ]] || fail "no leftover to clear: $(ls -A "$DIR")"
    # A pid no process can have is not cut to one that is gone.
    : > "${left[0]%-*-*}-2147483648-0"
    under_strace "openat:error=EOPNOTSUPP:when=${nth:-1}"
    expect_saved
    expect_entries quenda.cfg "$(basename "${left[0]%-*-*}")-2147483648-0"

    # Killed while the new file is being flushed: nothing but the old file.
    begin killed-during-fsync
    rm -f "$LOG"
    (
        cd "$DIR" && exec env ASAN_OPTIONS=detect_leaks=0 strace -f -qq -o "$LOG" \
            -e inject=fsync:delay_enter=3000000 "$SAVE_ONCE" > "$OUT" 2>&1
    ) &
    local tracer=$! pid="" waited
    for waited in $(seq 100); do
        pid=$(grep -m1 -oE '^[0-9]+ +fsync' "$LOG" 2> /dev/null | grep -oE '^[0-9]+') && break
        sleep 0.05
    done
    [[ -n $pid ]] && kill -KILL "$pid"
    wait "$tracer" 2> /dev/null
    [[ -n $pid ]] || fail "the save never reached fsync: $(cat "$LOG")"
    cmp -s "$DIR/quenda.cfg" "$OLD" || fail "the old file changed"
    expect_entries quenda.cfg
}

# The namespace cases need the binary as an argument; run them through this.
full_disk_case() {
    local state=$1
    begin "full-disk-$state" none
    rm -f "$ROOT/seed" "$ROOT/after" "$ROOT/rc" "$ROOT/listing"
    case $state in
        old) cp "$OLD" "$ROOT/seed" ;;
        empty) : > "$ROOT/seed" ;;
    esac
    unshare -m --propagation private sh -ec '
        mount -t tmpfs -o size=8k tmpfs "$1"
        cd "$1"
        if [ -e "$3/seed" ]; then cp "$3/seed" quenda.cfg; fi
        dd if=/dev/zero of=fill bs=1k count=64 2>/dev/null || true
        rc=0; "$2" > "$3/stdout" || rc=$?; echo $rc > "$3/rc"
        ls -A > "$3/listing"
        if [ -e quenda.cfg ]; then cp quenda.cfg "$3/after"; fi' \
        sh "$DIR" "$SAVE_ONCE" "$ROOT" 2> "$ROOT/stderr" || fail "namespace: $(cat "$ROOT/stderr")"
    RC=$(cat "$ROOT/rc" 2> /dev/null)
}

group_disk() {
    [[ $(id -u) == 0 ]] || skip "mounting needs root"
    unshare -m --propagation private true 2> /dev/null || skip "no mount namespaces here"

    # The old record on a full disk: no room for a second copy, so it is
    # overwritten where it stands.
    full_disk_case old
    expect_saved "$ROOT/after"
    [[ $(cat "$ROOT/listing" | sort | tr '\n' ' ') == "fill quenda.cfg " ]] || fail "left: $(cat "$ROOT/listing")"

    # An empty file or none: nothing can be written at all.
    local state
    for state in empty none; do
        full_disk_case $state
        [[ $RC == 0 ]] || fail "status $RC, expected 0 (disk error)"
        [[ "$(cat "$OUT"; echo .)" == "$DISK_ERROR." ]] || fail "stdout is '$(cat "$OUT")'"
        if [[ $state == empty ]]; then
            [[ -f $ROOT/after && ! -s $ROOT/after ]] || fail "the empty file changed"
            [[ $(sort "$ROOT/listing" | tr '\n' ' ') == "fill quenda.cfg " ]] || fail "left: $(cat "$ROOT/listing")"
        else
            [[ ! -e $ROOT/after ]] || fail "quenda.cfg was created"
            [[ $(sort "$ROOT/listing" | tr '\n' ' ') == "fill " ]] || fail "left: $(cat "$ROOT/listing")"
        fi
    done

    # A dangling link on a full disk: the target it would have made is gone
    # again, so the next start shows the defaults, not an empty record.
    begin full-disk-dangling-link none
    unshare -m --propagation private sh -ec '
        mount -t tmpfs -o size=8k tmpfs "$1"
        cd "$1"
        ln -s target.cfg quenda.cfg
        dd if=/dev/zero of=fill bs=1k count=64 2>/dev/null || true
        rc=0; "$2" > "$3/stdout" || rc=$?; echo $rc > "$3/rc"
        ls -A > "$3/listing"
        readlink quenda.cfg > "$3/after"' \
        sh "$DIR" "$SAVE_ONCE" "$ROOT" 2> "$ROOT/stderr" || fail "namespace: $(cat "$ROOT/stderr")"
    RC=$(cat "$ROOT/rc" 2> /dev/null)
    [[ $RC == 0 ]] || fail "status $RC, expected 0 (disk error)"
    [[ $(sort "$ROOT/listing" | tr '\n' ' ') == "fill quenda.cfg " ]] || fail "left: $(cat "$ROOT/listing")"
    [[ $(cat "$ROOT/after") == target.cfg ]] || fail "the link changed"

    # A file mounted over quenda.cfg cannot be renamed over (EBUSY); the mounted
    # file is overwritten instead and the file underneath is untouched.
    begin bind-mounted
    cp "$OLD" "$ROOT/mounted"
    echo underneath > "$DIR/quenda.cfg"
    unshare -m --propagation private sh -ec '
        mount --bind "$3/mounted" "$1/quenda.cfg"
        cd "$1"
        rc=0; "$2" > "$3/stdout" || rc=$?; echo $rc > "$3/rc"' \
        sh "$DIR" "$SAVE_ONCE" "$ROOT" 2> "$ROOT/stderr" || fail "namespace: $(cat "$ROOT/stderr")"
    RC=$(cat "$ROOT/rc" 2> /dev/null)
    expect_saved "$ROOT/mounted"
    [[ $(cat "$DIR/quenda.cfg") == underneath ]] || fail "the file under the mount changed"
    expect_entries quenda.cfg

    # A read-only file system refuses even root.
    begin read-only-fs none
    unshare -m --propagation private sh -ec '
        mount -t tmpfs tmpfs "$1"
        cp "$3/old" "$1/quenda.cfg"
        mount -o remount,ro "$1"
        cd "$1"
        rc=0; "$2" > "$3/stdout" || rc=$?; echo $rc > "$3/rc"
        cp quenda.cfg "$3/after"
        ls -A > "$3/listing"' \
        sh "$DIR" "$SAVE_ONCE" "$ROOT" 2> "$ROOT/stderr" || fail "namespace: $(cat "$ROOT/stderr")"
    RC=$(cat "$ROOT/rc" 2> /dev/null)
    [[ $RC == 0 ]] || fail "status $RC, expected 0 (disk error)"
    [[ "$(cat "$OUT"; echo .)" == "$DISK_ERROR." ]] || fail "stdout is '$(cat "$OUT")'"
    cmp -s "$ROOT/after" "$OLD" || fail "the old file changed"
    [[ $(cat "$ROOT/listing") == quenda.cfg ]] || fail "left: $(cat "$ROOT/listing")"
}

# run_limited BYTES [TRAP]: run with a file size limit. Its output goes
# through pipes, to which the limit does not apply.
run_limited() {
    (
        cd "$DIR" && bash -c "${2:-} exec prlimit --fsize=$1 \"\$0\"" "$SAVE_ONCE" \
            2> >(cat > "$ROOT/stderr") | cat > "$OUT"
        echo "${PIPESTATUS[0]}" > "$ROOT/rc"
    ) 2> /dev/null
    RC=$(cat "$ROOT/rc")
}

group_limits() {
    # No write to a file can succeed, whether the limit's signal is left to
    # kill or ignored.
    local how trap_cmd
    for how in default ignored; do
        trap_cmd=""
        [[ $how == ignored ]] && trap_cmd='trap "" XFSZ;'
        begin "file-size-limit-$how"
        run_limited 0 "$trap_cmd"
        expect_refused
        expect_entries quenda.cfg

        begin "file-size-limit-$how-no-old-file" none
        run_limited 0 "$trap_cmd"
        expect_refused none
        expect_entries

        # Room for part of the record, in a file that must be written in
        # place: refused before the first byte, or the record would be torn.
        begin "file-size-limit-$how-hard-links"
        ln "$DIR/quenda.cfg" "$DIR/other.cfg"
        run_limited 100 "$trap_cmd"
        expect_refused
        expect_entries quenda.cfg other.cfg
    done

    # Standard output a pipe nobody reads: the disk error still ends with 0.
    begin closed-pipe none
    mkdir "$DIR/quenda.cfg"
    # The read end is closed before the save starts, so no write can slip through.
    RC=$(cd "$DIR" && python3 -c 'import os, subprocess, sys
r, w = os.pipe()
os.close(r)
print(subprocess.call([sys.argv[1]], stdout=w, stderr=subprocess.DEVNULL))' "$SAVE_ONCE")
    [[ $RC == 0 ]] || fail "status $RC, expected 0 (disk error)"
}

group_access() {
    local immutable=no
    # Immutable is root's way of "read-only": the file refuses the gate...
    if [[ $(id -u) == 0 ]]; then
        begin immutable-file
        chattr +i "$DIR/quenda.cfg" 2> /dev/null && immutable=yes
    fi
    if [[ $immutable == yes ]]; then
        run
        chattr -i "$DIR/quenda.cfg"
        expect_refused
        expect_entries quenda.cfg

        # ...the directory refuses the temporary file, so the file is
        # overwritten where it stands.
        begin immutable-directory
        remember_inode
        chattr +i "$DIR"
        run
        chattr -i "$DIR"
        expect_saved
        expect_inode kept
        expect_entries quenda.cfg
    else
        echo "note: chattr +i is not available here; the immutable cases did not run"
    fi

    # An append-only directory would keep a temporary name for good: the file
    # is overwritten where it stands.
    begin append-only-directory
    if chattr +a "$DIR" 2> /dev/null; then
        run
        chattr -a "$DIR"
    else
        # No flags on this file system: a private tmpfs has them; what is
        # left in it is copied out before it goes.
        unshare -m --propagation private sh -ec 'mount -t tmpfs tmpfs "$1"; cp "$3/old" "$1/quenda.cfg"
            chattr +a "$1"; cd "$1"; rc=0; "$2" > "$3/stdout" || rc=$?
            echo $rc > "$3/rc"; chattr -a .; cp -a . "$3/append-only-left"' sh "$DIR" "$SAVE_ONCE" "$ROOT" ||
            skip "neither this file system nor a private tmpfs takes chattr +a"
        DIR=$ROOT/append-only-left RC=$(cat "$ROOT/rc")
    fi
    expect_saved
    expect_entries quenda.cfg

    # A directory the user may not write, holding a set-user-ID file of theirs.
    local as_user=()
    if [[ $(id -u) == 0 ]]; then
        command -v setpriv > /dev/null || skip "setpriv is not installed"
        as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
        cp "$SAVE_ONCE" "$ROOT/save_once"
        chmod 755 "$ROOT/save_once"
        SAVE_ONCE=$ROOT/save_once
    fi
    begin read-only-directory
    [[ $(id -u) == 0 ]] && chown 65534 "$DIR/quenda.cfg"
    chmod 4666 "$DIR/quenda.cfg"
    chmod 555 "$DIR"
    remember_inode
    run "${as_user[@]}"
    chmod 755 "$DIR"
    expect_saved
    expect_inode kept
    [[ $(stat -c %a "$DIR/quenda.cfg") == 4666 ]] || fail "the set-user-ID bit was lost in place"
    expect_entries quenda.cfg

    [[ $(id -u) == 0 ]] || return 0
    # Links that another user planted in a directory they may write are
    # followed only to that user's own file: root's file stays as it was and
    # nothing is made in root's directory.
    mkdir -m 700 "$ROOT/roots" "$ROOT/theirs"
    cp "$OLD" "$ROOT/roots/secret" && cp "$OLD" "$ROOT/theirs/own.cfg" && cp "$OLD" "$ROOT/roots/theirs.cfg"
    chown -R 65534:65534 "$ROOT/theirs" "$ROOT/roots/theirs.cfg"
    local row
    for row in roots/secret:old roots/made.cfg:none theirs/own.cfg:saved roots/theirs.cfg:old theirs/made.cfg:made; do
        begin "foreign-link-${row//[\/:]/-}" none
        chmod 1777 "$DIR"
        ln -s "$ROOT/${row%:*}" "$DIR/quenda.cfg"
        chown -h 65534:65534 "$DIR/quenda.cfg"
        run
        # What a link that led to no file made is theirs, so the next save takes it too.
        [[ ${row#*:} == made ]] && run && { [[ $(stat -c %u "$ROOT/${row%:*}") == 65534 ]] || fail "made for root"; }
        case ${row#*:} in saved) expect_saved ;; made) NEW=$ROOT/defaults expect_saved ;; *) expect_refused "${row#*:}" ;; esac
        [[ -L $DIR/quenda.cfg ]] || fail "the link was replaced"
        expect_entries quenda.cfg
    done
    [[ $(ls -A "$ROOT/roots" | tr '\n' ' ') == "secret theirs.cfg " ]] || fail "made in root's directory: $(ls -A "$ROOT/roots")"

    # Another name for root's file where others may write and the kernel lets
    # anyone make one (0 shown in a private namespace): root's file stays.
    begin planted-hard-link none
    chmod 1777 "$DIR" && install -m 600 "$OLD" "$ROOT/roots/linked" && ln "$ROOT/roots/linked" "$DIR/quenda.cfg"
    echo 0 > "$ROOT/zero"
    run unshare -m --propagation private sh -c 'mount --bind "$0" /proc/sys/fs/protected_hardlinks && exec "$@"' "$ROOT/zero"
    expect_refused
    expect_entries quenda.cfg

    local member=(setpriv --reuid=65534 --regid=65534 --groups=4242)
    # Another member of the file's group saves it, from a sticky directory: a
    # new file could not be given to the owner, so the file is overwritten and
    # stays the owner's.
    begin shared-group-file
    chown 1:4242 "$DIR/quenda.cfg"
    chmod 660 "$DIR/quenda.cfg"
    chmod 1777 "$DIR"
    remember_inode
    run "${member[@]}"
    expect_saved
    expect_owner 1:4242:660
    expect_inode kept
    expect_entries quenda.cfg

    # The operator's own file in a group of theirs other than their first: it is
    # replaced as usual, and the group and the set-user-ID bit come over.
    begin own-file-second-group
    chown 65534:4242 "$DIR/quenda.cfg"
    chmod 4640 "$DIR/quenda.cfg"
    chmod 777 "$DIR"
    remember_inode
    run "${member[@]}"
    expect_saved
    expect_owner 65534:4242:4640
    expect_inode replaced
    expect_entries quenda.cfg

    # An access list and extended attributes come over to the new file.
    begin access-list
    if ! setfacl -m u:1:rw "$DIR/quenda.cfg" 2> /dev/null; then
        echo "note: setfacl is missing or access lists are off here; that case did not run"
    else
        remember_inode
        run
        expect_saved
        getfacl -pn "$DIR/quenda.cfg" 2> /dev/null | grep -qx 'user:1:rw-' || fail "the access list was lost"
        expect_inode replaced
        expect_entries quenda.cfg
    fi

    # ...and so do the set-id bits and the owner's file flags.
    begin user-attribute
    chmod 4755 "$DIR/quenda.cfg"
    if ! setfattr -n user.bbs -v node1 "$DIR/quenda.cfg" 2> /dev/null ||
        ! chattr +dA "$DIR/quenda.cfg" 2> /dev/null; then
        echo "note: user attributes or file flags are off here; that case did not run"
    else
        run
        expect_saved
        [[ $(getfattr --only-values -n user.bbs "$DIR/quenda.cfg" 2> /dev/null) == node1 ]] ||
            fail "the attribute user.bbs was lost"
        [[ $(lsattr "$DIR/quenda.cfg") == *d*A*\ * ]] || fail "file flags lost: $(lsattr "$DIR/quenda.cfg")"
        expect_owner 0:0:4755
        expect_entries quenda.cfg
    fi
}

case $GROUP in
    syscalls | disk | limits | access) "group_$GROUP" ;;
    *) echo "unknown group $GROUP" >&2; exit 2 ;;
esac
if [[ $FAILED != 0 ]]; then exit 1; fi
echo "PASS: $GROUP"
