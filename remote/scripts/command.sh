# run_program TIMEOUT GROUP PROGRAM [ARGUMENT...]: runs PROGRAM with the
# rest of standard input, between a "$n started PID" line and a final
# "$n exit CODE" line on its standard output; ended after TIMEOUT seconds
# (its whole process group when GROUP is 1). "$n missing" instead when
# there is no such program.
run_program() {
    seconds=$1 group=$2
    shift 2
    if ! command -v -- "$1" >/dev/null 2>&1; then
        echo "$n missing"
        exit 127
    fi
    # An asynchronous command's input would be /dev/null: it gets ours
    # through fd 5.
    exec 5<&0
    if [ "$group" = 1 ]; then
        timeout -k 2 "$seconds" "$@" <&5 5<&- &
    else
        timeout --foreground -k 2 "$seconds" "$@" <&5 5<&- &
    fi
    exec 5<&-
    child=$!
    echo "$n started $child $$"
    wait $child
    code=$?
    printf '\n%s exit %s\n' "$n" $code
}

# start_session PROGRAM [ARGUMENT...]: PROGRAM in place of this shell,
# talking through standard input and output.
start_session() {
    if ! command -v -- "$1" >/dev/null 2>&1; then
        echo "$n missing"
        exit 127
    fi
    echo "$n started $$"
    exec "$@"
}

# end_program PID PARENT: what cancelling a job does on the server; only
# while PID is still the child the job's shell PARENT started.
end_program() {
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return
    set -- "$1" "$2" ${stat##*) }
    [ "$4" = "$2" ] && kill -TERM "$1" 2>/dev/null
}

# probe: who we are, and what sudo says without a password.
probe() {
    echo "@ 0"
    echo "u $(id -u)"
    [ "$(id -u)" = 0 ] && return
    if ! command -v sudo >/dev/null 2>&1; then
        echo "S missing"
    elif r=$(sudo -n -- id -u 2>&1); then
        echo "S $r"
    else
        printf 'R '
        printf %s "$r" | base64 -w0
        echo
    fi
}
