# find_python VERSION prints the path of a CPython VERSION (for example 3.13) on this machine:
# on PATH, under pyenv, or in the usual prefixes; it fails when there is none.
find_python() {
    local version=$1 root candidate
    root="$(pyenv root 2>/dev/null || echo "$HOME/.pyenv")"
    for candidate in "$(command -v "python$version" || true)" "$root"/versions/"$version".*/bin/python"$version" \
        /root/.pyenv/versions/"$version".*/bin/python"$version" /usr/local/bin/python"$version" /usr/bin/python"$version"; do
        if [ -n "$candidate" ] && [ -x "$candidate" ] &&
            "$candidate" -c "import sys; assert '%d.%d' % sys.version_info[:2] == '$version'" 2>/dev/null; then
            "$candidate" -c 'import sys; print(sys.executable)'  # the interpreter itself, not a shim
            return 0
        fi
    done
    echo "no CPython $version found" >&2
    return 1
}
