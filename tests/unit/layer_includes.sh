#!/bin/sh
# The layers above the core include only downwards: serial/ is ports alone
# (nothing of the engine or the front ends), session/ is shared by the front
# ends (none of them, no simulated keypad: that is a front end's --simulate, and of Qt only
# Core, SerialPort and Network: no widgets); desktop/ holds what both windows share, on
# session/; the window (ui/) and the bench (production/) stand beside each other on both, and
# the command line on session/ alone. records/ (the records sent on to a database, with Qt
# Core and SQL only) stands on session/ for the command line and the bench. Above serial/ a
# port's kind is asked of serial/, never read from its name.
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
includes() {
  folder=$1
  shift
  grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*\"($*)/" "$folder"
}
report "serial/ includes a layer above it:" "$(includes serial 'engine|session|cli|ui|production|desktop|records')"
report "session/ includes a front end or the simulated keypad:" "$(includes session 'cli|ui|production|desktop|sim|records')"
report "records/ includes a front end or the simulated keypad:" "$(includes records 'cli|ui|production|desktop|sim')"
report "desktop/ includes a front end or the simulated keypad:" "$(includes desktop 'cli|ui|production|sim|records')"
report "production/ includes the command line or the main window:" "$(includes production 'cli|ui')"
report "the main window includes the command line, the bench or the records' sender:" "$(includes ui 'cli|production|records')"
report "the command line includes a window's pieces:" "$(includes cli 'ui|production|desktop')"
report "a layer above serial/ tells a port's kind from its name:" \
  "$(grep -rnE 'IsNetworkPortName|ParseNetworkPortName' session cli ui production desktop)"
for header in $(grep -rhoE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q[A-Za-z]*>' session | sed 's/.*<\(.*\)>/\1/' | sort -u); do
  [ -e "$2/QtCore/$header" ] || [ -e "$2/QtSerialPort/$header" ] || [ -e "$2/QtNetwork/$header" ] ||
    report "session/ includes a Qt header from outside Core, SerialPort and Network:" "$header"
done
for header in $(grep -rhoE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q[A-Za-z]*>' records | sed 's/.*<\(.*\)>/\1/' | sort -u); do
  [ -e "$2/QtCore/$header" ] || [ -e "$2/QtSql/$header" ] ||
    report "records/ includes a Qt header from outside Core and SQL:" "$header"
done
exit $status
