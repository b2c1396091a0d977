# make_folder PATH MODE: mkdir with exactly MODE (the umask does not count).
make_folder() {
    echo "@ 0"
    r=$(mkdir -m "$2" -- "$1" 2>&1) || echo "e ${r##*: }"
}

# remove_file PATH: a regular file only; anything else is left alone.
remove_file() {
    echo "@ 0"
    if ! look "$1" 0; then
        echo "e $error"
    elif [ "$type" != reg ]; then
        echo "e EINVAL"
    else
        r=$(rm -f -- "$1" 2>&1) || echo "e ${r##*: }"
    fi
}
