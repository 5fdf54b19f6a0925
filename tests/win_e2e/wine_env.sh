# Sourced by the scripts of this folder: the wine they run the Windows
# programs under, and small helpers.
#
# WINEPREFIX is taken from the environment (the Windows test leg sets a
# private one) or made in QUILLMARK_WINE_PREFIX_DEFAULT, which the caller
# sets to a folder of the build tree.

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

: "${WINEPREFIX:=${QUILLMARK_WINE_PREFIX_DEFAULT:?no WINEPREFIX}}"
export WINEPREFIX
export WINEARCH=win64
: "${WINEDEBUG:=-all}"
export WINEDEBUG
WINE=${QUILLMARK_WINE:-wine}
command -v "$WINE" >/dev/null 2>&1 || fail "wine ($WINE) is not installed: the Windows tests cannot run"
WINE_RUN=$(cd "$(dirname "$0")/../.." && pwd)/scripts/wine-run.sh

# Runs a Windows program under wine; its output comes once it has ended.
# Everything that reads a wine program's output through a pipe uses this.
run_wine() {
  sh "$WINE_RUN" "$WINE" "$@"
}

# A Linux path as the Windows programs name it (wine maps Z: to /).
windows_path() {
  printf 'Z:%s' "$(realpath -m "$1" | sed 's|/|\\|g')"
}

# Polls `$@` every 50 ms until it succeeds or SECONDS pass.
wait_until() {
  seconds=$1
  shift
  deadline=$(( $(date +%s) + seconds ))
  until "$@"; do
    [ "$(date +%s)" -lt "$deadline" ] || return 1
    sleep 0.05
  done
}
