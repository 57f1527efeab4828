#!/usr/bin/env bash
# Builds the office suite and serves it at http://localhost:8080/tarvo/.
# The first run creates the demo application folder demo/ and prints the
# administrator's password and the demo accounts; later runs keep its data and
# refresh only its static files. DESK_HOST and DESK_PORT change the address.
#
# DESK_EDITION=law serves the law-firm edition (case files) instead, from its
# own demo folder demo-law/ at http://localhost:8080/tarvolawyer/.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

edition=${DESK_EDITION:-office}
case "$edition" in
  office) appdir=demo vdir=tarvo ;;
  law) appdir=demo-law vdir=tarvolawyer ;;
  *) echo "DESK_EDITION must be office or law, not $edition" >&2; exit 2 ;;
esac

bash scripts/deps.sh
bash scripts/build.sh deskhost

if [ -f "$appdir/data/office.db" ]; then
  build/bin/deskhost update-site "$appdir"
else
  build/bin/deskhost init "$appdir" --edition "$edition" --demo
  echo "(keep the password above: it is shown only now)"
fi

host=${DESK_HOST:-127.0.0.1}
port=${DESK_PORT:-8080}
echo "$edition edition: http://${host}:${port}/${vdir}/  (Ctrl-C stops the server)"
exec build/bin/deskhost serve --host "$host" --port "$port" --vdir "$vdir=$appdir"
