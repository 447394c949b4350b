#!/usr/bin/env bash
# The installed tree as a consumer and a packager meet it: installs the build into a folder and
# moves it, builds the example agent against it with find_package and with pkg-config in a
# language standard of its own, checks that no installed header reaches Boost, runs the agent
# and the programs from the moved tree, then builds the Debian packages, checks them with
# lintian (any error fails), unpacks them into a scratch folder and runs the programs from there.
# usage: check-install.sh SOURCE_DIR BUILD_DIR LIBDIR [EXTRA_COMPILER_FLAG...]
set -euo pipefail
source_dir=$1
build_dir=$2
libdir=$3
shift 3
extra_flags="$*"

scratch=$(mktemp -d)
background_pid=
cleanup() {
  if [ -n "$background_pid" ]; then kill "$background_pid" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() {
  echo "check-install: $*" >&2
  exit 1
}
# Everything below must come from the installed tree, not from the environment.
unset HALVEX_ROOT
export HALVEX_HOME=$scratch/home

cmake --install "$build_dir" --prefix "$scratch/installed" >/dev/null
mv "$scratch/installed" "$scratch/moved"
tree=$scratch/moved

echo "== the example agent with find_package"
cmake -S "$source_dir/examples/agent" -B "$scratch/agent-cmake" -G Ninja -DCMAKE_CXX_STANDARD=23 \
  -DCMAKE_PREFIX_PATH="$tree" -DCMAKE_CXX_FLAGS="$extra_flags" >/dev/null
cmake --build "$scratch/agent-cmake" >/dev/null

echo "== the example agent with pkg-config"
export PKG_CONFIG_PATH=$tree/$libdir/pkgconfig
cflags=$(pkg-config --cflags HXPreferences)
case "$cflags" in *-std=*) fail "pkg-config chooses the consumer's language standard: $cflags" ;; esac
# shellcheck disable=SC2046,SC2086
c++ -std=c++20 $extra_flags -o "$scratch/agent-pkgconfig" "$source_dir/examples/agent/main.cpp" \
  $cflags $(pkg-config --libs HXPreferences) -Wl,-rpath,"$tree/$libdir"

echo "== the agent hears a change made by an installed program"
"$scratch/agent-pkgconfig" >"$scratch/agent.out" 2>"$scratch/agent.err" &
background_pid=$!
for _ in $(seq 200); do
  grep -q observing "$scratch/agent.err" && break
  sleep 0.1
done
grep -q observing "$scratch/agent.err" || fail "the agent did not start: $(cat "$scratch/agent.err")"
"$tree/bin/halvex-springboard" enable com.example.installed
for _ in $(seq 200); do
  grep -q "isBackgroundingEnabled = true" "$scratch/agent.out" && break
  sleep 0.1
done
grep -q "^HXApplicationSpringboardChangedBackgrounding com.example.installed" "$scratch/agent.out" ||
  fail "the agent did not report the change: $(cat "$scratch/agent.out")"
grep -q "isBackgroundingEnabled = true" "$scratch/agent.out" || fail "the agent did not read the change"
kill "$background_pid"
wait "$background_pid" || true
background_pid=

echo "== the moved tree finds its own sample device"
"$tree/bin/halvex-springboard" apps | grep -q '"identifier"' ||
  fail "halvex-springboard lists no applications from the moved tree"
"$tree/bin/halvex-defaults" read com.orlentis.halvex backgrounding | grep -q com.example.installed ||
  fail "halvex-defaults does not read what the program stored"

echo "== the moved Settings app loads its plug-in"
"$tree/bin/halvex-settings" --port 0 >"$scratch/settings.out" 2>"$scratch/settings.err" &
background_pid=$!
for _ in $(seq 300); do
  grep -q '^http://' "$scratch/settings.out" && break
  sleep 0.1
done
url=$(grep -m1 '^http://' "$scratch/settings.out") || fail "halvex-settings did not start: $(cat "$scratch/settings.err")"
curl -sf -H "Origin: ${url%/}" -H "Content-Type: application/json" \
  -d '{"action":"select","version":1,"section":0,"row":0}' "${url}api/action" |
  grep -q '"title":"Halvex"' || fail "the installed Settings app cannot open the Halvex pages"
kill "$background_pid"
wait "$background_pid" || true
background_pid=

echo "== Debian packages, checked by lintian"
"$source_dir/packaging/build-debs" "$build_dir" "$scratch/packages" >/dev/null
lintian --allow-root "$scratch/packages"/*.deb >"$scratch/lintian.txt" 2>&1 || true
cat "$scratch/lintian.txt"
if grep -q '^E: ' "$scratch/lintian.txt"; then fail "lintian reports errors"; fi
dev_depends=$(dpkg-deb -f "$(ls "$scratch/packages"/libhxpreferences-dev_*.deb)" Depends)
case "$dev_depends" in *boost*) fail "libhxpreferences-dev depends on Boost: $dev_depends" ;; esac
for package in libhxpreferences0 libhxpreferences-dev halvex; do
  deb=$(ls "$scratch/packages"/"${package}"_*.deb 2>/dev/null | head -n 1)
  [ -n "$deb" ] || fail "no package $package"
  dpkg-deb -x "$deb" "$scratch/root"
done
depends=$(dpkg-deb -f "$(ls "$scratch/packages"/halvex_*.deb)" Depends)
echo "$depends" | grep -q "libhxpreferences0 (= " || fail "halvex does not depend on the library: $depends"
echo "$depends" | grep -q "libc6" || fail "halvex lacks the dependencies of what it links: $depends"
version=$(dpkg-deb -f "$(ls "$scratch/packages"/halvex_*.deb)" Version)
for program in halvex-settings halvex-springboard halvex-defaults; do
  "$scratch/root/usr/bin/$program" --version | grep -qx "$program $version" || fail "$program --version"
  zcat "$scratch/root/usr/share/man/man1/$program.1.gz" | grep -q "\"Halvex $version\"" ||
    fail "no manual page of version $version for $program"
done
"$scratch/root/usr/bin/halvex-springboard" apps | grep -q '"identifier"' ||
  fail "the unpacked halvex-springboard lists no applications"
[ -f "$scratch/root/usr/$libdir/cmake/HXPreferences/HXPreferencesConfig.cmake" ] ||
  fail "no CMake package in libhxpreferences-dev"

dev=$scratch/root/usr
echo "== the headers of libhxpreferences-dev need the standard library alone"
find "$dev/include" -name '*.h' -printf '#include "%P"\n' >"$scratch/every-header.cpp"
c++ -std=c++20 -fsyntax-only -H -I"$dev/include" "$scratch/every-header.cpp" 2>"$scratch/headers.txt" ||
  fail "the installed headers do not compile alone: $(head -5 "$scratch/headers.txt")"
if grep -E '^\.+ .*(boost|nlohmann|plist/)' "$scratch/headers.txt" | head -3 | grep .; then
  fail "an installed header includes more than the standard library and its own"
fi
if grep -rlE 'Boost|boost' "$dev/$libdir/cmake" "$dev/$libdir/pkgconfig"; then
  fail "the CMake package or the pkg-config files name Boost"
fi
echo "check-install: the installed and the packaged trees work"
