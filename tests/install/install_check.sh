#!/usr/bin/env bash
# Checks the installed tool set, as an engineer gets it from cmake --install
# or the Debian package rather than from the build tree.
#
#   install_check.sh setup | layout | help | cli | host | symbols | deb | cleanup
#
# setup installs the build into $INSTALL_PREFIX (a directory of the build
# tree) and cleanup removes it; layout, help, cli, host and symbols check that
# tree.
# deb builds the Debian package with CPack, checks it with dpkg-deb and, where
# the machine allows an overlay mount, installs it with dpkg into a
# copy-on-write view of the root (step deb-in-root, run inside it); where it
# cannot, the step exits 77 and ctest shows it skipped. Scratch files
# go into a private temporary directory, removed at exit; HOME and the XDG
# directories point into it, so nothing outside it and the build tree is
# written. Servers are started here and stopped by their pid.
#
# Environment (set by tests/install/CMakeLists.txt): CHRONEL_BUILD_DIR,
# CHRONEL_SOURCE_DIR, INSTALL_PREFIX, CMAKE_COMMAND, CPACK_COMMAND,
# CMAKE_GENERATOR, CXX_COMPILER, SANITIZE_FLAGS.
set -euo pipefail

step=${1:?step}
prefix=${INSTALL_PREFIX:?}
self=$(realpath "$0")

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/chronel-install.XXXXXX")
sim_pid=""
cleanup_scratch() {
  if [[ -n $sim_pid ]]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$scratch"
}
trap cleanup_scratch EXIT

export HOME=$scratch/home
export XDG_CONFIG_HOME=$scratch/config
export XDG_CACHE_HOME=$scratch/cache
export XDG_DATA_HOME=$scratch/data
export XDG_RUNTIME_DIR=$scratch/runtime
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
# The installed system-wide PLCDRV.INI is the only adapter configuration.
export XDG_CONFIG_DIRS=$prefix/etc/xdg
unset PLCDRV_INI LD_LIBRARY_PATH MBXSIM_CONFIG
export QT_QPA_PLATFORM=offscreen

libdir() {
  local d
  for d in "$prefix"/lib "$prefix"/lib64 "$prefix"/lib/*-linux-gnu; do
    if [[ -e $d/libPLCTAG.so ]]; then
      echo "$d"
      return
    fi
  done
  fail "no libPLCTAG.so under $prefix"
}

# Starts the simulator (the installed one, or the one named) on a free
# loopback port; sets sim_port.
start_simulator() {
  local out=$scratch/chronel-sim.out
  # The file exists before the simulator's shell opens it: under errexit and
  # pipefail a first look that found no file would end this script silently.
  : >"$out"
  "${1:-$prefix/bin/chronel-sim}" --listen 127.0.0.1 --tcp-port 0 >"$out" 2>&1 &
  sim_pid=$!
  sim_port=""
  local i
  for i in $(seq 1 100); do
    sim_port=$(sed -n '/^tcp-port [0-9][0-9]*$/{s/^tcp-port //p;q}' "$out")
    [[ -n $sim_port ]] && return
    kill -0 "$sim_pid" 2>/dev/null || { cat "$out" >&2; fail "chronel-sim did not start"; }
    sleep 0.05
  done
  fail "chronel-sim announced no port"
}

# An independent Modbus TCP client: pymodbus against the simulator.
modbus() {
  /usr/bin/python3 "$(dirname "$self")/modbus_client.py" "$sim_port" "$@"
}

case $step in
setup)
  rm -rf "$prefix"
  "$CMAKE_COMMAND" --install "$CHRONEL_BUILD_DIR" --prefix "$prefix" >"$scratch/install.log" ||
    { cat "$scratch/install.log" >&2; fail "cmake --install"; }
  ;;

cleanup)
  rm -rf "$prefix"
  ;;

layout)
  lib=$(libdir)
  for f in bin/chronel bin/drvsetup bin/chronel-cli bin/chronel-sim bin/chronel-web; do
    [[ -x $prefix/$f ]] || fail "$f not installed"
  done
  for h in regaccess/plctag.h regaccess/control_factory.h driver/plcdrv.h mpbridge/mpbridge.h mpbridge/mbxapi.h \
           platform/window_messages.h; do
    [[ -f $prefix/include/chronel/$h ]] || fail "header $h not installed"
  done
  for f in share/applications/chronel.desktop share/applications/drvsetup.desktop \
           share/icons/hicolor/scalable/apps/chronel.svg share/icons/hicolor/scalable/apps/drvsetup.svg \
           share/bash-completion/completions/chronel-cli share/bash-completion/completions/chronel \
           etc/xdg/PLCDRV.INI etc/chronel/web.conf share/chronel/web/index.html share/chronel/web/app.js \
           lib/sysusers.d/chronel.conf; do
    [[ -f $prefix/$f ]] || fail "$f not installed"
  done
  for page in chronel drvsetup chronel-cli chronel-sim chronel-web; do
    gzip -t "$prefix/share/man/man1/$page.1.gz" || fail "man page $page.1.gz"
  done
  for f in ChronelConfig.cmake ChronelConfigVersion.cmake ChronelTargets.cmake; do
    [[ -f $lib/cmake/Chronel/$f ]] || fail "CMake package file $f not installed"
  done

  # The stand-in MBX driver is installed only on request, and then only into
  # its private directory, never where mpbridge would find it by default.
  while read -r f; do
    [[ $f == "$lib/chronel/mbxsim/libmbxapi.so" ]] || fail "stand-in MBX driver installed as $f"
  done < <(find "$prefix" -name 'libmbxapi.so*')

  # Every library with its soname; every program and library finds the
  # installed libraries, none from the build tree.
  for l in PLCTAG PLCDRV mpbridge chronel_platform; do
    soname=$(readelf -d "$lib/lib$l.so" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
    [[ $soname == lib$l.so.0 ]] || fail "lib$l.so has soname '$soname'"
    [[ -e $lib/$soname ]] || fail "$soname not installed"
  done
  for f in "$prefix"/bin/chronel "$prefix"/bin/drvsetup "$prefix"/bin/chronel-cli "$prefix"/bin/chronel-web "$lib"/libPLCTAG.so "$lib"/libPLCDRV.so; do
    deps=$(ldd "$f") || fail "ldd $f"
    if grep -q 'not found' <<<"$deps"; then echo "$deps" >&2; fail "$f has unresolved libraries"; fi
    while read -r name path; do
      [[ $(realpath "$path") == "$(realpath "$lib")"/* ]] || fail "$f takes $name from $path"
    done < <(sed -n 's/^[[:space:]]*\(lib\(PLCTAG\|PLCDRV\|mpbridge\|chronel_platform\)\.so[^ ]*\) => \([^ ]*\).*/\1 \3/p' <<<"$deps")
    if grep -q "$CHRONEL_BUILD_DIR" <<<"$(readelf -d "$f")"; then fail "$f keeps a run path into the build tree"; fi
  done
  grep -q 'PLCTAG' <<<"$(ldd "$prefix/bin/chronel")" || fail "chronel does not link libPLCTAG"

  # The default adapter: adapter 1 TCP/IP, not run by the driver.
  ini=$prefix/etc/xdg/PLCDRV.INI
  sed -n '/^\[Adapter.Object.1\]/,/^\[/p' "$ini" | grep -qx 'Type=2' || fail "PLCDRV.INI: adapter 1 is not Type=2"
  sed -n '/^\[Adapter.Object.1\]/,/^\[/p' "$ini" | grep -qx 'Enabled=0' || fail "PLCDRV.INI: adapter 1 is not Enabled=0"

  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$prefix"/share/applications/*.desktop || fail "desktop entries"
  fi
  for d in "$prefix"/share/applications/*.desktop; do
    exe=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$d")
    icon=$(sed -n 's/^Icon=//p' "$d")
    [[ -x $prefix/bin/$exe ]] || fail "$d starts $exe, which is not installed"
    [[ -f $prefix/share/icons/hicolor/scalable/apps/$icon.svg ]] || fail "$d shows icon $icon, which is not installed"
  done
  ;;

help)
  # program | text its --help must show
  while IFS='|' read -r program expected; do
    out=$(timeout 30 "$prefix/bin/$program" --help 2>&1) || { echo "$out" >&2; fail "$program --help exits with $?"; }
    grep -qF -- "$expected" <<<"$out" || { echo "$out" >&2; fail "$program --help does not show '$expected'"; }
  done <<'TABLE'
chronel|--screenshots <DIR>
drvsetup|PLCDRV.INI
chronel-cli|Usage: chronel-cli
chronel-sim|Usage: chronel-sim
chronel-web|chronel-web user
TABLE
  # drvsetup names the files it would read and write.
  out=$("$prefix/bin/drvsetup" --help 2>&1)
  grep -qF "Reads $prefix/etc/xdg/PLCDRV.INI" <<<"$out" || { echo "$out" >&2; fail "drvsetup does not read the installed default"; }
  grep -qF "writes $XDG_CONFIG_HOME/PLCDRV.INI" <<<"$out" || { echo "$out" >&2; fail "drvsetup does not write the user's file"; }
  ;;

cli)
  start_simulator
  export PLCTAG_TCP_PORT=$sim_port
  id=$((RANDOM % 30000 + 1000)) # the file shows the word signed: stay below 32768
  modbus write 101 "$id"
  # Through the installed PLCDRV.INI (adapter 1 TCP/IP), then forced TCP.
  for mode in default --tcp; do
    args=()
    [[ $mode == --tcp ]] && args=(--tcp)
    file=$scratch/upload${args[0]:-}.csv
    timeout 60 "$prefix/bin/chronel-cli" "${args[@]}" --interval 20 --ip 127.0.0.1 upload "$file" \
      >"$scratch/cli.out" 2>&1 || { cat "$scratch/cli.out" >&2; fail "chronel-cli $mode upload"; }
    [[ $(wc -l <"$file") -eq 51 ]] || fail "$mode upload: $(wc -l <"$file") records, not 51"
    tr -d '\r' <"$file" | grep -Eqx "\"PLC ID\", *$id" || { head -3 "$file" >&2; fail "$mode upload: Module ID $id not in the file"; }
  done
  cmp -s "$scratch/upload.csv" "$scratch/upload--tcp.csv" || fail "the two uploads differ"
  ;;

host)
  # A third-party host, built only from the installed CMake package.
  flags=()
  if [[ -n ${SANITIZE_FLAGS:-} ]]; then
    flags=(-DCMAKE_CXX_FLAGS="$SANITIZE_FLAGS" -DCMAKE_EXE_LINKER_FLAGS="$SANITIZE_FLAGS")
  fi
  "$CMAKE_COMMAND" -S "$CHRONEL_SOURCE_DIR/tests/install/host" -B "$scratch/host" -G "$CMAKE_GENERATOR" \
    -DCMAKE_CXX_COMPILER="$CXX_COMPILER" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release "${flags[@]}" \
    >"$scratch/host-configure.log" 2>&1 || { cat "$scratch/host-configure.log" >&2; fail "host: configure"; }
  "$CMAKE_COMMAND" --build "$scratch/host" >"$scratch/host-build.log" 2>&1 ||
    { cat "$scratch/host-build.log" >&2; fail "host: build"; }
  # Its include paths come from the installed package only.
  includes=$(grep -rh 'INCLUDES' "$scratch/host" --include=build.ninja --include=flags.make || true)
  [[ -n $includes ]] || fail "host: no include paths found in its build files"
  for path in $(grep -o -- '-I *[^ ]*\|-isystem *[^ ]*' <<<"$includes" | sed 's/^-I *//; s/^-isystem *//'); do
    case $path in
      "$prefix"/*) ;;
      "$CHRONEL_SOURCE_DIR" | "$CHRONEL_SOURCE_DIR"/*) fail "host: compiled against the source tree ($path)" ;;
    esac
  done
  grep -qF "$prefix/include/chronel" <<<"$includes" || { echo "$includes" >&2; fail "host: not compiled against the installed headers"; }

  start_simulator
  export PLCTAG_TCP_PORT=$sim_port
  id=$((RANDOM % 30000 + 1000)) # the file shows the word signed: stay below 32768
  modbus write 101 "$id"
  got=$(timeout 30 "$scratch/host/chronel-host-read" 127.0.0.1 101 1) || fail "host read: $got"
  [[ $got == "$id" ]] || fail "host read Module ID '$got', simulator holds $id"
  # The whole configuration block, against what pymodbus reads.
  got=$(timeout 30 "$scratch/host/chronel-host-read" 127.0.0.1 1 100) || fail "host read: $got"
  want=$(modbus read 1 100)
  [[ $got == "$want" ]] || fail "host read registers 1-100:"$'\n'"$got"$'\n'"pymodbus:"$'\n'"$want"
  ;;

symbols)
  # libPLCTAG.so exports exactly what the installed regaccess headers declare
  # (the property page's header belongs to its own library), parsed with the
  # flags a host's build gives them.
  "$CMAKE_COMMAND" -S "$CHRONEL_SOURCE_DIR/tests/install/host" -B "$scratch/symbols" -G "$CMAKE_GENERATOR" \
    -DCMAKE_CXX_COMPILER="$CXX_COMPILER" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
    >"$scratch/symbols-configure.log" 2>&1 || { cat "$scratch/symbols-configure.log" >&2; fail "symbols: configure"; }
  /usr/bin/python3 "$(dirname "$self")/exported_symbols.py" --library "$(libdir)/libPLCTAG.so" \
    --include-dir "$prefix/include/chronel" --headers-of regaccess --skip regaccess/property_page.h \
    --compile-commands "$scratch/symbols/compile_commands.json" || fail "libPLCTAG.so's exports and its installed headers differ"
  ;;

deb)
  if ! command -v dpkg-deb >/dev/null || ! command -v dpkg-shlibdeps >/dev/null; then
    echo "dpkg-deb or dpkg-shlibdeps missing; no package check"
    exit 77
  fi
  (cd "$CHRONEL_BUILD_DIR" && "$CPACK_COMMAND" -G DEB -B "$scratch/package") >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log" >&2; fail "cpack"; }
  deb=$(ls "$scratch"/package/chronel_*.deb)
  contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
  # path pattern | what it is
  while IFS='|' read -r pattern what; do
    grep -Eqx -- "$pattern" <<<"$contents" || { echo "$contents" >&2; fail "package lacks $what ($pattern)"; }
  done <<'TABLE'
\./usr/bin/chronel|the configurator
\./usr/bin/drvsetup|DRVSETUP
\./usr/bin/chronel-cli|the command-line configurator
\./usr/bin/chronel-sim|the simulator
\./usr/lib/([a-z0-9_]+-linux-gnu/)?libPLCTAG\.so\.0\.[0-9.]+|the control's library
\./usr/lib/([a-z0-9_]+-linux-gnu/)?libPLCDRV\.so\.0\.[0-9.]+|the driver library
\./usr/lib/([a-z0-9_]+-linux-gnu/)?libmpbridge\.so\.0\.[0-9.]+|the bridge library
\./usr/lib/([a-z0-9_]+-linux-gnu/)?libchronel_platform\.so\.0\.[0-9.]+|the platform library
\./usr/lib/([a-z0-9_]+-linux-gnu/)?cmake/Chronel/ChronelConfig\.cmake|the CMake package
\./usr/include/chronel/regaccess/plctag\.h|the control's header
\./usr/include/chronel/driver/plcdrv\.h|the driver's header
\./usr/include/chronel/mpbridge/mpbridge\.h|the bridge's header
\./etc/xdg/PLCDRV\.INI|the default adapter configuration
\./usr/share/applications/chronel\.desktop|the configurator's desktop entry
\./usr/share/applications/drvsetup\.desktop|DRVSETUP's desktop entry
\./usr/share/icons/hicolor/scalable/apps/chronel\.svg|the configurator's icon
\./usr/share/man/man1/chronel-cli\.1\.gz|chronel-cli's man page
\./usr/share/man/man1/chronel-sim\.1\.gz|chronel-sim's man page
\./usr/share/bash-completion/completions/chronel-cli|chronel-cli's bash completion
\./usr/lib/systemd/system/chronel-collector\.service|the collector service
\./usr/lib/systemd/system/chronel-web\.service|the web view's service
\./usr/lib/sysusers\.d/chronel\.conf|the services' users
\./usr/bin/chronel-web|the web view
\./usr/share/chronel/web/index\.html|the web view's page
\./usr/share/man/man1/chronel-web\.1\.gz|chronel-web's man page
\./etc/chronel/web\.conf|the web view's settings
\./usr/share/doc/chronel/site\.txt\.example|the collector's site file example
TABLE
  if grep -q 'libmbxapi' <<<"$contents"; then fail "package carries the stand-in MBX driver"; fi
  if grep -q '^\./usr/etc/' <<<"$contents"; then fail "package installs below /usr/etc"; fi

  info=$(dpkg-deb -I "$deb")
  depends=$(dpkg-deb -f "$deb" Depends)
  names=$(sed 's/ *([^)]*)//g; s/, */\n/g' <<<"$depends")
  for dep in libc6 libstdc++6 libqt6core6 libqt6widgets6 libqt6sql6 libqt6sql6-sqlite libmodbus5 libjs-chart.js libsodium23; do
    grep -qFx -- "$dep" <<<"$names" || fail "Depends lacks $dep: $depends"
  done
  [[ $(dpkg-deb -f "$deb" Package) == chronel ]] || fail "package name"
  grep -q 'conffiles' <<<"$info" || fail "no conffiles in the control archive"
  conffiles=$(dpkg-deb --ctrl-tarfile "$deb" | tar -xOf - ./conffiles)
  [[ $conffiles == $'/etc/xdg/PLCDRV.INI\n/etc/chronel/web.conf' ]] || fail "conffiles: $conffiles"

  # The packaged programs run from the unpacked tree.
  dpkg-deb -x "$deb" "$scratch/root"
  libs=$(dirname "$(ls "$scratch"/root/usr/lib/*libPLCTAG.so.0 "$scratch"/root/usr/lib/*/libPLCTAG.so.0 2>/dev/null | head -n 1)")
  LD_LIBRARY_PATH=$libs "$scratch/root/usr/bin/chronel-cli" --help >/dev/null || fail "packaged chronel-cli does not run"

  # Installed with dpkg into a copy-on-write view of this machine's root: an
  # overlay mounted in a private mount namespace, all writes in the scratch
  # directory. Where mount namespaces or overlays are not allowed, the
  # package is checked only as above and the step counts as skipped.
  ovl=$scratch/overlay
  mkdir -p "$ovl/upper" "$ovl/work" "$ovl/root"
  if ! unshare --mount true 2>/dev/null; then
    echo "no mount namespace here; the package is not installed"
    exit 77
  fi
  status=0
  # The overlay holds the root file system only: /dev, /proc (sanitizer run
  # times read it), the scratch directory and this script are mounted in at
  # their own paths, in case they live on file systems of their own.
  unshare --mount bash -c '
    ovl=$1 root=$1/root
    mount --make-rprivate / &&
      mount -t overlay overlay -o "lowerdir=/,upperdir=$ovl/upper,workdir=$ovl/work" "$root" || exit 77
    for d in /dev /proc; do
      mount --rbind "$d" "$root$d" || exit 77
    done
    for d in "$4" "$(dirname "$2")"; do
      mkdir -p "$root$d" && mount --bind "$d" "$root$d" || exit 77
    done
    exec chroot "$root" bash "$2" deb-in-root "$3"
  ' bash "$ovl" "$self" "$deb" "$scratch" || status=$?
  if ((status == 77)); then
    echo "no overlay mount here; the package is not installed"
    exit 77
  elif ((status != 0)); then
    fail "the package installed with dpkg"
  fi
  ;;

deb-in-root)
  # Inside the overlay root: install, run, remove and purge the package.
  deb=${2:?package}
  export XDG_CONFIG_DIRS=/etc/xdg
  dpkg -i "$deb" >"$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log" >&2; fail "dpkg -i"; }
  # The postinst made the services' users, both in the group chronel.
  for user in chronel-collector chronel-web; do
    [[ $(id -gn "$user" 2>/dev/null) == chronel ]] || fail "postinst: no user $user in the group chronel"
  done
  for program in chronel drvsetup chronel-cli chronel-sim chronel-web; do
    [[ $(command -v "$program") == /usr/bin/$program ]] || fail "$program is not /usr/bin/$program"
    if ldd "/usr/bin/$program" | grep -q 'not found'; then ldd "/usr/bin/$program" >&2; fail "$program: unresolved libraries"; fi
  done
  out=$(drvsetup --help 2>&1) || fail "drvsetup --help"
  grep -qF "Reads /etc/xdg/PLCDRV.INI" <<<"$out" || { echo "$out" >&2; fail "drvsetup does not read /etc/xdg/PLCDRV.INI"; }
  start_simulator /usr/bin/chronel-sim
  export PLCTAG_TCP_PORT=$sim_port
  timeout 60 chronel-cli --interval 20 --ip 127.0.0.1 upload "$scratch/deb.csv" >"$scratch/cli.out" 2>&1 ||
    { cat "$scratch/cli.out" >&2; fail "installed chronel-cli upload through /etc/xdg/PLCDRV.INI"; }
  [[ $(wc -l <"$scratch/deb.csv") -eq 51 ]] || fail "installed chronel-cli upload: not 51 records"
  # Removing keeps the configuration file; purging removes it.
  dpkg -r chronel >>"$scratch/dpkg.log" 2>&1 || fail "dpkg -r"
  [[ ! -e /usr/bin/chronel ]] || fail "dpkg -r left /usr/bin/chronel"
  [[ -f /etc/xdg/PLCDRV.INI ]] || fail "dpkg -r removed the configuration file"
  dpkg --purge chronel >>"$scratch/dpkg.log" 2>&1 || fail "dpkg --purge"
  [[ ! -e /etc/xdg/PLCDRV.INI ]] || fail "dpkg --purge left /etc/xdg/PLCDRV.INI"
  [[ ! -e /etc/chronel/web.conf ]] || fail "dpkg --purge left /etc/chronel/web.conf"
  echo "package installed, run, removed and purged with dpkg in an overlay root"
  ;;

*)
  fail "unknown step $step"
  ;;
esac
