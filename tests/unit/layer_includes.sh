#!/bin/sh
# The layers above the core include only downwards: serial/ is ports alone
# (nothing of the engine or the front ends), session/ is shared by the front
# ends (none of them, no simulated keypad: that is a front end's --simulate, and of Qt only
# Core, SerialPort and Network: no widgets); production/ (the
# bench) stands beside the window on session/, with only the window's bar, icon, --help/--version answer and quit signals.
# Above serial/ a port's kind is asked of serial/, never read from its name.
# $1: the source tree, $2: Qt's header folder (the one holding QtCore/).
cd "$1" || exit 2
status=0
report() {
  if [ -n "$2" ]; then
    echo "$1"
    echo "$2"
    status=1
  fi
}
report "serial/ includes a layer above it:" \
  "$(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"(engine|session|cli|ui)/' serial)"
report "session/ includes a front end or the simulated keypad:" \
  "$(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"(cli|ui|production|sim)/' session)"
report "production/ includes the command line or the main window:" \
  "$(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"(cli|ui)/' production |
     grep -vE '"ui/(percent_progress_ctrl|app_icon|help_version|quit_signals)\.h"')"
report "a front end includes the bench:" \
  "$(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"production/' cli ui)"
report "a layer above serial/ tells a port's kind from its name:" \
  "$(grep -rnE 'IsNetworkPortName|ParseNetworkPortName' session cli ui production)"
for header in $(grep -rhoE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q[A-Za-z]*>' session | sed 's/.*<\(.*\)>/\1/' | sort -u); do
  [ -e "$2/QtCore/$header" ] || [ -e "$2/QtSerialPort/$header" ] || [ -e "$2/QtNetwork/$header" ] ||
    report "session/ includes a Qt header from outside Core, SerialPort and Network:" "$header"
done
exit $status
