# Shared by every program this client sends to a server: a known
# environment and the file primitives, built on coreutils only. Results go
# to standard output as one record per line; fd 3 is that output too, for
# data that passes through a pipe.
export LC_ALL=C QUOTING_STYLE=literal
PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export PATH
exec 3>&1
status_format='%f %u %g %d %i %s %Y %y'

# look PATH FOLLOW: lstat() (stat() when FOLLOW is 1). Sets $status (the
# fields of $status_format), $type (reg, dir, link or other), $size and
# $identity (device and inode); or $error, the system's text.
look() {
    if [ "$2" = 1 ]; then
        status=$(stat -L -c "$status_format" -- "$1" 2>&1)
    else
        status=$(stat -c "$status_format" -- "$1" 2>&1)
    fi
    if [ $? -ne 0 ]; then
        error=${status##*: }
        return 1
    fi
    set -- $status
    size=$6 identity="$4 $5"
    case $1 in
    8???) type='reg' ;;
    4???) type='dir' ;;
    a???) type='link' ;;
    *) type='other' ;;
    esac
    return 0
}

# read_flags FOLLOW: $flags, the iflag of dd for reading a file: never
# blocking on a FIFO, and not following a final link unless FOLLOW is 1.
read_flags() {
    flags=nonblock,skip_bytes,count_bytes
    [ "$1" = 1 ] || flags=$flags,nofollow
}

# dd_result TEXT: $copied (bytes) or $error from what dd and the caller's
# "rc=" line reported.
dd_result() {
    case $1 in
    *"rc=0"*)
        error=
        copied=${1#*records out
}
        copied=${copied%% *}
        ;;
    *)
        error=${1%%
*}
        error=${error##*: }
        ;;
    esac
}

# pass PATH FOLLOW SKIP COUNT FILTER...: COUNT bytes of PATH from SKIP
# through FILTER to the output.
pass() {
    read_flags "$2"
    p_path=$1 p_skip=$3 p_count=$4
    shift 4
    dd_result "$( { { dd if="$p_path" iflag=$flags bs=65536 skip="$p_skip" count="$p_count" 2>&4; echo "rc=$?" >&4; } | "$@" >&3; } 4>&1)"
}

# digest_of PATH FOLLOW [COUNT]: $digest, the SHA-256 of (at most COUNT
# bytes of) the file, and $copied; or $error. sha256sum writes only once dd
# and the "rc=" line are done, so its line comes last.
digest_of() {
    read_flags "$2"
    d_out=$( { { dd if="$1" iflag=$flags bs=65536 count="${3:-1099511627776}" 2>&4; echo "rc=$?" >&4; } | sha256sum; } 4>&1)
    dd_result "$d_out"
    digest=${d_out##*
}
    digest=${digest%% *}
}
