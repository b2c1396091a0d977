# replace_file [OLD...]: replaces $target with the $new_size bytes on
# standard input, in the steps and with the guard of the local host, and
# removes the regular files OLD afterwards. Set by the caller: target,
# new_size, new_digest, guarded, expect_exists, expect_digest,
# expect_identity (device and inode of the file checked, or empty), backup,
# max_size. Nothing is reported before the end, and a lost connection
# (SIGHUP, SIGPIPE) does not stop it half-way: the target is renamed into
# place whole or not at all.
trap '' HUP PIPE

fail() {
    failed="$1 $2"
    [ -z "$kept" ] || rm -f -- "$kept"
    [ -z "$temp" ] || rm -f -- "$temp"
    if [ "$backup_made" = 1 ]; then
        rm -f -- "$backup"
        backup_made=0
    fi
}

# The target as it is now: $exists, and $current (its digest) when it is
# a regular file; 1 with $error when it is something else. With KEEP, its
# bytes are copied to $kept first and the digest is that copy's, so that
# the copy holds exactly the bytes the guard checks.
current_target() {
    if ! look "$target" 0; then
        [ "$error" = "No such file or directory" ] || return 1
        exists=0
        return 0
    fi
    case $type in
    link) error=ELOOP; return 1 ;;
    dir) error=EISDIR; return 1 ;;
    other) error=EINVAL; return 1 ;;
    esac
    if [ "$size" -gt "$max_size" ]; then
        error=EFBIG
        return 1
    fi
    exists=1 old_status=$status target_identity=$identity
    if [ "$1" = keep ]; then
        r=$(dd if="$target" of="$kept" iflag=nonblock,nofollow bs=65536 conv=fsync 2>&1) || {
            error=${r%%
*}
            error=${error##*: }
            return 1
        }
        current=$(sha256sum <"$kept")
        current=${current%% *}
    else
        digest_of "$target" 0
        [ -z "$error" ] || return 1
        current=$digest
    fi
}

# The file must be the one read: its digest and, when known, the same file
# (a file of the same bytes put in its place is not the one checked).
guard_holds() {
    [ "$guarded" = 1 ] || return 0
    [ "$exists" = "$expect_exists" ] || return 1
    [ "$exists" = 0 ] && return 0
    [ "$current" = "$expect_digest" ] || return 1
    [ -z "$expect_identity" ] || [ "$target_identity" = "$expect_identity" ]
}

replace_file() {
    failed='' kept='' temp='' backup_made=0 exists=0 current=''
    folder=${target%/*}
    [ -n "$folder" ] || folder=/
    name=${target##*/}
    keep=
    if [ -n "$backup" ] && look "$target" 0 && [ "$type" = reg ]; then
        kept=$(mktemp -- "${backup%/*}/.ntpsm-XXXXXX" 2>&1) || {
            error=${kept##*: } kept=
            fail backup "$error"
            return
        }
        keep=keep
    fi
    if ! current_target $keep; then
        fail target "$error"
        return
    fi
    if ! guard_holds; then
        fail guard ESTALE
        return
    fi
    if [ -n "$kept" ]; then
        if [ "$exists" = 1 ]; then
            r=$(ln -T -- "$kept" "$backup" 2>&1) || {
                fail backup "${r##*: }"
                return
            }
            backup_made=1
            sync -- "${backup%/*}" 2>/dev/null
        fi
        rm -f -- "$kept"
        kept=
    fi
    if [ "$exists" = 1 ]; then
        mode_and_owner $old_status
    else
        mode=644 owner=0:0
    fi
    write_new || return
    # Another program may have written meanwhile: the guard once more.
    if [ "$guarded" = 1 ]; then
        if ! current_target; then
            fail write "$error"
            return
        fi
        if ! guard_holds; then
            fail guard ESTALE
            return
        fi
    fi
    r=$(mv -T -f -- "$temp" "$target" 2>&1) || {
        fail write "${r##*: }"
        return
    }
    temp=
    sync -- "$folder" 2>/dev/null
    remove_stale_temporaries
    for old; do
        look "$old" 0 && [ "$type" = reg ] && rm -f -- "$old"
    done
}

# mode_and_owner STATUS...: $mode (octal) and $owner (UID:GID) of a status.
mode_and_owner() {
    mode=$(printf %o $((0x$1 & 07777))) owner=$2:$3
}

# The new bytes, checked against their digest (a connection lost half-way
# leaves them short), synced, with the old file's mode and owner.
write_new() {
    temp=$(mktemp -- "$folder/.$name.ntpsm-XXXXXX" 2>&1) || {
        error=${temp##*: } temp=
        fail write "$error"
        return 1
    }
    r=$(dd of="$temp" bs=65536 count="$new_size" iflag=fullblock,count_bytes conv=fsync 2>&1) || {
        error=${r%%
*}
        fail write "${error##*: }"
        return 1
    }
    written=$(sha256sum <"$temp")
    if [ "${written%% *}" != "$new_digest" ]; then
        fail write EIO
        return 1
    fi
    r=$(chown -- "$owner" "$temp" 2>&1 && chmod -- "$mode" "$temp" 2>&1) || {
        fail write "${r##*: }"
        return 1
    }
}

# Temporary files of this target left by a write that was killed, once
# they are a minute old (a younger one may belong to a write under way).
remove_stale_temporaries() {
    now=
    for old in "$folder"/."$name".ntpsm-??????; do
        look "$old" 0 && [ "$type" = reg ] || continue
        [ -n "$now" ] || now=$(date +%s)
        set -- $status
        [ "$7" -ge $((now - 60)) ] || rm -f -- "$old"
    done
}

report_replacement() {
    echo "@ 0"
    [ -z "$failed" ] || echo "f $failed"
    echo "k $backup_made"
    if [ -z "$failed" ] && look "$target" 0; then
        echo "s $status"
    fi
}
