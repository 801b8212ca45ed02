# Shared by the demo and the benchmark: a complete installation in one folder, with its own
# settings, registry stand-in, ODBC folders, web server on 127.0.0.1 and stand-in alarm program.
# Source it, then call the functions in order.

# installation_prepare DIR: folders, environment, alarm stand-in, web server. Sets $server.
installation_prepare() {
  inst=$1
  rm -rf "$inst"
  mkdir -p "$inst"/{config,xdg,odbc,db,www/ConfData,bin,base/log,download,archive}
  export XDG_CONFIG_HOME=$inst/config XDG_CONFIG_DIRS=$inst/xdg
  export ODBCSYSINI=$inst/odbc ODBCINI=$inst/odbc/odbc.ini
  export PATH=$inst/bin:$PATH no_proxy=127.0.0.1

  cat >"$inst/bin/qze" <<ALARM
#!/bin/sh
# Stand-in for the installation's alarm program: records each alarm.
echo "\$(date '+%d.%m.%Y %H:%M:%S') qze \$*" >> "$inst/base/log/alarms.txt"
ALARM
  chmod +x "$inst/bin/qze"
  printf '[SOFTWARE\\Corvane\\Corvane Tool]\nDirectory=%s/base/\n' "$inst" >"$inst/xdg/hklm.ini"

  local python=python3
  [[ -x /usr/bin/python3 ]] && python=/usr/bin/python3
  local port
  port=$($python -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  server=127.0.0.1:$port
  $python -m http.server --bind 127.0.0.1 --directory "$inst/www" "$port" >"$inst/www.log" 2>&1 &
  installation_web=$!
  trap 'kill $installation_web 2>/dev/null || true' EXIT
  until $python -c "import urllib.request; urllib.request.urlopen('http://$server/')" 2>/dev/null; do
    sleep 0.1
  done
}

# installation_row ID DAY HH:MM FILE: one tab-separated recordings row served by $server.
installation_row() {
  printf '%s 00:00:00\t%s\t1\t0\t0\t0\t0\t0\t0\t0\t0\t%s %s:00\t+4930123%s\t+4940987%s\tyes\tin\t1\tok\t95\t1\tisdn\t%s\tC\trec\t%s\t0\t\n' \
    "$2" "$1" "$2" "$3" "$1" "$1" "$server" "$4"
}

# installation_database TOP ROWS_FILE: the SQLite data source qz_data with these rows.
installation_database() {
  "$1/scripts/odbc/make-sqlite-dsn" --db "$inst/db/recordings.db" --dsn qz_data \
    --ext "$1/build/backup/libqz_curdate.so" --rows "$2"
}
