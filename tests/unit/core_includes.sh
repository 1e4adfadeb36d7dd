#!/bin/sh
# The core (link/, image/, engine/ and the keypad model) includes C++ standard
# headers alone: what it needs of the system goes through its host. A POSIX,
# Windows or Qt header would build on one system and break on another.
cd "$1" || exit 2
found=$(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<([^>]*\.h|Q[A-Za-z]*)>' \
  link/*.h link/*.cpp image/*.h image/*.cpp engine/*.h engine/*.cpp sim/keypad_model.h sim/keypad_model.cpp)
if [ -n "$found" ]; then
  echo "system or toolkit headers in the core:"
  echo "$found"
  exit 1
fi
