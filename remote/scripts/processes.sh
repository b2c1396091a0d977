# list_processes PROC: the processes of /proc (or a stand-in folder). "N"
# our network namespace; "h" every cmdline in one `head -v` (base64), which
# the client trusts only when no header appears twice; "u PID UID" the real
# user ids; "x", "c", "t" the exe, cwd and ns/net links (stat %N, NUL-ended,
# base64).
list_processes() {
    echo "@ 0"
    if ! cd -P -- "$1" 2>/dev/null; then
        echo "e ENOENT"
        return
    fi
    echo "N $(readlink self/ns/net 2>/dev/null)"
    set -- [0-9]*/cmdline
    printf 'h '
    head -v -c 65537 -- "$@" 2>/dev/null | base64 -w0
    echo
    for entry in [0-9]*; do
        uid=
        { while read -r key value rest; do
            if [ "$key" = Uid: ]; then
                uid=$value
                break
            fi
        done <"$entry/status"; } 2>/dev/null
        echo "u $entry $uid"
    done
    link_records x exe
    link_records c cwd
    link_records t ns/net
}

link_records() {
    printf '%s ' "$1"
    set -- [0-9]*/"$2"
    stat --printf '%n\0%N\0' -- "$@" 2>/dev/null | base64 -w0
    echo
}

# Each command line on its own, for when processes changed theirs while
# the batch above read them.
list_command_lines() {
    echo "@ 0"
    cd -P -- "$1" 2>/dev/null || return
    for entry in [0-9]*; do
        printf 'C %s ' "$entry"
        head -c 65537 -- "$entry/cmdline" 2>/dev/null | base64 -w0
        echo
    done
}
