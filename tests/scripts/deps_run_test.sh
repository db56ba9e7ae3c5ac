#!/usr/bin/env bash
# scripts/deps run: the packages scripts/run installs are enough to build and run Perennix and
# hold none of the test tools. Checked against what this machine's build really uses: every
# library the perennix binary loads (ldd) and every system header its sources include (the
# compiler's dependency lists) belongs to a package of the run set or to one they depend on;
# so does every program scripts/with-x starts, for the run and desktop sets. And a build
# configured as scripts/run configures it looks for no test package.
#
# Usage: deps_run_test.sh PERENNIX_BINARY BUILD_DIR REPO_ROOT
set -euo pipefail

binary=$(realpath "$1")
build=$(realpath "$2")
root=$(realpath "$3")

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# closure PACKAGE...: the installed packages these are or depend on (Depends and Pre-Depends,
# over virtual packages too), one a line. Of alternatives the first one installed counts.
closure() {
  dpkg-query -W -f='${db:Status-Abbrev}\t${Package}\t${Provides}\t${Pre-Depends}, ${Depends}\n' \
    | awk -F'\t' -v seeds="$*" '
      function bare(name) {
        sub(/\(.*/, "", name); gsub(/[ \t]/, "", name); sub(/:.*/, "", name)
        return name
      }
      $1 ~ /^ii/ {
        installed[$2] = 1
        deps[$2] = deps[$2] "," $4
        n = split($3, provided, ",")
        for (i = 1; i <= n; i++) providers[bare(provided[i])] = providers[bare(provided[i])] " " $2
      }
      function add(name) {
        if (name in seen) return
        seen[name] = 1
        queue[++last] = name
      }
      # resolve(NAME): adds the installed package NAME or the installed packages providing it;
      # 1 when there was one.
      function resolve(name,    n, i, list) {
        if (name in installed) { add(name); return 1 }
        if (!(name in providers)) return 0
        n = split(providers[name], list, " ")
        for (i = 1; i <= n; i++) add(list[i])
        return n > 0
      }
      END {
        n = split(seeds, list, " ")
        for (i = 1; i <= n; i++) if (!resolve(list[i])) missing = missing " " list[i]
        for (first = 1; first <= last; first++) {
          groups = split(deps[queue[first]], group, ",")
          for (g = 1; g <= groups; g++) {
            alternatives = split(group[g], alternative, "|")
            for (a = 1; a <= alternatives; a++) {
              name = bare(alternative[a])
              if (name != "" && resolve(name)) break
            }
          }
        }
        for (name in seen) print name
        if (missing != "") { print "not installed:" missing > "/dev/stderr"; exit 1 }
      }'
}
# owners FILE...: the packages that hold these files, one a line ("FILE: no package" for a
# file no package holds). A file may be named by a link, or by the other path of a merged /usr.
owners() {
  local file line i found
  local -a resolved
  local -A owner=() asked=()
  mapfile -t resolved < <(realpath -m -- "$@")
  for file in "$@" "${resolved[@]}"; do
    asked[$file]=1
    if [[ "$file" == /usr/* ]]; then asked[${file#/usr}]=1; else asked[/usr$file]=1; fi
  done
  while IFS= read -r line; do
    [[ "$line" != "diversion "* ]] || continue
    owner[${line#*: }]=${line%%[:,]*}
  done < <(dpkg-query -S "${!asked[@]}" 2>/dev/null)
  for ((i = 1; i <= $#; i++)); do
    found=""
    for file in "${!i}" "${resolved[i - 1]}"; do
      found=${owner[$file]:-${owner[/usr$file]:-${owner[${file#/usr}]:-}}}
      [[ -z "$found" ]] || break
    done
    echo "${found:-${resolved[i - 1]}: no package}"
  done | sort -u
}

# uncovered NEEDED COVERED: the lines of file NEEDED that file COVERED lacks.
uncovered() {
  sort -u "$2" | comm -23 <(sort -u "$1") -
}

echo "== the run set"
"$root/scripts/deps" --list run >"$dir/run" || fail "scripts/deps --list run failed"
[[ -s "$dir/run" ]] || fail "scripts/deps --list run lists no package"
"$root/scripts/deps" --list test >"$dir/test" || fail "scripts/deps --list test failed"
"$root/scripts/deps" --list desktop >"$dir/desktop" || fail "scripts/deps --list desktop failed"
if test_only=$(grep -E '^(wine.*|openjdk-.*|.*mingw.*|clang.*|libclang.*|llvm.*|googletest|libgtest-dev|libgmock-dev|libbenchmark-dev|xfce4-panel|xdotool|desktop-file-utils)$' "$dir/run"); then
  fail "test tools in the run set: $(echo "$test_only" | tr '\n' ' ')"
fi
[[ -z "$(uncovered "$dir/run" "$dir/test")$(uncovered "$dir/desktop" "$dir/test")" ]] \
  || fail "the test set lacks packages of the run or desktop set: $(uncovered <(cat "$dir/run" "$dir/desktop") "$dir/test" | tr '\n' ' ')"
# shellcheck disable=SC2046 # one package name a line
closure $(cat "$dir/run") >"$dir/run-closure" || fail "a package of the run set is not installed here"
if test_only=$(grep -E '^(wine.*|openjdk-.*|.*mingw.*|clang(-[0-9]+)?|llvm(-[0-9]+)?|libgtest-dev|libbenchmark-dev|xfce4-panel)$' "$dir/run-closure"); then
  fail "the run set pulls in test tools: $(echo "$test_only" | tr '\n' ' ')"
fi

echo "== the libraries perennix loads"
ldd "$binary" | awk '$2 == "=>" && $3 ~ /^\// { print $3 } $1 ~ /^\// { print $1 }' >"$dir/libraries"
grep -q 'libQt6Widgets' "$dir/libraries" || fail "ldd $binary names no Qt library: $(tr '\n' ' ' <"$dir/libraries")"
# shellcheck disable=SC2046 # one path a line, none with a blank
owners $(cat "$dir/libraries") >"$dir/library-packages"
[[ -z "$(uncovered "$dir/library-packages" "$dir/run-closure")" ]] \
  || fail "libraries of perennix from packages the run set does not install: $(uncovered "$dir/library-packages" "$dir/run-closure" | tr '\n' ' ')"

echo "== the system headers its sources include"
if [[ -f "$build/build.ninja" ]]; then
  ninja -C "$build" -t deps | awk '/^ +\// { print $1 }' >"$dir/depends"
else
  find "$build/src" -name '*.o.d' -exec cat {} + | tr ' \\' '\n\n' >"$dir/depends"
fi
grep -E '^/usr/' "$dir/depends" | sort -u >"$dir/headers" || true
grep -q '/QtWidgets/' "$dir/headers" || fail "no Qt header in the compiler's dependency lists under $build"
grep -q '/X11/extensions/XTest.h$' "$dir/headers" || fail "no XTest header in the compiler's dependency lists under $build"
# shellcheck disable=SC2046 # one path a line, none with a blank
owners $(cat "$dir/headers") >"$dir/header-packages"
[[ -z "$(uncovered "$dir/header-packages" "$dir/run-closure")" ]] \
  || fail "headers of the build from packages the run set does not install: $(uncovered "$dir/header-packages" "$dir/run-closure" | tr '\n' ' ')"

echo "== the programs of the virtual desktop"
# shellcheck disable=SC2046 # one package name a line
closure $(cat "$dir/run" "$dir/desktop") >"$dir/desktop-closure" || fail "a package of the desktop set is not installed here"
programs=()
for program in Xvfb openbox trayer cc; do
  programs+=("$(command -v "$program")") || fail "$program, which scripts/with-x starts, is not installed"
done
owners "${programs[@]}" >"$dir/desktop-packages"
[[ -z "$(uncovered "$dir/desktop-packages" "$dir/desktop-closure")" ]] \
  || fail "scripts/with-x starts programs of packages the run and desktop sets do not install: $(uncovered "$dir/desktop-packages" "$dir/desktop-closure" | tr '\n' ' ')"

echo "== a build configured as scripts/run configures it"
# scripts/run's own cmake line, in a folder of this test's, with the test packages as if they
# were not installed: a find_package of one fails the configure.
configure=$(grep -E '^cmake -S \. -B ' "$root/scripts/run") || fail "no cmake configure line in scripts/run"
read -ra words <<<"$configure"
options=()
for word in "${words[@]:5}"; do
  [[ "$word" != -* ]] || options+=("$word")
done
not_installed=(-DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON -DCMAKE_DISABLE_FIND_PACKAGE_Java=ON)
cmake -S "$root" -B "$dir/build" "${options[@]}" "${not_installed[@]}" >"$dir/configure.log" 2>&1 \
  || { cat "$dir/configure.log" >&2; fail "scripts/run's configure fails without the test packages"; }
if grep -iE '^(GTest|GMock|benchmark|Java)[A-Za-z_]*:' "$dir/build/CMakeCache.txt" >"$dir/found"; then
  fail "scripts/run's configure looked for test packages: $(tr '\n' ' ' <"$dir/found")"
fi
echo "PASS"
