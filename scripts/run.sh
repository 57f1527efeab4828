#!/usr/bin/env bash
# Builds the office suite and serves it at http://localhost:8080/tarvo/.
# The first run creates the demo application folder demo/ and prints the
# administrator's password and the demo accounts; later runs keep its data and
# refresh only its static files. DESK_HOST and DESK_PORT change the address.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/deps.sh
bash scripts/build.sh deskhost

if [ -f demo/data/office.db ]; then
  build/bin/deskhost update-site demo
else
  build/bin/deskhost init demo --demo
  echo "(keep the password above: it is shown only now)"
fi

host=${DESK_HOST:-127.0.0.1}
port=${DESK_PORT:-8080}
echo "office edition: http://${host}:${port}/tarvo/  (Ctrl-C stops the server)"
exec build/bin/deskhost serve --host "$host" --port "$port" --vdir tarvo=demo
