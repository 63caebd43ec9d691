#!/usr/bin/env bash
# Runs a Windows program under Wine for CTest, with Wine's own debug chatter off.
export WINEDEBUG=${WINEDEBUG:--all}
exec wine "$@"
