# install_missing PACKAGE...: installs the Debian packages of the list that are
# not installed yet (with sudo when not root). Sourced by the scripts that
# need packages; says what it does on standard error, so that a script's own
# output stays its own.
install_missing() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if ((${#missing[@]})); then
        local sudo=()
        [[ $(id -u) -ne 0 ]] && sudo=(sudo)
        echo "Installing: ${missing[*]}" >&2
        "${sudo[@]}" apt-get update >&2
        "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}" >&2
    fi
}
