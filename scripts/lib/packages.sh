# The Debian packages the project needs, and their quiet installation. Source it.
#
# tool_packages: building the tool and running it (the demo included).
# test_packages: only the test suites, the package check and the benchmark need these. The one
#                place to add a package a test needs.
# server_services: services that packages of the test list enable and start on installation;
#                  the tests start throwaway servers of their own (and need only prometheus's
#                  promtool), so these stay off.

tool_packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgl-dev fonts-dejavu-core
  unixodbc unixodbc-dev odbcinst libsqliteodbc libsqlite3-dev sqlite3
  libssl-dev libsystemd-dev
  wget ca-certificates python3 tzdata
)

test_packages=(
  libgtest-dev googletest clang-format
  odbc-mariadb mariadb-server mariadb-client
  odbc-postgresql postgresql
  faketime libfaketime bc procps strace python3-prometheus-client
  desktop-file-utils systemd groff-base man-db logrotate
  debhelper dpkg-dev fakeroot lintian
  openssl debootstrap systemd-container
  prometheus
)

declare -A server_services=([mariadb-server]=mariadb [postgresql]=postgresql [prometheus]=prometheus)

packages_sudo=""
[[ $(id -u) -eq 0 ]] || packages_sudo=sudo

packages_say() { echo "install-deps: $*"; }

# packages_missing PACKAGE...: prints those dpkg does not know as installed, one a line.
packages_missing() {
  local p status
  for p in "$@"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || echo "$p"
  done
}

# packages_fail LOG STEP STATUS: the errors of a failed step and where its whole output is.
packages_fail() {
  local log=$1 step=$2 status=$3 errors
  packages_say "$step failed (exit status $status):" >&2
  errors=$(grep -E '^(E: |W: |dpkg: |Err:)|rror' "$log" | head -n 20 || true)
  [[ -n "$errors" ]] || errors=$(tail -n 20 "$log")
  sed 's/^/    /' <<<"$errors" >&2
  packages_say "whole output in $log" >&2
  return 1
}

# packages_step LOG TEXT COMMAND...: one line for the step; its output goes to LOG.
packages_step() {
  local log=$1 text=$2 status=0
  shift 2
  packages_say "$text"
  "$@" >>"$log" 2>&1 </dev/null || status=$?
  ((status == 0)) || packages_fail "$log" "$text" "$status"
}

# The policy that keeps invoke-rc.d and deb-systemd-invoke from starting services during an
# installation. One the machine already has is put back afterwards.
packages_policy=/usr/sbin/policy-rc.d
packages_deny_starts() {
  if [[ -e $packages_policy ]]; then
    $packages_sudo mv "$packages_policy" "$packages_policy.qzbackup-saved"
  fi
  printf '#!/bin/sh\n# Written by qzbackup install-deps while it installs packages.\nexit 101\n' |
    $packages_sudo tee "$packages_policy" >/dev/null
  $packages_sudo chmod 755 "$packages_policy"
}
packages_allow_starts() {
  $packages_sudo rm -f "$packages_policy"
  if [[ -e $packages_policy.qzbackup-saved ]]; then
    $packages_sudo mv "$packages_policy.qzbackup-saved" "$packages_policy"
  fi
}

# packages_switch_off SERVICE: disabled for systemd and for SysV init, and stopped if running,
# whether or not systemd runs the machine (systemctl disable works on the unit links offline).
packages_initd=/etc/init.d
packages_systemd_running() { [[ -d /run/systemd/system ]]; }
packages_switch_off() {
  local service=$1
  if command -v systemctl >/dev/null; then
    if packages_systemd_running; then
      $packages_sudo systemctl disable --now --quiet "$service.service" || return 1
    else
      $packages_sudo systemctl disable --quiet "$service.service" || return 1
    fi
  fi
  if [[ -x $packages_initd/$service ]]; then
    $packages_sudo update-rc.d -f "$service" disable || return 1
    if ! packages_systemd_running && $packages_sudo "$packages_initd/$service" status; then
      $packages_sudo "$packages_initd/$service" stop || return 1
    fi
  fi
}

# packages_install LOG PACKAGE...: installs those missing, quietly. Services the new packages
# enable are switched off again and never started.
packages_install() {
  local log=$1 missing p
  shift
  mapfile -t missing < <(packages_missing "$@")
  if ((${#missing[@]} == 0)); then
    packages_say "all ${#} packages present"
    return 0
  fi
  export DEBIAN_FRONTEND=noninteractive
  packages_say "${#missing[@]} of ${#} packages to install (output in $log)"
  packages_step "$log" "updating the package lists" $packages_sudo apt-get update -q || return 1
  packages_deny_starts
  trap 'packages_allow_starts; exit 130' INT TERM
  local status=0
  packages_step "$log" "installing ${missing[*]}" \
    $packages_sudo apt-get install -y -q --no-install-recommends -o Dpkg::Use-Pty=0 \
    "${missing[@]}" || status=1
  packages_allow_starts
  trap - INT TERM
  ((status == 0)) || return 1
  for p in "${missing[@]}"; do
    [[ -n "${server_services[$p]:-}" ]] || continue
    packages_step "$log" "switching off the service ${server_services[$p]} (the tests start their own)" \
      packages_switch_off "${server_services[$p]}" || return 1
  done
}
