#!/usr/bin/env bash
# The hardening and shipping steps of CI, each runnable alone:
#   .ci/steps.sh install | format | asan | fuzz | mingw | package
# `fuzz` runs each fuzz target for FUZZ_SECONDS (default 60). `mingw` builds the Windows programs,
# runs the System Info tests under wine, and, like `package`, compares with the Release build in
# build/ that ./dev.sh test makes, so run that first.
set -euo pipefail
cd "$(dirname "$0")/.."

ci_packages=(python3 clang-format clang libclang-rt-14-dev g++-mingw-w64-x86-64 libz-mingw-w64-dev wine64
             desktop-file-utils appstream dpkg-dev)
# What the report tool is compared on: the whole report, users (one with a non-ASCII name, one
# in no log) and a missing log, on the logs in $logs.
logs=examples
report_cases=("--users" "--user Marla --user tobyk" "--user Ödön" "--user nobody-at-all"
              "--format csv" "--format json --users --user Wren")

step_install() {
  ./dev.sh install "${ci_packages[@]}"
}

# Every C++ file as .clang-format lays it out.
step_format() {
  git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
  echo "every C++ file is formatted"
}

# Every test (widget tests included) built and run with AddressSanitizer and UBSan.
step_asan() {
  cmake --preset asan
  cmake --build --preset asan
  ctest --preset asan -j "$(nproc)"
}

step_fuzz() {
  local seconds="${FUZZ_SECONDS:-60}"
  cmake --preset fuzz
  cmake --build --preset fuzz
  for target in reader server report follow; do
    local work
    work="$(mktemp -d)"
    cp "fuzz/corpus/$target"/* "$work/"
    echo "fuzzing $target for ${seconds}s"
    if ! build-fuzz/fuzz/quorvane_fuzz_$target -max_total_time="$seconds" -max_len=4096 \
        -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/" "$work" \
        > "$work.log" 2>&1; then
      tail -n 60 "$work.log"
      echo "fuzz target $target failed; the input is in $work/ (keep it in fuzz/regressions/$target/)"
      return 1
    fi
    grep -E '^#[0-9]+[[:space:]]+DONE' "$work.log" || tail -n 3 "$work.log"
    grep -E 'stat::number_of_executed_units' "$work.log" || true
    rm -rf "$work" "$work.log"
  done
}

# Runs the report tool on each compared case and prints its output (line ends as on Linux) and
# exit status.
report_outputs() {
  local out status
  out="$(mktemp)"
  for args in "${report_cases[@]}"; do
    status=0
    # shellcheck disable=SC2086  # each case is a list of words
    "$@" $args "$logs/Download Log.txt" "$logs/Upload Log.txt" > "$out" 2>&1 || status=$?
    echo "== $args"
    tr -d '\r' < "$out"
    echo "status $status"
  done
  status=0
  "$@" "$logs/no such log.txt" "$logs/Upload Log.txt" > "$out" 2>&1 || status=$?
  echo "== a missing download log"
  tr -d '\r' < "$out"
  echo "status $status"
  rm -f "$out"
}

step_mingw() {
  cmake --preset mingw
  cmake --build --preset mingw
  local exe="build-mingw/tools/quorvane-report.exe"
  [ -f "$exe" ] || { echo "no $exe"; return 1; }
  local tests="build-mingw/tests/quorvane_sysinfo_tests.exe"
  [ -f "$tests" ] || { echo "no $tests"; return 1; }
  local wine=/usr/lib/wine/wine64
  if [ ! -x "$wine" ]; then
    echo "SKIPPED running the Windows build: wine64 is not installed"
    return 0
  fi
  local prefix
  prefix="$(mktemp -d)"
  local -x WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if ! timeout 300 "$wine" "$exe" --help > /dev/null 2>&1; then
    echo "SKIPPED running the Windows build: wine cannot run programs on this machine"
    rm -rf "$prefix"
    return 0
  fi
  # The System Info lookup's tests, the real registry's included.
  if ! timeout 300 "$wine" "$tests" > build-mingw/sysinfo-tests.txt 2>&1; then
    tr -d '\r' < build-mingw/sysinfo-tests.txt
    "$wine"server -k 2> /dev/null || true
    rm -rf "$prefix"
    echo "the System Info tests fail on Windows"
    return 1
  fi
  tr -d '\r' < build-mingw/sysinfo-tests.txt | tail -n 2
  # Wine turns the command line into Windows' wide text by the locale: make it UTF-8.
  local -x LC_ALL=C.UTF-8
  # Once on the samples and once on copies in a folder with a non-ASCII name.
  local copies="build-mingw/Journaux d'été"
  mkdir -p "$copies"
  cp examples/*.txt "$copies/"
  for logs in examples "$copies"; do
    report_outputs build/tools/quorvane-report
  done > build-mingw/report-linux.txt
  for logs in examples "$copies"; do
    report_outputs timeout 120 "$wine" "$exe"
  done > build-mingw/report-windows.txt
  "$wine"server -k 2> /dev/null || true
  rm -rf "$prefix"
  if ! diff -u build-mingw/report-linux.txt build-mingw/report-windows.txt; then
    echo "the Windows quorvane-report answers differently from the Linux one"
    return 1
  fi
  echo "Windows and Linux quorvane-report agree on $(grep -c '^==' build-mingw/report-linux.txt) cases"
}

step_package() {
  (cd build && cpack -G DEB)
  local deb
  deb="$(ls -t build/quorvane_*.deb | head -n 1)"
  echo "package: $deb"
  dpkg-deb --field "$deb" Package Version Architecture Maintainer Depends Recommends
  dpkg-deb --field "$deb" Depends | grep -q libqt6widgets6 || { echo "no Qt dependency"; return 1; }

  local root
  root="$(mktemp -d)"
  dpkg -x "$deb" "$root"
  for f in usr/bin/quorvane usr/bin/quorvane-report usr/share/applications/quorvane.desktop \
           usr/share/metainfo/org.quorvane.quorvane.metainfo.xml \
           usr/share/icons/hicolor/scalable/apps/quorvane.svg \
           usr/share/icons/hicolor/32x32/apps/quorvane.png \
           usr/lib/systemd/system/quorvane-report.service \
           usr/lib/systemd/system/quorvane-report-update.service \
           usr/lib/systemd/system/quorvane-report-update.timer etc/default/quorvane-report; do
    [ -e "$root/$f" ] || { echo "the package lacks /$f"; dpkg -c "$deb"; return 1; }
  done
  dpkg-deb --info "$deb" conffiles | grep -qx /etc/default/quorvane-report ||
    { echo "/etc/default/quorvane-report is not a conffile"; return 1; }
  if command -v systemd-analyze > /dev/null; then
    systemd-analyze verify --man=no "$root"/usr/lib/systemd/system/quorvane-report*
  fi
  desktop-file-validate "$root/usr/share/applications/quorvane.desktop"
  appstreamcli validate --no-net --pedantic "$root"/usr/share/metainfo/*.metainfo.xml
  if ldd "$root/usr/bin/quorvane" | grep "not found"; then
    echo "the installed program needs libraries the package does not depend on"
    return 1
  fi
  report_outputs build/tools/quorvane-report > "$root/expected.txt"
  report_outputs "$root/usr/bin/quorvane-report" > "$root/installed.txt"
  diff -u "$root/expected.txt" "$root/installed.txt"
  "$root/usr/bin/quorvane-report" --format json --users --user Wren "$logs/Download Log.txt" \
    "$logs/Upload Log.txt" | python3 -m json.tool > /dev/null
  echo "its JSON report parses"
  echo "the installed quorvane-report runs from $root and answers as the build does"
  rm -rf "$root"
}

for step in "$@"; do
  start=$SECONDS
  echo "::: $step"
  "step_$step"
  echo "::: $step done in $((SECONDS - start)) s"
done
