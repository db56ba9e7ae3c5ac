#!/usr/bin/env bash
# The real perennix binary's command line, with no display at all: --version and --help print
# and end without starting the toolkit (which would fail with no display), an unknown option is
# refused with exit status 2 and a message on standard error.
#
# Usage: cli_e2e.sh PERENNIX_BINARY PROJECT_VERSION
set -euo pipefail
binary=$1
version=$2
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
run() {
  local status=0
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$binary" "$@" >"$out/stdout" 2>"$out/stderr" </dev/null || status=$?
  echo "$status"
}

[[ $(run --version) == 0 ]] || fail "--version: exit status $(run --version): $(cat "$out/stderr")"
[[ "$(cat "$out/stdout")" == "perennix $version" ]] || fail "--version printed '$(cat "$out/stdout")'"
[[ ! -s "$out/stderr" ]] || fail "--version wrote to standard error: $(cat "$out/stderr")"
echo "ok: --version prints 'perennix $version'"

[[ $(run --help) == 0 ]] || fail "--help: exit status $(run --help)"
head -n1 "$out/stdout" | grep -qxF 'Usage: perennix [--version | --help]' || fail "--help printed: $(cat "$out/stdout")"
echo "ok: --help prints the usage"

for option in --bogus -x; do
  status=$(run "$option")
  [[ "$status" == 2 ]] || fail "$option: exit status $status, not 2"
  grep -qxF "perennix: unknown option '$option'" "$out/stderr" || fail "$option: standard error holds '$(cat "$out/stderr")'"
  [[ ! -s "$out/stdout" ]] || fail "$option wrote to standard output"
done
echo "ok: unknown options end with status 2 and say which"

# Without any option the program does start the toolkit: with no display that fails, which is
# what shows the options above ended before it.
status=$(run)
[[ "$status" != 0 ]] || fail "with no display and no option the program ran"
echo "ok: without an option the toolkit is started (and with no display it cannot be)"
