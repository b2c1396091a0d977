# answer INDEX KIND PATH LIMIT FOLLOW: one request of a batch, as records
# after "@ INDEX" ("s" status, "b" base64 bytes, "d" digest, "n" bytes
# read, "l" base64 link target, "e" error). A repeated "@ INDEX" starts the
# answer over.
answer() {
    echo "@ $1"
    case $2 in
    status) look "$3" 0 && echo "s $status" || echo "e $error" ;;
    status-following) look "$3" 1 && echo "s $status" || echo "e $error" ;;
    link) read_link "$3" ;;
    list) list_folder "$3" ;;
    *) read_regular "$@" ;;
    esac
}

read_link() {
    r=$(readlink -v -n -- "$1" 2>&1 && echo /)
    case $r in
    */)
        printf 'l '
        printf %s "${r%/}" | base64 -w0
        echo
        ;;
    *) echo "e ${r##*: }" ;;
    esac
}

# A regular file only: whole (read, digest) or its end (tail), checked once
# more afterwards to be the file that was looked at; tried twice.
read_regular() {
    if [ "$4" -le 0 ]; then
        echo "e EINVAL"
        return
    fi
    for attempt in 1 2; do
        [ $attempt = 1 ] || echo "@ $1"
        read_once "$@" || return
        first=$identity
        look "$3" "$5" && [ "$identity" = "$first" ] && return
    done
    echo "e EAGAIN"
}

read_once() {
    if ! look "$3" "$5"; then
        echo "e $error"
        return 1
    fi
    case $type in
    link) echo "e ELOOP"; return 1 ;;
    dir) echo "s $status"; echo "e EISDIR"; return 1 ;;
    other) echo "s $status"; echo "e EINVAL"; return 1 ;;
    esac
    echo "s $status"
    skip=0 count=$(($4 + 1))
    if [ $2 = tail ]; then
        [ "$size" -le "$4" ] || skip=$((size - $4))
        count=$4
    elif [ "$size" -gt "$4" ]; then
        echo "e EFBIG"
        return 1
    fi
    if [ $2 = digest ]; then
        digest_of "$3" "$5" $count
        [ -n "$error" ] || echo "d $digest"
    else
        printf 'b '
        pass "$3" "$5" $skip $count base64 -w0
        echo
    fi
    if [ -n "$error" ]; then
        echo "e $error"
        return 1
    fi
    echo "n $copied"
}

# The entries of a folder (not following a final link), each with its
# lstat(), as NUL-ended "STATUS NAME" records in one base64 line.
list_folder() {
    if ! look "$1" 0; then
        echo "e $error"
        return
    fi
    case $type in
    link) echo "e ELOOP"; return ;;
    dir) ;;
    *) echo "e ENOTDIR"; return ;;
    esac
    if ! [ -r "$1" ] || ! [ -x "$1" ]; then
        echo "e EACCES"
        return
    fi
    printf 'b '
    r=$( { {
        cd -P -- "$1" 2>&4 || exit
        set -- * .[!.]* ..?*
        stat --printf "$status_format %n\\0" -- "$@" 2>&4
        echo "rc=$?" >&4
    } | base64 -w0 >&3; } 4>&1)
    echo
    case $r in
    *"Argument list too long"*) echo "e E2BIG" ;;
    *"rc=0" | *"rc=1") ;; # an entry gone meanwhile, or a pattern without match
    *) echo "e ${r##*: }" ;;
    esac
}
