# Sourced by the suite's scripts (tools/test.sh, demo.sh, rig.sh, setup.sh
# --check): the tools the suite runs are those of the Debian packages that
# tools/setup.sh installs.
#
# The system's folders come first on PATH, so that a program of the same name
# elsewhere (a tool under /usr/local, a language manager's python3, a link in
# ~/bin) is never what a test runs: on the machine it was put on it would pass,
# and on a fresh one the test would fail or run something else.
# tools/setup.sh --check holds every command the scripts call to this PATH.
case ":${PATH:-}:" in
/usr/sbin:/usr/bin:/sbin:/bin:*) ;;
*) export PATH="/usr/sbin:/usr/bin:/sbin:/bin${PATH:+:$PATH}" ;;
esac

# packaged_command PACKAGE NAME: prints the path of the program NAME as the
# installed PACKAGE lays it out, or fails with a line that names the package.
# For the programs a package keeps off PATH (Debian 12's wine64-tools puts
# winegcc in /usr/lib/wine, wine64 its loader there too).
packaged_command() {
    local file
    while read -r file; do
        [ "${file##*/}" = "$2" ] && [ -f "$file" ] && [ -x "$file" ] && { echo "$file"; return 0; }
    done < <(dpkg-query -L "$1" 2>/dev/null)
    echo "no $2: the package $1 is not installed (tools/setup.sh installs it)" >&2
    return 1
}
